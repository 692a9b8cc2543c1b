// The font list read ahead is the one the client would have read itself: the same configuration, so the same
// families and the same font for the interface's default family and for Chinese text.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

#include <string>

#include "platform/font_warm_up.h"

namespace {

// What a process sees of the fonts: the families, and the family that a label's font and Chinese text in it
// come from.
std::string fonts_seen() {
    const QFont label("Sans Serif", 9);
    QFont chinese = label;
    chinese.setFamilies({"Sans Serif", "Noto Sans CJK SC"});
    const QString text = QString::fromUtf8("房间人数");
    return (QFontDatabase::families().join(",") + "|" + QFontInfo(label).family() + "|" +
            QString::number(QFontMetrics(chinese).horizontalAdvance(text)))
        .toStdString();
}

// `fonts_seen` in a child process that starts from here (no font used yet in this test's process), with or
// without the warm-up.
std::string fonts_seen_in_child(bool warm_up) {
    int out[2];
    if (pipe(out) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        std::string seen;
        if (warm_up) {
            FontWarmUp fonts;
            fonts.WaitForConfiguration();
            seen = fonts_seen();
        } else {
            seen = fonts_seen();
        }
        const char* p = seen.data();
        for (size_t left = seen.size(); left > 0;) {
            const ssize_t n = write(out[1], p, left);
            if (n <= 0)
                break;
            p += n;
            left -= size_t(n);
        }
        _exit(0);
    }
    close(out[1]);
    std::string seen;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        seen.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return seen;
}

} // namespace

TEST(FontWarmUp, ReadsTheSameFontsAsTheClientWouldItself) {
    const std::string own = fonts_seen_in_child(false);
    const std::string ahead = fonts_seen_in_child(true);
    EXPECT_NE(own.find(','), std::string::npos) << "some fonts: " << own;
    EXPECT_EQ(ahead, own);
}
