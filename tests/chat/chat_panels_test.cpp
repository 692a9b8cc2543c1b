// The chat codes, the chat input, the message log, the rich text and the face picker, driven as a user
// would (keys, clicks) against a send interface double that keeps what was sent.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTimer>
#include <QToolButton>

#include <thread>

#include "chat/CChatDlg.h"
#include "chat/CFaceDlg.h"
#include "chat/CMsgDlg.h"
#include "chat/ChatFontDialog.h"
#include "chat/ChatLogEntry.h"
#include "chat/chat_codes.h"
#include "chat/chat_format.h"
#include "config/client_config.h"
#include "controls/CPictureEx.h"
#include "eventually.h"
#include "platform/controls.h"
#include "platform/text.h"
#include "session/roster.h"
#include "session_doubles.h"
#include "skin/ClxStatic.h"
#include "wire/packet_types.h"

namespace {

struct SendDouble : call_back {
    Roster roster;
    bool connected = true;
    bool send_ok = true;
    bool muted = false;
    uint32_t rights = pkt::kRightChat;
    std::vector<std::pair<uint16_t, proto::Bytes>> sent;
    std::vector<std::string> notices; // UTF-8
    std::vector<ChatLogEntry> echoes;
    IMessageLog* log = nullptr;

    int request(int type, void* data, int) override {
        switch (type) {
        case kReqConnected:
            return connected;
        case kReqHasRights:
            return (rights & *static_cast<uint32_t*>(data)) != 0;
        case kReqNoticeLine:
            notices.push_back(gbk_to_utf8(static_cast<const char*>(data)));
            return 1;
        case kReqFindUser: {
            auto* r = static_cast<FindUserRequest*>(data);
            r->result = roster.FindById(r->user_id);
            return 1;
        }
        case kReqFindUserByNickname: {
            auto* r = static_cast<FindUserByNicknameRequest*>(data);
            r->result = roster.FindByName(r->nickname);
            return 1;
        }
        case kReqDisplayName: {
            auto* r = static_cast<DisplayNameRequest*>(data);
            *r->name = roster.DisplayName(r->user_id);
            return r->name->empty() ? 0 : 1;
        }
        case kReqOutputMuted:
            return muted;
        case kReqChatLine:
            echoes.push_back(*static_cast<const ChatLogEntry*>(data));
            if (log)
                log->AppendChatLine(static_cast<const ChatLogEntry*>(data));
            return 1;
        default:
            return 1;
        }
    }
    bool Send(uint16_t type, const proto::Bytes& payload) override {
        if (!send_ok)
            return false;
        sent.push_back({type, payload});
        return true;
    }
    proto::ChatLine last() const {
        return *proto::ChatLine::decode(sent.back().second.data(), sent.back().second.size());
    }
    void add(uint32_t id, const char* nick_utf8) {
        proto::UserBlock b;
        b.user_id = id;
        b.nickname = utf8_to_gbk(nick_utf8);
        roster.Add(b);
    }
};

struct SoundDouble : ISound {
    std::vector<std::string> played;
    void PlayAsync(const std::string& path) override { played.push_back(path.substr(path.rfind('/') + 1)); }
};

std::string bytes(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

// Answers the chat's font dialog once it is open: a font, a click on one of its colours, OK.
void answer_font_dialog(const QFont& font, int swatch) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, font, swatch] {
        auto* dialog = dynamic_cast<ChatFontDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->stop();
        poll->deleteLater();
        dialog->font_box()->setCurrentFont(font);
        QTest::mouseClick(dialog->swatch(swatch), Qt::LeftButton);
        QTest::mouseClick(dialog->buttons()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    poll->start(10);
}

class ChatInput : public ::testing::Test {
protected:
    ChatInput() : chat(&cb, &actions, QUORIN_INSTALL_DIR, nullptr) {
        chat.resize(408, 190);
        chat.show();
        chat.input()->setFocus();
        QApplication::processEvents();
    }
    void type(const QString& text) { QTest::keyClicks(chat.input(), text); }
    SendDouble cb;
    RecordingActions actions{&cb};
    CChatDlg chat;
};

} // namespace

TEST(ChatCodes, EncodeAndDecode) {
    using chat::Piece;
    const auto x7y = chat::Encode({{Piece::Text, "x", 0}, {Piece::Face, {}, 7}, {Piece::Text, "y", 0}});
    EXPECT_EQ(bytes(x7y), std::string("x\x01\x00\x07\x00\x00\x00y\x00", 9));

    const struct {
        std::string encoded;
        std::vector<Piece> pieces;
    } rows[] = {
        {std::string("\x01\x00\x03\x00\x00\x00\x01\x00\x59\x00\x00\x00\x00", 13),
         {{Piece::Face, {}, 3}, {Piece::Face, {}, 89}}},
        {std::string("ab\x01\x00\x07\x00\x00", 7), {{Piece::Text, "ab\x01\x07", 0}}}, // a code cut at the end
        {std::string("\x01\x00\x5A\x00\x00\x00", 6), {{Piece::UnknownFace, {}, 90}}},
        {std::string("\x01\x00\xFF\xFF\xFF\xFF", 6), {{Piece::UnknownFace, {}, -1}}},
        {std::string("\xD5\xC5\r\n\x00", 5), {{Piece::Text, "\xD5\xC5\r\n", 0}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.encoded.size());
        EXPECT_EQ(chat::Decode(reinterpret_cast<const uint8_t*>(row.encoded.data()), row.encoded.size()),
                  row.pieces);
    }
}

TEST(ThreadRuleDeathTest, APanelCalledFromAnotherThreadFailsTheTest) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SendDouble cb;
    RecordingActions actions{&cb};
    CChatDlg chat(&cb, &actions, QUORIN_INSTALL_DIR, nullptr);
    chat.AddRecipient(2, "a"); // the UI thread, which the test main claimed
    EXPECT_EQ(chat.recipients()->count(), 2);
    EXPECT_DEATH(std::thread([&] { chat.AddRecipient(3, "b"); }).join(), "off the UI thread");
}

TEST_F(ChatInput, PlainLineIsSentEchoedAndTheInputEmptied) {
    type("ab");
    QTest::keyClick(chat.input(), Qt::Key_Return);
    ASSERT_EQ(cb.sent.size(), 1u);
    EXPECT_EQ(cb.sent[0].first, pkt::kChat);
    EXPECT_EQ(cb.sent[0].second.size(), 72u) << "69 + n with n = 3";
    const proto::ChatLine line = cb.last();
    EXPECT_EQ(line.text, "ab");
    EXPECT_EQ(line.declared_length, 3u);
    EXPECT_EQ(line.target, pkt::kEveryone);
    EXPECT_EQ(line.private_flag, 0);
    EXPECT_EQ(line.height, 200) << "10 points";
    ASSERT_EQ(cb.echoes.size(), 1u);
    EXPECT_NE(gbk_to_utf8(cb.echoes[0].header).find("<我>对<大家>说："), std::string::npos);
    EXPECT_EQ(cb.echoes[0].header_colour, 0xFF0000u);
    EXPECT_TRUE(chat.input()->toPlainText().isEmpty());
}

// A family that is not installed stays the line's font on the wire, but the screen draws with the next
// installed family of the list without searching every font for the missing one.
TEST_F(ChatInput, AMissingFamilyIsSentButDrawnWithTheNextInstalledOne) {
    QTextCharFormat format;
    format.setFontFamilies(QStringList{"No Such Face 7", "Noto Sans CJK SC"});
    format.setFontPointSize(12);
    chat.input()->SetDefaultFormat(format);
    type("ab");
    EXPECT_EQ(chat.input()->textCursor().charFormat().fontFamilies().toStringList(),
              QStringList{"Noto Sans CJK SC"});
    EXPECT_EQ(chat.input()->document()->defaultFont().families(), QStringList{"Noto Sans CJK SC"});
    QTest::keyClick(chat.input(), Qt::Key_Return);
    ASSERT_EQ(cb.sent.size(), 1u);
    EXPECT_EQ(cb.last().font_face, "No Such Face 7");
    EXPECT_EQ(cb.last().height, 240);
    // Typing on after the send: still the installed family only.
    type("c");
    EXPECT_EQ(chat.input()->textCursor().charFormat().fontFamilies().toStringList(),
              QStringList{"Noto Sans CJK SC"});

    // With no installed family at all, the list is left as it is (the screen's own search decides).
    QTextCharFormat none;
    none.setFontFamilies(QStringList{"No Such Face 7", "No Such Face 8"});
    EXPECT_EQ(installed_families_only(none).fontFamilies().toStringList(),
              (QStringList{"No Such Face 7", "No Such Face 8"}));
    QTextCharFormat order;
    order.setFontFamilies(QStringList{"Noto Sans CJK SC", "No Such Face 7", "Noto Sans CJK JP"});
    EXPECT_EQ(installed_families_only(order).fontFamilies().toStringList(),
              (QStringList{"Noto Sans CJK SC", "Noto Sans CJK JP"}));
}

TEST_F(ChatInput, TheChosenFontAndColourStayAfterAFaceAndAfterSending) {
    QFont bold14(QString::fromUtf8("Noto Sans CJK SC"));
    bold14.setPointSize(14);
    bold14.setBold(true);
    answer_font_dialog(bold14, 9); // red
    QTest::mouseClick(get_dlg_item(&chat, CChatDlg::kFontButton), Qt::LeftButton);
    chat.input()->setFocus();
    type("a");
    ASSERT_TRUE(chat.input()->InsertFace(3, true));
    type("b");
    QTest::keyClick(chat.input(), Qt::Key_Return);
    type("c");
    QTest::keyClick(chat.input(), Qt::Key_Return);
    ASSERT_EQ(cb.sent.size(), 2u);
    for (const auto& [type, payload] : cb.sent) {
        const auto line = proto::ChatLine::decode(payload.data(), payload.size());
        EXPECT_EQ(line->effects, 1) << "bold";
        EXPECT_EQ(line->height, 280) << "14 points";
        EXPECT_EQ(line->colour, 0x0000FFu) << "red";
        EXPECT_EQ(line->font_face, "Noto Sans CJK SC");
    }
    EXPECT_EQ(cb.echoes.back().font.colour, 0x0000FFu) << "the echo shows the same";
    // What is typed after a face is typed in the chosen font, not in the picture's format.
    type("d");
    ASSERT_TRUE(chat.input()->InsertFace(4, true));
    type("e");
    EXPECT_EQ(chat.input()->textCursor().charFormat().fontPointSize(), 14);
    EXPECT_EQ(chat.input()->textCursor().charFormat().foreground().color(), QColor(Qt::red));
}

// Keys typed in the font part of the dialog answer the whole dialog: Escape cancels it (it used to hide only
// the font lists, leaving an empty dialog behind), Return takes the choice.
TEST(ChatFontDialogKeys, EscapeCancelsAndReturnTakesTheWholeDialog) {
    QTextCharFormat start;
    start.setFont(QFont(QString::fromUtf8("Noto Sans CJK SC"), 12));
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        ChatFontDialog dialog(start, nullptr);
        dialog.show();
        QApplication::processEvents();
        auto* family = dialog.font_box()->findChild<QLineEdit*>();
        ASSERT_NE(family, nullptr);
        family->setFocus();
        QTest::keyClick(family, key);
        QApplication::processEvents();
        EXPECT_FALSE(dialog.isVisible()) << "key " << key;
        EXPECT_EQ(dialog.result(), key == Qt::Key_Escape ? QDialog::Rejected : QDialog::Accepted)
            << "key " << key;
    }
}

