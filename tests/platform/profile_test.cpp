// Profile files: defaults, case rules, integer parsing and line-preserving writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/profile.h"
#include "temp_dir.h"

TEST(Profile, MissingFileOrKeyGivesTheDefault) {
    TempDir dir;
    EXPECT_EQ(profile_get_int("network", "port", 5288, dir.file("none.txt")), 5288);
    EXPECT_EQ(profile_get_string("network", "host", "d", dir.file("none.txt")), "d");
    write_file(dir.file("u.txt"), "[network]\nport=6000\n[media]\n");
    EXPECT_EQ(profile_get_int("network", "other", 11, dir.file("u.txt")), 11);
    EXPECT_EQ(profile_get_int("media", "port", 12, dir.file("u.txt")), 12) << "keys belong to their section";
    EXPECT_EQ(profile_get_int("network", "port", 0, dir.file("u.txt")), 6000);
}

TEST(Profile, SectionsAndKeysIgnoreCase) {
    TempDir dir;
    write_file(dir.file("u.txt"), "; comment\r\n[Network]\r\nPORT = 6001\r\n");
    EXPECT_EQ(profile_get_int("network", "port", 0, dir.file("u.txt")), 6001);
    EXPECT_EQ(profile_get_int("NETWORK", "Port", 0, dir.file("u.txt")), 6001);
}

TEST(Profile, IntegerParsingFollowsTheProfileRules) {
    TempDir dir;
    write_file(dir.file("u.txt"), "[s]\na= 12\nb=-5\nc=abc\nd=12abc\ne=\nf=99999999999\n");
    const std::string f = dir.file("u.txt");
    EXPECT_EQ(profile_get_int("s", "a", 7, f), 12);
    EXPECT_EQ(profile_get_int("s", "b", 7, f), -5);
    EXPECT_EQ(profile_get_int("s", "c", 7, f), 0);
    EXPECT_EQ(profile_get_int("s", "d", 7, f), 12);
    EXPECT_EQ(profile_get_int("s", "e", 7, f), 7) << "an empty value counts as missing";
    EXPECT_EQ(profile_get_int("s", "f", 7, f), 2147483647) << "overflow saturates";
}

TEST(Profile, WriteChangesOnlyItsLine) {
    TempDir dir;
    const std::string f = dir.file("u.txt");
    write_file(f, "# settings\n[media]\nrecord_deviceid=0\nCamera_DeviceID=3\n\n[network]\nport=5288\n");
    ASSERT_TRUE(profile_write_string("MEDIA", "camera_deviceid", "-1", f));
    EXPECT_EQ(read_file(f),
              "# settings\n[media]\nrecord_deviceid=0\nCamera_DeviceID=-1\n\n[network]\nport=5288\n");
}

TEST(Profile, WriteAddsTheKeyToItsSectionOrCreatesTheSection) {
    TempDir dir;
    const std::string f = dir.file("u.txt");
    write_file(f, "[media]\nrecord_deviceid=0\n\n[network]\nport=5288\n");
    ASSERT_TRUE(profile_write_string("media", "play_deviceid", "2", f));
    ASSERT_TRUE(profile_write_string("web", "host", "example.org", f));
    EXPECT_EQ(
        read_file(f),
        "[media]\nrecord_deviceid=0\nplay_deviceid=2\n\n[network]\nport=5288\n[web]\nhost=example.org\n");
    EXPECT_EQ(profile_get_int("media", "play_deviceid", 0, f), 2);
}

TEST(Profile, WriteCreatesAMissingFileAndKeepsCrLf) {
    TempDir dir;
    ASSERT_TRUE(profile_write_string("media", "record_deviceid", "1", dir.file("new.txt")));
    EXPECT_EQ(read_file(dir.file("new.txt")), "[media]\nrecord_deviceid=1\n");
    write_file(dir.file("w.txt"), "[media]\r\na=1\r\n");
    ASSERT_TRUE(profile_write_string("media", "a", "2", dir.file("w.txt")));
    EXPECT_EQ(read_file(dir.file("w.txt")), "[media]\r\na=2\r\n");
    EXPECT_FALSE(profile_write_string("media", "a", "2", dir.file("no/such/folder/x.txt")));
}

TEST(Profile, QuotedStringsLoseTheirQuotes) {
    TempDir dir;
    write_file(dir.file("u.txt"), "[web]\nhost=\"edu.example.org\"\n");
    EXPECT_EQ(profile_get_string("web", "host", "", dir.file("u.txt")), "edu.example.org");
}

TEST(Profile, TheFirstLineNamingAKeyWinsAcrossRepeatedSections) {
    TempDir dir;
    const std::string f = dir.file("u.txt");
    write_file(f, "x=0\n[a]\nx=1\n[b]\nx=2\ny=3\n[A]\nx=4\ny=5\n[a]=\nz=6\n");
    EXPECT_EQ(profile_get_int("a", "x", -1, f), 1);
    EXPECT_EQ(profile_get_int("b", "x", -1, f), 2);
    EXPECT_EQ(profile_get_int("a", "y", -1, f), 5) << "a section named again goes on";
    EXPECT_EQ(profile_get_int("a", "z", -1, f), 6) << "\"[a]=\" names the section a";
    EXPECT_EQ(profile_get_int("", "x", -1, f), -1) << "lines before the first section belong to none";
}

// Values are read again whenever the file may have changed: rewritten in place at the same size within one
// tick of the file system's clock, or long after with its modification time put back.
TEST(Profile, ChangesByOthersAreSeenAtOnce) {
    TempDir dir;
    const std::string f = dir.file("u.txt");
    auto rewrite_in_place = [&](const char* text) {
        FILE* out = std::fopen(f.c_str(), "r+");
        ASSERT_NE(out, nullptr);
        std::fputs(text, out);
        std::fclose(out);
    };
    write_file(f, "[s]\nv=1\n");
    EXPECT_EQ(profile_get_int("s", "v", 0, f), 1);
    rewrite_in_place("[s]\nv=2\n");
    EXPECT_EQ(profile_get_int("s", "v", 0, f), 2);

    // An old file, read often, then changed with its time set back to what it was.
    const timespec old_time[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), old_time, 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the change time settles too
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(profile_get_int("s", "v", 0, f), 2);
    rewrite_in_place("[s]\nv=3\n");
    ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), old_time, 0), 0);
    EXPECT_EQ(profile_get_int("s", "v", 0, f), 3);
    ASSERT_TRUE(profile_write_string("s", "v", "4", f));
    EXPECT_EQ(profile_get_int("s", "v", 0, f), 4);
    std::remove(f.c_str());
    EXPECT_EQ(profile_get_int("s", "v", 7, f), 7) << "a removed file gives the default";
}
