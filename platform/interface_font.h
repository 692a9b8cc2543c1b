// The interface's font. Chinese text in a Latin family is drawn from whatever font fontconfig sorts first for
// it, and under a locale without a language (C, POSIX) that is the Japanese cut of a CJK family: Chinese
// labels came out with Japanese glyph forms. The interface's font names the Chinese family that fontconfig
// chooses for Simplified Chinese (platform/font_warm_up.h): for the Chinese interface first, so that its
// words, Latin digits and names included, come from that one family, as the window's layout was drawn for;
// for the English interface after the usual family, for Chinese names only. Either way no text of the
// interface needs the fallback list sorted for it.
//
// Threads: UI thread, before the first window is made.
#pragma once

#include <QFont>
#include <QString>

// `base` with `chinese_family` first among its families (`chinese_first`) or last; `base` itself when the
// family is empty.
QFont interface_font(const QFont& base, const QString& chinese_family, bool chinese_first);

// Makes `interface_font` of the application's font the application's font.
void apply_interface_font(const QString& chinese_family, bool chinese_first);