TEST_F(ChatInput, AFaceInsertedAgainAfterASendIsDrawn) {
    // Every picture in the input must have its image in the document, or it shows blank.
    auto pictures_drawable = [this] {
        int pictures = 0, drawable = 0;
        QTextDocument* doc = chat.input()->document();
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().isImageFormat()) {
                    ++pictures;
                    const QVariant image =
                        doc->resource(QTextDocument::ImageResource,
                                      QUrl(it.fragment().charFormat().toImageFormat().name()));
                    drawable += image.isValid() && !image.value<QImage>().isNull();
                }
        return std::make_pair(pictures, drawable);
    };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        chat.ToggleFacePopup();
        QTest::mouseClick(chat.face_popup()->picture(5), Qt::LeftButton);
        eventually_with_events(
            [&] { return chat.input()->ObjectCount() == 1 && !chat.face_popup()->isVisible(); });
        EXPECT_EQ(pictures_drawable(), std::make_pair(1, 1));
        QTest::keyClick(chat.input(), Qt::Key_Return);
        EXPECT_EQ(cb.sent.size(), size_t(round + 1));
    }
}

TEST_F(ChatInput, FaceBetweenLettersIsSixBytes) {
    type("x");
    ASSERT_TRUE(chat.input()->InsertFace(7, true));
    type("y");
    EXPECT_EQ(bytes(chat.EncodeInput()), std::string("x\x01\x00\x07\x00\x00\x00y\x00", 9));
    EXPECT_EQ(chat.input()->ObjectCount(), 1);
}

