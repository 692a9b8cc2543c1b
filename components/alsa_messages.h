// ALSA's own messages. Left alone, ALSA writes every failed look-up to standard error: on a machine without a
// sound card or sound server, a dozen lines for each device the program tries, a hundred and more for a
// session. Routed here, the first message of the process becomes one line for the program's log (the cause
// is in it, as ALSA says it), and the rest are counted but not written. With QUORIN_ALSA_MESSAGES=all in the
// environment ALSA keeps writing everything (for finding out what a sound setup lacks).
// Set up once on the program's first thread, before anything opens a sound device; ALSA then calls the
// handler on the thread of the call that failed, so `line` may run on any thread (only once).
#pragma once

#include <cstdint>

// `line`: where the one line goes (the program's log). Without effect when called again.
void route_alsa_messages(void (*line)(const char* text));
// How many of ALSA's messages have come since they were routed.
uint64_t alsa_messages_seen();
