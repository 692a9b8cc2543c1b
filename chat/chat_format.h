// The font of a chat line between its wire form and the rich text's character format.
#pragma once

#include <QTextCharFormat>

#include "chat/ChatLogEntry.h"

ChatFont chat_font_of(const QTextCharFormat& format);
// Face, height, colour, and only bold, italic and underline of the effects.
QTextCharFormat format_of(const ChatFont& font);
// 10 points, plain, in `colour`: 宋体 for a Chinese system locale, a sans serif font otherwise (each with a
// CJK font behind it, since neither need be installed).
QTextCharFormat locale_default_format(const QColor& colour);
// `format` with only those of its font families that are installed, in their order (as it is when none is):
// what the screen draws with. A missing family first in the list costs a search through every font each time
// a new size or style of it is drawn, and ends in the next family of the list all the same. The families a
// chat line's font names on the wire are the format's own, not these. UI thread.
QTextCharFormat installed_families_only(const QTextCharFormat& format);
// A colour 0x00BBGGRR.
QColor colour_of(uint32_t colorref);