TEST_F(ChatInput, CtrlReturnBreaksTheLineEscapeDoesNothingReturnSends) {
    type("a");
    QTest::keyClick(chat.input(), Qt::Key_Return, Qt::ControlModifier);
    type("b");
    QTest::keyClick(chat.input(), Qt::Key_Escape);
    EXPECT_TRUE(cb.sent.empty());
    EXPECT_EQ(bytes(chat.EncodeInput()), std::string("a\r\nb\x00", 5));
    QTest::keyClick(chat.input(), Qt::Key_Return);
    ASSERT_EQ(cb.sent.size(), 1u);
    EXPECT_EQ(cb.last().text, "a\r\nb");
    // Return while the recipient list has the focus sends nothing.
    type("c");
    chat.recipients()->setFocus();
    QTest::keyClick(chat.recipients(), Qt::Key_Return);
    EXPECT_EQ(cb.sent.size(), 1u);
}

TEST_F(ChatInput, LengthLimitAndRefusals) {
    const std::string limit(4095, 'a');
    chat.input()->setPlainText(QString::fromStdString(limit));
    chat.SendChatLine();
    EXPECT_EQ(cb.sent.size(), 1u) << "4096 encoded bytes are sent";
    chat.input()->setPlainText(QString::fromStdString(limit + "a"));
    chat.SendChatLine();
    EXPECT_EQ(cb.sent.size(), 1u);
    EXPECT_EQ(cb.notices.back(), "输入消息太长了,无法发送!");
    EXPECT_FALSE(chat.input()->toPlainText().isEmpty()) << "the text stays";

    chat.input()->setPlainText("hi");
    cb.rights = 0;
    chat.SendChatLine();
    cb.rights = pkt::kRightChat;
    cb.connected = false;
    chat.SendChatLine();
    cb.connected = true;
    cb.send_ok = false;
    chat.SendChatLine();
    EXPECT_EQ(cb.sent.size(), 1u);
    EXPECT_EQ(cb.echoes.size(), 1u) << "no echo for a line that did not go out";
    EXPECT_EQ(chat.input()->toPlainText(), "hi");
}

