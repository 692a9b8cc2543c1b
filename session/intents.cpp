// The packets of the panels' intents (see intents.h).
#include "session/intents.h"

#include "wire/protocol.h"

namespace intents {

void WatchUser(call_back& link, uint32_t user_id) {
    link.Send(pkt::kWatchVideo, proto::WatchVideo{user_id, 1}.encode());
}

void AllowSpeech(call_back& link, uint32_t user_id, bool allow) {
    link.Send(pkt::kSpeakControl, proto::SpeakControl{user_id, uint16_t(allow ? 1 : 0)}.encode());
}

void SetOutputVolume(call_back& link, uint32_t volume) {
    link.Send(pkt::kOutputVolume, proto::OutputVolume{volume}.encode());
}

bool SendChatLine(call_back& link, const OutgoingChatLine& line) {
    proto::ChatLine packet;
    packet.target = line.target;
    packet.private_flag = line.private_line ? 1 : 0;
    packet.font_face = line.font_face;
    packet.effects = line.effects;
    packet.height = line.height;
    packet.colour = line.colour;
    packet.text = line.text;
    return link.Send(pkt::kChat, packet.encode());
}

} // namespace intents
