// The packets of the panels' intents (see ISessionActions in session/panels.h): each function encodes one
// intent and sends it through the link. The session controller speaks them for the panels; test doubles of
// ISessionActions use them too, so that a test sees the same bytes the program sends.
#pragma once

#include <cstdint>

#include "session/call_back.h"
#include "session/panels.h"

namespace intents {

void WatchUser(call_back& link, uint32_t user_id);
void AllowSpeech(call_back& link, uint32_t user_id, bool allow);
void SetOutputVolume(call_back& link, uint32_t volume);
bool SendChatLine(call_back& link, const OutgoingChatLine& line);

} // namespace intents