TEST_F(ChatInput, RecipientsPublicPrivateAndLeaving) {
    cb.add(30, "小红");
    cb.add(31, "小刚");
    chat.AddRecipient(30, utf8_to_gbk("小红"));
    chat.AddRecipient(31, utf8_to_gbk("小刚"));
    const struct {
        int entry;
        bool box;
        uint32_t target;
        uint16_t flag;
        const char* echo;
    } rows[] = {
        {0, true, pkt::kEveryone, 0, "<大家>"}, {1, false, 30, 0, "<小红>"}, {2, true, 31, 1, "<小刚>"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entry);
        chat.recipients()->setCurrentIndex(row.entry);
        chat.private_box()->setChecked(row.box);
        chat.input()->setPlainText("x");
        chat.SendChatLine();
        EXPECT_EQ(cb.last().target, row.target);
        EXPECT_EQ(cb.last().private_flag, row.flag);
        EXPECT_NE(gbk_to_utf8(cb.echoes.back().header).find(row.echo), std::string::npos);
    }
    // The selected recipient leaves: announced once, and the next line goes to everyone, not to another user.
    chat.OnUserLeft(31);
    chat.OnUserLeft(99);
    EXPECT_EQ(chat.recipients()->count(), 2);
    EXPECT_EQ(chat.recipients()->currentIndex(), 0);
    EXPECT_EQ(std::count(cb.notices.begin(), cb.notices.end(), "小刚已离开房间"), 1);
    EXPECT_EQ(cb.notices.back(), "接收人已离开，消息将发给所有人");
    chat.input()->setPlainText("x");
    chat.SendChatLine();
    EXPECT_EQ(cb.last().target, pkt::kEveryone);
    EXPECT_EQ(cb.last().private_flag, 0);
}

