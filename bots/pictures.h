// Pictures of the demo lesson, drawn with Qt's painter (a QGuiApplication must exist, offscreen will do):
// the host's slide for its camera and the users' pictures for the web host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bots {

// The slide, packed 4:2:2 at 320 x 240: the course, the clock and the frame number on a blackboard green.
void draw_slide(uint8_t* yuyv, const std::string& course_utf8, uint32_t frame);

// A user's picture as PNG: the first character of the nickname in white on a colour chosen by the user id.
std::vector<uint8_t> user_picture_png(const std::string& nickname_utf8, uint32_t user, int size);

} // namespace bots
