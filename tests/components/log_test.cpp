// Logging library: daily file names, line layout, level masks, thread safety and nothing lost at log_free.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "components/log.h"
#include "temp_dir.h"

namespace {

std::string today(const char* fmt) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, fmt, &tm);
    return buf;
}

void set_up(const TempDir& dir) {
    static const char* const modules[] = {"", "main", "client", "video", "tcpclient", "pptdlg", "camera"};
    ASSERT_NE(log_init(dir.path().c_str()), 0);
    log_setmodules(modules, 7);
    log_setdebugfname("%yyyy_%MM%dd.log");
    log_setaccessfname("access_%yyyy%MM%dd.log");
    log_setlevel(0, 0x7F, "%d_%t: %s");
}

std::vector<std::string> lines_of(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(path));
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

} // namespace

TEST(Log, InitFailsWithoutTheFolderAndThenNothingIsEnabled) {
    EXPECT_EQ(log_init("/nonexistent/quorin/log"), 0);
    EXPECT_FALSE(log_enable(1, 32));
    log_write(1, 32, __LINE__, "dropped %d\n", 1); // must not crash
}

TEST(Log, WritesDailyFilesWithTheLineLayout) {
    TempDir dir;
    set_up(dir);
    EXPECT_TRUE(log_enable(1, 32));
    EXPECT_TRUE(log_enable(3, 32));
    log_write(1, 32, __LINE__, "send login cmd. %u,%u,%llu,%s\n", 12u, 7u, 1700000000123ull, "AB12");
    log_write(1, LOG_LEVEL_ACCESS, __LINE__, "access line");
    log_free();

    auto debug = lines_of(dir.file(today("%Y_%m%d.log")));
    ASSERT_EQ(debug.size(), 1u);
    // "%d_%t: %s": date, underscore, time, colon, message.
    EXPECT_EQ(debug[0].substr(0, 11), today("%Y-%m-%d") + "_");
    EXPECT_NE(debug[0].find(": send login cmd. 12,7,1700000000123,AB12"), std::string::npos);
    auto access = lines_of(dir.file(today("access_%Y%m%d.log")));
    ASSERT_EQ(access.size(), 1u);
    EXPECT_NE(access[0].find(": access line"), std::string::npos);
}

TEST(Log, LevelMaskPerModule) {
    TempDir dir;
    set_up(dir);
    log_setlevel(3, 0, nullptr);
    EXPECT_TRUE(log_enable(1, 32));
    EXPECT_FALSE(log_enable(3, 32));
    EXPECT_FALSE(log_enable(1, 128)); // outside the mask 0x7F
    EXPECT_FALSE(log_enable(99, 32));
    log_free();
    EXPECT_FALSE(log_enable(1, 32));
}

TEST(Log, ManyThreadsLoseNothingAndNeverInterleaveLines) {
    TempDir dir;
    set_up(dir);
    constexpr int kThreads = 4, kLines = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                log_write(1, 32, __LINE__, "thread %d line %d end\n", t, i);
        });
    for (auto& th : threads)
        th.join();
    log_free();
    auto lines = lines_of(dir.file(today("%Y_%m%d.log")));
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const std::string& l : lines) {
        int t = -1, i = -1;
        size_t at = l.find("thread ");
        ASSERT_NE(at, std::string::npos) << l;
        ASSERT_EQ(std::sscanf(l.c_str() + at, "thread %d line %d end", &t, &i), 2) << l;
        ASSERT_EQ(i, next[t]++) << "lines of one thread keep their order";
    }
}

TEST(Log, LongLinesAreKeptWhole) {
    TempDir dir;
    set_up(dir);
    std::string big(10000, 'x');
    log_write(1, 32, __LINE__, "%s\n", big.c_str());
    log_free();
    auto lines = lines_of(dir.file(today("%Y_%m%d.log")));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(big), std::string::npos);
}