TEST_F(ChatInput, RecipientsGoByUserIdNotByName) {
    cb.add(40, "Tom");
    cb.add(41, "tom");
    cb.add(42, "小红");
    cb.add(43, "小红");
    for (uint32_t id : {40u, 41u, 42u, 43u})
        chat.AddRecipient(id, cb.roster.FindById(id)->block.nickname);
    // A person can tell the two students of one name apart: each entry carries its user id.
    EXPECT_EQ(chat.recipients()->itemText(1), "Tom");
    EXPECT_EQ(chat.recipients()->itemText(2), "tom");
    EXPECT_EQ(chat.recipients()->itemText(3), QString::fromUtf8("小红 (42)"));
    EXPECT_EQ(chat.recipients()->itemText(4), QString::fromUtf8("小红 (43)"));
    // The second of two students with one name gets the line, and the echo says which one.
    chat.recipients()->setCurrentIndex(4);
    chat.private_box()->setChecked(true);
    type("hi");
    QTest::keyClick(chat.input(), Qt::Key_Return);
    ASSERT_EQ(cb.sent.size(), 1u);
    EXPECT_EQ(cb.last().target, 43u);
    EXPECT_EQ(cb.last().private_flag, 1);
    ASSERT_EQ(cb.echoes.size(), 1u);
    EXPECT_NE(gbk_to_utf8(cb.echoes.back().header).find("<小红 (43)>"), std::string::npos)
        << gbk_to_utf8(cb.echoes.back().header);

    // "tom" leaves: his entry goes, "Tom" stays.
    chat.OnUserLeft(41);
    ASSERT_EQ(chat.recipients()->count(), 4);
    EXPECT_EQ(chat.recipients()->itemText(1), "Tom");
    EXPECT_EQ(cb.notices.back(), "tom已离开房间");

    // A recipient whose record is gone (the leave was missed): nothing goes out, to nobody else either.
    chat.recipients()->setCurrentIndex(3);
    cb.roster.Remove(43);
    type("secret");
    QTest::keyClick(chat.input(), Qt::Key_Return);
    EXPECT_EQ(cb.sent.size(), 1u) << "no line to everyone with the private flag";
    EXPECT_EQ(cb.echoes.size(), 1u);
    EXPECT_EQ(chat.input()->toPlainText(), "secret") << "the text stays";
    EXPECT_EQ(chat.recipients()->currentIndex(), 0);
    EXPECT_EQ(chat.recipients()->count(), 3);
    EXPECT_EQ(cb.notices.back(), "接收人已离开，消息将发给所有人");
    EXPECT_EQ(chat.recipients()->itemText(2), QString::fromUtf8("小红")) << "alone with the name again";
}

