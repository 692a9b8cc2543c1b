// The message log under load, beside a plain QTextEdit: 20 000 mixed lines, each followed by a turn of the
// event loop as in the client, (notices, chat lines with 0 to 5
// faces) appended, the time per append of the first and the last thousand, memory per line, and the ratio to
// QTextEdit::append of the same text without faces. Then the cost of 2 000 animated faces in a log while it
// is shown and while its window is minimised, and the time to open the face picker. Offscreen platform.
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTextEdit>

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "chat/CChatDlg.h"
#include "chat/CFaceDlg.h"
#include "chat/CMsgDlg.h"
#include "config/client_config.h"
#include "platform/text.h"
#include "session/intents.h"
#include "session/roster.h"
#include "wire/packet_types.h"

namespace {

// A chat message reaches the log as the session hands it over.
void deliver(CMsgDlg& log, const std::vector<uint8_t>& packet) {
    if (auto line = intents::ReadChatLine(packet.data(), packet.size()))
        log.OnChatLine(*line);
}

constexpr int kLines = 20000;

struct Link : call_back {
    Roster roster;
    int request(int type, void* data, int) override {
        if (type == kReqFindUser) {
            auto* r = static_cast<FindUserRequest*>(data);
            r->result = roster.FindById(r->user_id);
        }
        return type == kReqOutputMuted ? 1 : 1;
    }
    bool Send(uint16_t, const proto::Bytes&) override { return true; }
};

long rss_kb() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for `ms` and returns the CPU seconds used meanwhile.
double idle_cpu(int ms) {
    const double before = cpu_seconds();
    QTest::qWait(ms);
    return cpu_seconds() - before;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string install = argc > 1 ? argv[1] : "build/out";
    load_colours(install + "/ui/cfg.txt");
    Link link;
    proto::UserBlock b;
    b.user_id = 30;
    b.nickname = utf8_to_gbk("小红");
    link.roster.Add(b);

    std::mt19937 rng(42);
    std::vector<proto::Bytes> packets;
    std::vector<QString> plain;
    for (int i = 0; i < kLines; ++i) {
        proto::ChatLine l;
        l.sender = 30;
        std::string text = utf8_to_gbk("第") + std::to_string(i) + utf8_to_gbk("行：今天我们学习分数的加法");
        QString shown = QString::fromUtf8("第%1行：今天我们学习分数的加法").arg(i);
        const int faces = int(rng() % 6);
        for (int f = 0; f < faces; ++f)
            text += std::string("\x01\x00", 2) + char(rng() % 90) + std::string(3, '\0');
        l.text = text;
        packets.push_back(l.encode());
        plain.push_back(shown);
    }

    // Ours.
    CMsgDlg log(&link, nullptr, install, nullptr);
    log.resize(612, 330);
    log.show();
    const long rss_before = rss_kb();
    QElapsedTimer t;
    double first = 0, last = 0;
    t.start();
    for (int i = 0; i < kLines; ++i) {
        if (i % 4 == 3)
            log.AddNoticeLine(utf8_to_gbk("小刚已进入房间"));
        else
            deliver(log, packets[size_t(i)]);
        // Each line arrives as an event of its own; what the log defers (scrolling) runs in between.
        QApplication::processEvents();
        if (i == 999)
            first = double(t.nsecsElapsed()) / 1e6;
        if (i == kLines - 1001)
            t.restart();
    }
    last = double(t.nsecsElapsed()) / 1e6;
    const long rss_after = rss_kb();

    // The peer: plain appends of the same text, no faces.
    QTextEdit peer;
    peer.resize(612, 330);
    peer.show();
    QElapsedTimer tp;
    tp.start();
    double peer_first = 0;
    for (int i = 0; i < kLines; ++i) {
        peer.append(plain[size_t(i)]);
        QApplication::processEvents();
        if (i == 999)
            peer_first = double(tp.nsecsElapsed()) / 1e6;
    }
    const double peer_all = double(tp.nsecsElapsed()) / 1e6;

    std::printf("== chat_bench: message log, %d mixed lines (notices, chat lines with 0 to 5 faces)\n",
                kLines);
    std::printf(
        "first 1000 appends: %.3f ms each; last 1000: %.3f ms each; ratio last/first %.2f (goal <= 1.5)\n",
        first / 1000, last / 1000, last / first);
    std::printf("memory: %.2f KB per line\n", double(rss_after - rss_before) / kLines);
    std::printf("plain QTextEdit::append, first 1000: %.3f ms each, all: %.3f ms each\n", peer_first / 1000,
                peer_all / kLines);
    std::printf("ratio ours / plain append (first 1000): %.2f\n", (first / 1000) / (peer_first / 1000));

    // 2 000 animated faces in one log.
    CMsgDlg faces(&link, nullptr, install, nullptr);
    faces.resize(612, 330);
    faces.show();
    for (int i = 0; i < 400; ++i) {
        proto::ChatLine l;
        l.sender = 30;
        std::string text;
        for (int f = 0; f < 5; ++f)
            text += std::string("\x01\x00", 2) + char((i * 5 + f) % 90) + std::string(3, '\0');
        l.text = text;
        const auto p = l.encode();
        deliver(faces, p);
    }
    log.hide();
    peer.hide();
    const int ticks_before = faces.log()->animation_ticks();
    const double shown_cpu = idle_cpu(3000);
    const int shown_ticks = faces.log()->animation_ticks() - ticks_before;
    faces.showMinimized();
    QApplication::processEvents();
    const int ticks_minimised = faces.log()->animation_ticks();
    const double minimised_cpu = idle_cpu(3000);
    std::printf("2000 animated faces: %d face objects; shown: %.1f %% of a core, %d timer ticks in 3 s\n",
                faces.log()->ObjectCount(), shown_cpu / 3 * 100, shown_ticks);
    std::printf("minimised: %.1f %% of a core, %d timer ticks from the faces in 3 s (goal 0)\n",
                minimised_cpu / 3 * 100, faces.log()->animation_ticks() - ticks_minimised);

    // The face picker: built and shown, and shown again.
    CChatDlg chat(&link, nullptr, install, nullptr);
    chat.show();
    QElapsedTimer tf;
    tf.start();
    chat.ToggleFacePopup();
    QApplication::processEvents();
    const double build_ms = double(tf.nsecsElapsed()) / 1e6;
    chat.ToggleFacePopup();
    tf.restart();
    chat.ToggleFacePopup();
    QApplication::processEvents();
    std::printf("face picker: first open (90 faces loaded) %.1f ms, open again %.2f ms\n", build_ms,
                double(tf.nsecsElapsed()) / 1e6);
    return 0;
}
