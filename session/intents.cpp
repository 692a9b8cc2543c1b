// The packets of the panels' intents (see intents.h).
#include "session/intents.h"

#include "config/logging.h"
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

std::optional<IncomingChatLine> ReadChatLine(const uint8_t* data, size_t length) {
    auto line = proto::ChatLine::decode(data, length);
    if (!line)
        return std::nullopt;
    if (line->declared_length == 0 || proto::ChatLine::kHeader + size_t(line->declared_length) > length) {
        LOG_MAIN("dropped chat line: text length %u, payload %zu bytes\n", unsigned(line->declared_length),
                 length);
        return std::nullopt;
    }
    IncomingChatLine shown;
    shown.sender = line->sender;
    shown.target = line->target;
    shown.private_flag = line->private_flag;
    shown.font_face = std::move(line->font_face);
    shown.effects = line->effects;
    shown.height = line->height;
    shown.colour = line->colour;
    shown.text = std::move(line->text);
    return shown;
}

} // namespace intents