TEST_F(ChatInput, FacePickerGridPlacementAndPicking) {
    chat.ToggleFacePopup();
    CFaceDlg* popup = chat.face_popup();
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(popup->isVisible());
    ASSERT_EQ(popup->face_count(), 90);
    const std::pair<int, QPoint> places[] = {{0, {2, 2}}, {14, {422, 2}}, {15, {2, 32}}, {89, {422, 152}}};
    for (auto [i, at] : places)
        EXPECT_EQ(popup->picture(i)->geometry(), QRect(at, QSize(26, 26))) << i;
    EXPECT_EQ(popup->size(), QSize(451, 181));
    EXPECT_EQ(popup->picture(12)->toolTip(), QString::fromUtf8("调皮"));
    EXPECT_EQ(popup->picture(13)->toolTip(), QString::fromUtf8("呲牙"));
    EXPECT_EQ(popup->picture(43)->toolTip(), QString::fromUtf8("糗大了"));
    EXPECT_EQ(popup->picture(58)->toolTip(), QString::fromUtf8("篮球"));
    EXPECT_TRUE(popup->picture(0)->timer_running()) << "faces animate while the picker is open";

    QTest::mouseClick(popup->picture(12), Qt::LeftButton);
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_FALSE(popup->isVisible());
    EXPECT_FALSE(popup->picture(0)->timer_running()) << "and rest while it is closed";
    EXPECT_EQ(bytes(chat.EncodeInput()), std::string("\x01\x00\x0C\x00\x00\x00\x00", 7));

    chat.ToggleFacePopup();
    QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(1, 1)); // a grid line
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(chat.input()->ObjectCount(), 1) << "nothing more embedded";
}

namespace {

class MessageLog : public ::testing::Test {
protected:
    MessageLog() : log(&cb, &sound, QUORIN_INSTALL_DIR, nullptr) {
        log.resize(612, 330);
        log.show();
        cb.add(30, "小红");
        cb.add(12, "小明");
    }
    proto::Bytes line(const std::string& encoded_without_zero, uint16_t flag = 0,
                      uint32_t target = pkt::kEveryone) {
        proto::ChatLine l;
        l.sender = 30;
        l.target = target;
        l.private_flag = flag;
        l.text = encoded_without_zero;
        l.font_face = "Sans";
        l.effects = 0xFF;
        l.colour = 0x0000FF;
        return l.encode();
    }
    QString text() const { return log.log()->toPlainText(); }
    SendDouble cb;
    SoundDouble sound;
    CMsgDlg log;
};

} // namespace

TEST_F(MessageLog, ReceivedLinesNameSenderAndRecipientAndPlayTheSound) {
    auto a = line("hello");
    deliver_chat(log, a);
    auto b = line("psst", 1, 12);
    deliver_chat(log, b);
    auto c = line("to you", 0, 12);
    deliver_chat(log, c);
    EXPECT_NE(text().indexOf(QString::fromUtf8("<小红>对<大家>说：")), -1);
    EXPECT_NE(text().indexOf(QString::fromUtf8("<小红>对<你>说：")), -1)
        << "private names 你 whatever the target";
    EXPECT_NE(text().indexOf(QString::fromUtf8("<小红>对<小明>说：")), -1);
    EXPECT_EQ(sound.played, (std::vector<std::string>(3, "message.wav")));
    // A second 小红 comes: which one wrote is said by the user id.
    cb.add(31, "小红");
    deliver_chat(log, a);
    EXPECT_NE(text().indexOf(QString::fromUtf8("<小红 (30)>对<大家>说：")), -1);
    sound.played.resize(3);
    cb.muted = true;
    deliver_chat(log, a);
    EXPECT_EQ(sound.played.size(), 3u) << "no sound while the output is muted";
    // Only bold, italic and underline of the effects; the sender's colour.
    QTextCursor cur = log.log()->document()->find("hello");
    ASSERT_FALSE(cur.isNull());
    EXPECT_TRUE(cur.charFormat().fontUnderline());
    EXPECT_FALSE(cur.charFormat().fontStrikeOut());
    EXPECT_EQ(cur.charFormat().foreground().color(), QColor(255, 0, 0));
}

