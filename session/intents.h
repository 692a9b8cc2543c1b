// The packets of the panels' intents (see ISessionActions in session/panels.h): each function encodes one
// intent and sends it through the link. The session controller speaks them for the panels; test doubles of
// ISessionActions use them too, so that a test sees the same bytes the program sends. And the other way: the
// chat line the message log shows, read from its packet.
#pragma once

#include <cstdint>
#include <optional>

#include "session/call_back.h"
#include "session/panels.h"

namespace intents {

void WatchUser(call_back& link, uint32_t user_id);
void AllowSpeech(call_back& link, uint32_t user_id, bool allow);
void SetOutputVolume(call_back& link, uint32_t volume);
bool SendChatLine(call_back& link, const OutgoingChatLine& line);

// A chat message (type 1002). Nothing for a payload shorter than its layout, or one whose length field is 0
// or claims more than the payload holds: shown in part, such a line would mislead (it is logged).
std::optional<IncomingChatLine> ReadChatLine(const uint8_t* data, size_t length);

} // namespace intents
