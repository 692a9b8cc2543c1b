// The font of a chat line between its wire form and the rich text's character format.
#pragma once

#include <QTextCharFormat>

#include "chat/ChatLogEntry.h"

ChatFont chat_font_of(const QTextCharFormat& format);
// Face, height, colour, and only bold, italic and underline of the effects.
QTextCharFormat format_of(const ChatFont& font);
// A colour 0x00BBGGRR.
QColor colour_of(uint32_t colorref);