TEST_F(MessageLog, FacesComeBackAsAnimatedPicturesAndUnknownOnesAsText) {
    auto two = line(std::string("\x01\x00\x02\x00\x00\x00\x01\x00\x0D\x00\x00\x00", 12));
    deliver_chat(log, two);
    EXPECT_EQ(log.log()->ObjectCount(), 2);
    EXPECT_TRUE(log.log()->animating());
    auto odd = line(std::string("a\x01\x00\xC8\x00\x00\x00"
                                "b",
                                8));
    deliver_chat(log, odd);
    EXPECT_EQ(log.log()->ObjectCount(), 2) << "index 200 is no face: never turned into a file name";
    EXPECT_NE(text().indexOf(QString::fromUtf8("a[表情200]b")), -1);
    // A face at the very end still ends its line.
    EXPECT_TRUE(text().endsWith("\n") || log.log()->document()->lastBlock().text().isEmpty());
}

TEST_F(MessageLog, NetworkTextIsTextAndBrokenLengthsAreDropped) {
    auto markup = line("<b>bold</b> <img src=x> see https://example.org/a?b=1");
    deliver_chat(log, markup);
    EXPECT_NE(text().indexOf("<b>bold</b> <img src=x>"), -1) << "shown as typed, not read as markup";
    EXPECT_EQ(log.log()->ObjectCount(), 0);
    QTextCursor link = log.log()->document()->find("https://example.org/a?b=1");
    ASSERT_FALSE(link.isNull());
    EXPECT_TRUE(link.charFormat().isAnchor());
    EXPECT_EQ(link.charFormat().anchorHref(), "https://example.org/a?b=1");

    const QString before = text();
    auto overrun = line("hello");
    overrun[64] = 0xFF; // a length far past the payload
    overrun[65] = 0x7F;
    deliver_chat(log, overrun);
    EXPECT_EQ(text(), before) << "dropped";
    EXPECT_EQ(overrun[overrun.size() - 1], 0) << "the received bytes are never written";
}

TEST_F(MessageLog, NoticeDebugAndSystemLines) {
    log.AddNoticeLine(utf8_to_gbk("登录成功！"));
    EXPECT_TRUE(
        log.log()->document()->lastBlock().previous().text().endsWith(QString::fromUtf8("：登录成功！")));
    log.AddDebugLine("hidden");
    EXPECT_EQ(text().indexOf("hidden"), -1);
    log.detail_switch()->setChecked(true);
    EXPECT_TRUE(log.DetailOn());
    log.AddDebugLine("shown");
    EXPECT_NE(text().indexOf("shown"), -1);
    log.AddNoticeLine(std::string(400, 'n'));
    EXPECT_EQ(text().count('n'), 259 + 1) << "cut at 259 bytes (one more n is in 'shown')";
}

// A log that shows its newest line keeps showing it when it gets smaller (the window restored from
// maximised).
TEST_F(MessageLog, TheNewestLineStaysInSightWhenTheLogShrinks) {
    log.resize(600, 700);
    log.show();
    for (int i = 0; i < 60; ++i)
        log.AddNoticeLine("line " + std::to_string(i));
    QScrollBar* bar = log.log()->verticalScrollBar();
    ASSERT_TRUE(eventually([&] {
        QCoreApplication::processEvents();
        return bar->maximum() > 0 && bar->value() == bar->maximum();
    }));
    const int before = bar->maximum();
    log.resize(400, 200);
    EXPECT_TRUE(eventually([&] {
        QCoreApplication::processEvents();
        return bar->maximum() > before && bar->value() == bar->maximum();
    })) << bar->value()
        << " of " << bar->maximum();

    // One scrolled up to read stays where it is.
    bar->setValue(bar->maximum() / 2);
    const int reading = bar->value();
    log.resize(420, 260);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_LT(bar->value(), bar->maximum());
    EXPECT_NEAR(bar->value(), reading, reading / 2);
}

