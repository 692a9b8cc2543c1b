// The picture download, the work queue and the user pictures' fetcher against a real HTTP server on the
// loopback.
#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "eventually.h"
#include "platform/message_ids.h"
#include "platform/messages.h"
#include "room_peer.h"
#include "roster/CWorkQueue.h"
#include "roster/PictureFetcher.h"
#include "roster/picture_download.h"
#include "temp_dir.h"
#include "web_host.h"

namespace fs = std::filesystem;

namespace {

// Files left in a folder: nothing partial may stay behind.
std::vector<std::string> files_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

// Limits that no transfer of these tests reaches: a download ends for the reason a test gives it (a stall, a
// broken connection, a stop), never at a time-out that a loaded machine might reach. A download that waited
// for one of these instead would hang the test.
download::Limits patient() {
    download::Limits l;
    l.connect_timeout_ms = 3600 * 1000;
    l.low_speed_seconds = 3600;
    l.total_timeout_ms = 3600 * 1000;
    return l;
}

} // namespace

TEST(PictureDownload, ResultsAgainstARealServer) {
    TestWebHost web;
    TempDir dir;
    // The stall is given up after a second instead of twenty (the host stalls for half a minute and then ends
    // the body, which would be stored); no other limit is reached, so a row that waited for one would hang.
    download::Limits quick = patient();
    quick.low_speed_seconds = 1;
    // A server that accepts and hangs up at once.
    uint16_t reset_port = 0;
    const int reset_fd = listen_on_loopback(&reset_port);
    std::thread resetter([&] {
        int c = accept(reset_fd, nullptr, nullptr);
        if (c >= 0)
            close(c);
    });
    const struct {
        std::string url;
        int result;
        bool kept;
    } rows[] = {
        {web.url("/help.php?view=pic&uid=12&size=middle"), download::kStored, true},
        {web.url("/redirect"), download::kStored, true},
        {web.url("/missing"), download::kUrlFailed, false},
        {web.url("/stall"), download::kReadFailed, false},
        {web.url("/big"), download::kReadFailed, false},
        {"http://127.0.0.1:" + std::to_string(reset_port) + "/", download::kReadFailed, false},
        {"http://127.0.0.1:1/", download::kUrlFailed, false},
        {"file:///etc/passwd", download::kUrlFailed, false},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        const fs::path file = dir.path() / std::to_string(++n);
        const auto start = std::chrono::steady_clock::now();
        const bool stall = row.url == web.url("/stall");
        EXPECT_EQ(download::DownloadToFile(row.url, file.string(), stall ? quick : patient()), row.result);
        std::printf("%s: %lld ms\n", row.url.c_str(),
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
        EXPECT_EQ(fs::exists(file), row.kept);
    }
    EXPECT_EQ(files_in(dir.path()).size(), 2u) << "no partial file anywhere";
    EXPECT_EQ(download::DownloadToFile(web.url("/help.php?view=pic&uid=1"), "/nonexistent/dir/x"),
              download::kFileFailed);
    resetter.join();
    close(reset_fd);
}

namespace {

struct Recorder : CWorkItemCall {
    std::mutex m;
    std::vector<int> order;
    std::function<void(CWorkQueue*, int)> work;
    void OnWorkItem(CWorkQueue* q, void* payload, int size) override {
        EXPECT_EQ(size, CWorkQueue::kPayloadSize);
        const int id = *static_cast<int*>(payload);
        if (work)
            work(q, id);
        std::lock_guard lock(m);
        order.push_back(id);
    }
    size_t done() {
        std::lock_guard lock(m);
        return order.size();
    }
};

void queue_id(CWorkQueue& q, int id) {
    auto item = q.TakeFreeItem();
    ASSERT_TRUE(item);
    std::memcpy(item->data(), &id, sizeof id);
    q.Queue(std::move(item));
}

bool wait_done(Recorder& r, size_t n) {
    return eventually([&] { return r.done() >= n; });
}

} // namespace

TEST(PictureDownload, AHostThatDripsIsGivenUpAtTheTotalLimit) {
    TestWebHost web;
    TempDir dir;
    download::Limits limits;
    EXPECT_LE(limits.total_timeout_ms, 30000) << "the worker is free again within half a minute";
    limits.total_timeout_ms = 2000; // the same limit, shorter for the test
    // Dripped to its end, the body would be stored: the result says that the limit ended it.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(download::DownloadToFile(web.url("/drip"), dir.file("x"), limits), download::kReadFailed);
    const auto took = std::chrono::steady_clock::now() - start;
    std::printf("given up after %lld ms (limit 2000 ms)\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    // Not before the limit (a slower machine only takes longer).
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_TRUE(files_in(dir.path()).empty()) << "nothing half-written is kept";
}

TEST(WorkQueue, ItemsRunStrictlyInOrderAndNothingBeforeTheFirstReset) {
    CWorkQueue q;
    EXPECT_FALSE(q.TakeFreeItem()) << "no item before the first reset";
    q.Stop(); // a queue that never ran stops at once
    Recorder r;
    r.work = [](CWorkQueue*, int id) {
        if (id == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // others queue meanwhile
    };
    q.Reset();
    q.Start(&r);
    for (int id = 0; id < 20; ++id) // more than the pool's five: made on demand
        queue_id(q, id);
    ASSERT_TRUE(wait_done(r, 20));
    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i)
        expected[size_t(i)] = i;
    EXPECT_EQ(r.order, expected);
}

TEST(WorkQueue, StopDuringAStalledDownloadReturnsAtOnce) {
    TestWebHost web;
    TempDir dir;
    CWorkQueue q;
    Recorder r;
    std::atomic<int> result{-1};
    std::atomic<bool> started{false};
    r.work = [&](CWorkQueue* queue, int) {
        started = true;
        // The host stalls for half a minute and then ends the body: only the stop makes it fail.
        result = download::DownloadToFile(web.url("/stall"), dir.file("x"), patient(), &queue->cancelled());
    };
    q.Reset();
    q.Start(&r);
    queue_id(q, 1);
    queue_id(q, 2);
    ASSERT_TRUE(eventually([&] { return started.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // well inside the transfer
    const auto start = std::chrono::steady_clock::now();
    q.Stop();
    std::printf("stopped in %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
    EXPECT_EQ(result, download::kReadFailed) << "cancelled, not waited for";
    EXPECT_EQ(r.done(), 1u) << "the pending item is not run after the stop";
    EXPECT_EQ(q.pending(), 1u);
}

namespace {

// Where the fetcher posts its results.
struct PictureReceiver : QObject, platform::MessageTarget {
    std::vector<std::pair<int, uint32_t>> results; // (download result, user id)
    bool event(QEvent* e) override { return platform::dispatch_message(e, *this) || QObject::event(e); }
    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override {
        if (id == msg::kPictureReady)
            results.emplace_back(int(wparam), uint32_t(lparam));
    }
};

} // namespace

TEST(PictureFetcher, StoresOnlyPicturesScaledDown) {
    TempDir dir;
    const QString body = QString::fromStdString(dir.file("body"));
    const QString stored = QString::fromStdString(dir.file("7"));
    QImage wide(400, 200, QImage::Format_RGB32);
    wide.fill(Qt::red);
    ASSERT_TRUE(wide.save(body, "JPG"));
    ASSERT_TRUE(PictureFetcher::StorePicture(body, stored));
    const QImage kept(stored);
    EXPECT_EQ(kept.size(), QSize(160, 80)) << "at most 160 pixels a side, the shape kept";
    EXPECT_EQ(QImageReader(stored).format(), "png");

    write_file(dir.file("body"), "<html>not a picture</html>");
    EXPECT_FALSE(PictureFetcher::StorePicture(body, QString::fromStdString(dir.file("8"))));
    ASSERT_TRUE(QImage(9000, 1, QImage::Format_Mono).save(body, "PNG"));
    EXPECT_FALSE(PictureFetcher::StorePicture(body, QString::fromStdString(dir.file("9"))))
        << "a picture claiming more than 8192 pixels a side is not decoded";
    EXPECT_EQ(files_in(dir.path()).size(), 2u) << "the body and the one picture stored; nothing partial";
}

TEST(PictureFetcher, ReportsEachResultToItsReceiverAndNothingBeforeTheRestart) {
    TestWebHost web;
    TempDir dir;
    PictureReceiver receiver;
    PictureFetcher fetcher(&receiver, web.base(), dir.path().string());
    fetcher.Request(5); // before the restart: dropped
    fetcher.Restart();
    fetcher.Request(3);
    ASSERT_TRUE(eventually_with_events([&] { return !receiver.results.empty(); }));
    EXPECT_EQ(receiver.results, (std::vector<std::pair<int, uint32_t>>{{download::kStored, 3}}));
    EXPECT_EQ(QImage(QString::fromStdString(fetcher.PicturePath(3))).pixelColor(5, 5),
              QImage::fromData(QByteArray::fromStdString(TestWebHost::picture_for(3))).pixelColor(5, 5));
    EXPECT_FALSE(fs::exists(fetcher.PicturePath(5)));

    PictureFetcher nowhere(&receiver, "http://127.0.0.1:1", dir.path().string());
    nowhere.Restart();
    nowhere.Request(4);
    ASSERT_TRUE(eventually_with_events([&] { return receiver.results.size() == 2; }));
    EXPECT_EQ(receiver.results.back(), (std::pair<int, uint32_t>{download::kUrlFailed, 4}));
    EXPECT_FALSE(fs::exists(nowhere.PicturePath(4)));
}
