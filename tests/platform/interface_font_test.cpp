// The interface's font: which family Chinese and Latin text of a label is drawn from, in a process that sets
// its fonts up as the client does (the font list read ahead, then the interface's font made of the family
// fontconfig chooses for Chinese), whatever the locale; and a system without any Chinese font.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "platform/font_warm_up.h"
#include "platform/interface_font.h"
#include "temp_dir.h"

namespace {

// `work` in a child process that starts from here (no font used yet in this test's process); its answer.
std::string in_child(const std::function<std::string()>& work) {
    int out[2];
    if (pipe(out) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        const std::string answer = work();
        const char* p = answer.data();
        for (size_t left = answer.size(); left > 0;) {
            const ssize_t n = write(out[1], p, left);
            if (n <= 0)
                break;
            p += n;
            left -= size_t(n);
        }
        _exit(0);
    }
    close(out[1]);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return answer;
}

// The families the text is drawn from in `font`, character by character, joined where they follow one
// another: "family:text|family:text".
QString drawn_from(const QFont& font, const QString& text) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QStringList runs;
    QString last;
    for (int i = 0; i < text.size(); ++i) {
        const QList<QGlyphRun> glyphs = layout.glyphRuns(i, 1);
        const QString family = glyphs.isEmpty() ? QString("none") : glyphs.front().rawFont().familyName();
        if (runs.isEmpty() || family != last)
            runs.append(family + ":");
        runs.back() += text.at(i);
        last = family;
    }
    return runs.join("|");
}

// In a child process under a locale without a language (there, Chinese text in a Latin family came from the
// Japanese cut of a CJK family), sets the fonts up as the client does, then: the chosen family, the
// application's first family, the families of two labels' texts, and whether Noto Sans CJK SC is installed;
// "skip" without a Chinese font.
std::string interface_fonts(bool chinese_interface) {
    return in_child([chinese_interface] {
        setenv("LC_ALL", "C.UTF-8", 1);
        FontWarmUp fonts;
        fonts.WaitForConfiguration();
        const QString chinese = fonts.ChineseFamily();
        if (chinese.isEmpty() && QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
            return std::string("skip");
        apply_interface_font(chinese, chinese_interface);
        return (chinese + "\n" + QApplication::font().families().value(0) + "\n" +
                drawn_from(QApplication::font(), QString::fromUtf8("房间人数：3人")) + "\n" +
                drawn_from(QApplication::font(), QString::fromUtf8("用户ab")) + "\n" +
                (QFontDatabase::hasFamily("Noto Sans CJK SC") ? "noto" : "other"))
            .toStdString();
    });
}

QStringList lines(const std::string& answer) {
    return QString::fromStdString(answer).split('\n');
}

} // namespace

TEST(InterfaceFont, ChineseTextComesFromTheFamilyChosenForSimplifiedChineseWhateverTheLocale) {
    const std::string answer = interface_fonts(true);
    if (answer == "skip")
        GTEST_SKIP() << "no font with Chinese glyphs installed";
    const QStringList zh = lines(answer);
    ASSERT_EQ(zh.size(), 5) << answer;
    const QString chinese = zh[0];
    ASSERT_FALSE(chinese.isEmpty());
    if (zh[4] == "noto") {
        EXPECT_EQ(chinese, "Noto Sans CJK SC");
    }
    // The Chinese interface: the whole label, its digits and Latin letters too, from the one family.
    EXPECT_EQ(zh[1], chinese);
    EXPECT_EQ(zh[2], chinese + QString::fromUtf8(":房间人数：3人"));
    EXPECT_EQ(zh[3], chinese + QString::fromUtf8(":用户ab"));

    // The English interface keeps its Latin family for Latin text; Chinese names come from the same
    // Chinese family.
    const QStringList en = lines(interface_fonts(false));
    ASSERT_EQ(en.size(), 5) << en.join("\n").toStdString();
    EXPECT_EQ(en[0], chinese);
    EXPECT_NE(en[1], chinese);
    EXPECT_TRUE(en[3].contains(chinese + QString::fromUtf8(":用户"))) << en[3].toStdString();
    EXPECT_FALSE(en[3].contains(chinese + ":ab")) << en[3].toStdString();
}

TEST(InterfaceFont, WithoutAnyChineseFontTheUsualFontStays) {
    // fontconfig with the Latin fonts only.
    TempDir dir;
    const std::string conf = dir.file("fonts.conf");
    std::ofstream(conf)
        << "<?xml version=\"1.0\"?>\n<fontconfig>\n<dir>/usr/share/fonts/truetype/dejavu</dir>\n"
        << "<cachedir>" << dir.file("cache") << "</cachedir>\n</fontconfig>\n";
    setenv("FONTCONFIG_FILE", conf.c_str(), 1);
    const std::string answer = in_child([] {
        const QFont usual = QApplication::font();
        FontWarmUp fonts;
        fonts.WaitForConfiguration();
        const QString chinese = fonts.ChineseFamily();
        apply_interface_font(chinese, true);
        return ("[" + chinese + "] " + (QApplication::font() == usual ? "same" : "changed") + " " +
                QString::number(QFontDatabase::families().size()))
            .toStdString();
    });
    unsetenv("FONTCONFIG_FILE");
    if (answer.size() >= 2 && answer.compare(answer.size() - 2, 2, " 0") == 0)
        GTEST_SKIP() << "no Latin fonts in /usr/share/fonts/truetype/dejavu";
    EXPECT_EQ(answer.substr(0, answer.rfind(' ')), "[] same");
}

TEST(InterfaceFont, TheChineseFamilyGoesFirstOrLastOnce) {
    QFont base("Some Sans", 9);
    EXPECT_EQ(interface_font(base, "", true), base);
    const QFont first = interface_font(base, "Chinese Sans", true);
    EXPECT_EQ(first.families(), (QStringList{"Chinese Sans", "Some Sans"}));
    EXPECT_EQ(first.pointSize(), 9);
    EXPECT_EQ(interface_font(base, "Chinese Sans", false).families(),
              (QStringList{"Some Sans", "Chinese Sans"}));
    base.setFamilies({"Chinese Sans", "Some Sans"});
    EXPECT_EQ(interface_font(base, "Chinese Sans", false).families(),
              (QStringList{"Some Sans", "Chinese Sans"}));
}