TEST_F(MessageLog, ContextMenuRulesAndFaceTimerOnlyWhileShown) {
    CRichEditCtrlEx* edit = log.log();
    auto entries = edit->MenuEntries();
    ASSERT_EQ(entries.size(), 8u) << "seven commands and two separators without the font entry";
    auto enabled = [&](int id) {
        for (auto [e, on] : edit->MenuEntries())
            if (e == id)
                return on;
        return false;
    };
    log.AddNoticeLine("x");
    EXPECT_FALSE(enabled(CRichEditCtrlEx::kUndo));
    EXPECT_FALSE(enabled(CRichEditCtrlEx::kCut));
    EXPECT_FALSE(enabled(CRichEditCtrlEx::kPaste));
    EXPECT_FALSE(enabled(CRichEditCtrlEx::kCopy));
    EXPECT_TRUE(enabled(CRichEditCtrlEx::kClear)) << "read-only log: clear all";
    edit->selectAll();
    EXPECT_TRUE(enabled(CRichEditCtrlEx::kCopy));

    auto face = line(std::string("\x01\x00\x00\x00\x00\x00", 6));
    deliver_chat(log, face);
    ASSERT_TRUE(edit->animating());
    log.hide();
    EXPECT_FALSE(edit->animating()) << "no timer while hidden";
    log.show();
    EXPECT_TRUE(edit->animating());
    edit->RunCommand(CRichEditCtrlEx::kClear);
    EXPECT_TRUE(edit->toPlainText().isEmpty());
    EXPECT_FALSE(edit->animating()) << "nothing left to animate";

    CRichEditCtrlEx input(nullptr, 1018);
    input.setPlainText("abc");
    auto editable = [&](int id) {
        for (auto [e, on] : input.MenuEntries())
            if (e == id)
                return on;
        return false;
    };
    EXPECT_FALSE(editable(CRichEditCtrlEx::kClear)) << "editable: clear needs a selection";
    input.selectAll();
    EXPECT_TRUE(editable(CRichEditCtrlEx::kClear));
    EXPECT_TRUE(editable(CRichEditCtrlEx::kCut));
    input.RunCommand(CRichEditCtrlEx::kClear);
    EXPECT_TRUE(input.toPlainText().isEmpty());
}

// The log with faces and the open face picker, saved beside the build for people to look at.
TEST_F(ChatInput, ScreenshotForPeopleToLookAt) {
    load_colours(QUORIN_INSTALL_DIR "/ui/cfg.txt");
    SendDouble log_cb;
    SoundDouble sound;
    log_cb.add(30, "小红");
    CMsgDlg log(&log_cb, &sound, QUORIN_INSTALL_DIR, nullptr);
    log.resize(612, 330);
    log.show();
    log.AddNoticeLine(utf8_to_gbk("登录成功！"));
    proto::ChatLine l;
    l.sender = 30;
    l.text = utf8_to_gbk("大家好") + std::string("\x01\x00\x00\x00\x00\x00\x01\x00\x0D\x00\x00\x00", 12) +
             utf8_to_gbk("今天学习分数 https://example.org/math");
    l.font_face = utf8_to_gbk("宋体");
    l.colour = 0x804000;
    l.height = 240;
    const proto::Bytes packet = l.encode();
    deliver_chat(log, packet);
    cb.log = &log;
    type("OK");
    chat.input()->InsertFace(89, true);
    QTest::keyClick(chat.input(), Qt::Key_Return);
    ASSERT_EQ(cb.echoes.size(), 1u);
    EXPECT_EQ(bytes(cb.echoes[0].text), std::string("OK\x01\x00\x59\x00\x00\x00\x00", 9));
    chat.ToggleFacePopup();
    QApplication::processEvents();

    QImage sheet(1080, 560, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    p.drawImage(0, 0, log.grab().toImage());
    p.drawImage(0, 340, chat.grab().toImage());
    p.drawImage(620, 0, chat.face_popup()->grab().toImage());
    p.end();
    const QString path = QString(QUORIN_INSTALL_DIR) + "/../chat_panels.png";
    ASSERT_TRUE(sheet.save(path));
    // The picker's first face is drawn in its cell: some pixel there is the face's yellow.
    const QImage picker = chat.face_popup()->grab().toImage();
    bool yellow = false;
    for (int y = 2; y < 28 && !yellow; ++y)
        for (int x = 2; x < 28 && !yellow; ++x)
            yellow = QColor(picker.pixel(x, y)).red() > 200 && QColor(picker.pixel(x, y)).blue() < 120;
    EXPECT_TRUE(yellow);
}
