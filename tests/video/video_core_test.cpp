// The plain parts of video: the 4:2:2 conversion against its reference, bitmap files read back by Qt, safe
// snapshot names, the codec round trip with the frame number stamped in the picture, and the decoder's choice
// by four-character code.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>

#include <filesystem>
#include <random>
#include <vector>

#include "temp_dir.h"
#include "video/bitmap_file.h"
#include "video/capture.h"
#include "video/snapshot.h"
#include "video/video_codec.h"
#include "video/yuv_convert.h"

TEST(YuvConvert, FastPathEqualsTheTablesForEveryValue) {
    // Each form the camera path may take on some processor, and the choice it makes on this one; a vector
    // form the processor lacks is skipped.
    using Form = void (*)(const uint8_t*, int, int, uint8_t*);
    const struct {
        const char* name;
        Form convert;
        bool present;
    } forms[] = {
        {"chosen", yuv::FlipConvert, true},
        {"tables", yuv::FlipConvertTables, true},
        {"avx2", [](const uint8_t* i, int w, int h, uint8_t* o) { yuv::FlipConvertAvx2(i, w, h, o); },
         __builtin_cpu_supports("avx2") != 0},
        {"avx512", [](const uint8_t* i, int w, int h, uint8_t* o) { yuv::FlipConvertAvx512(i, w, h, o); },
         __builtin_cpu_supports("avx512bw") != 0 && __builtin_cpu_supports("avx2") != 0},
    };
    // Every Y with every U and V, in frame-sized pieces.
    constexpr int W = 256, H = 256;
    std::vector<uint8_t> frame(size_t(W) * H * 2), fast(size_t(W) * H * 3), ref(size_t(W) * H * 3);
    for (int y = 0; y < 256; y += 1) {
        for (int i = 0; i < W * H / 2; ++i) {
            const int u = i & 255, v = i >> 8;
            frame[size_t(i) * 4 + 0] = uint8_t(y);
            frame[size_t(i) * 4 + 1] = uint8_t(u);
            frame[size_t(i) * 4 + 2] = uint8_t(255 - y);
            frame[size_t(i) * 4 + 3] = uint8_t(v);
        }
        yuv::FlipConvertReference(frame.data(), W, H, ref.data());
        for (const auto& form : forms) {
            if (!form.present)
                continue;
            std::fill(fast.begin(), fast.end(), 0xCD);
            form.convert(frame.data(), W, H, fast.data());
            ASSERT_EQ(fast, ref) << form.name << ", Y " << y;
        }
    }
    std::mt19937 rng(1);
    std::vector<uint8_t> random(size_t(320) * 240 * 2), a(size_t(320) * 240 * 3), b(a.size());
    for (int round = 0; round < 20; ++round) {
        for (auto& x : random)
            x = uint8_t(rng());
        yuv::FlipConvertReference(random.data(), 320, 240, b.data());
        for (const auto& form : forms) {
            if (!form.present)
                continue;
            form.convert(random.data(), 320, 240, a.data());
            ASSERT_EQ(a, b) << form.name << ", round " << round;
        }
    }
    // Widths that are not a multiple of the vector width: the row's end takes a narrower path, and nothing is
    // written past the row.
    for (int width : {38, 22, 46, 2}) {
        std::vector<uint8_t> odd(size_t(width) * 5 * 2), c(size_t(width) * 5 * 3 + 64, 0xEE),
            d(c.size(), 0xEE);
        for (auto& x : odd)
            x = uint8_t(rng());
        yuv::FlipConvertReference(odd.data(), width, 5, d.data());
        for (const auto& form : forms) {
            if (!form.present)
                continue;
            std::fill(c.begin(), c.end(), 0xEE);
            form.convert(odd.data(), width, 5, c.data());
            EXPECT_EQ(c, d) << form.name << ", width " << width;
        }
    }
}

TEST(YuvConvert, TheTablesArithmeticAndPartialGroups) {
    // Pure white, black and red as BT.601 gives them.
    const struct {
        uint8_t yuyv[4];
        uint8_t bgr[3];
    } rows[] = {{{235, 128, 235, 128}, {255, 255, 255}},
                {{16, 128, 16, 128}, {0, 0, 0}},
                {{81, 90, 81, 240}, {0, 0, 255}}};
    for (const auto& r : rows) {
        uint8_t out[6];
        yuv::ConvertReference(r.yuyv, 4, out);
        EXPECT_EQ(out[0], r.bgr[0]);
        EXPECT_EQ(out[1], r.bgr[1]);
        EXPECT_EQ(out[2], r.bgr[2]);
        EXPECT_EQ(out[3], out[0]) << "both pixels of the group";
    }
    uint8_t out[12] = {};
    const uint8_t five[5] = {235, 128, 235, 128, 200};
    yuv::ConvertReference(five, 5, out);
    uint8_t expected[6];
    const uint8_t padded[4] = {200, 0, 0, 0};
    yuv::ConvertReference(padded, 4, expected);
    EXPECT_EQ(std::vector<uint8_t>(out + 6, out + 12), std::vector<uint8_t>(expected, expected + 6))
        << "a partial group converts as if padded with zeros";
    uint8_t untouched[6] = {7, 7, 7, 7, 7, 7};
    yuv::ConvertReference(five, 0, untouched);
    EXPECT_EQ(untouched[0], 7) << "zero bytes convert nothing";
}

TEST(BitmapFile, ReadBackUprightWithTheRightSize) {
    TempDir dir;
    std::vector<uint8_t> yuyv(capture::kFrameBytes), bgr(size_t(320) * 240 * 3);
    capture::draw_test_pattern(yuyv.data(), 0xA5A5A5A5u, 12, 34, 56);
    yuv::FlipConvert(yuyv.data(), 320, 240, bgr.data());
    const std::string path = dir.file("shot.bmp");
    ASSERT_TRUE(write_bitmap_file(path, 320, 240, bgr.data(), 320 * 3));
    EXPECT_EQ(std::filesystem::file_size(path), 54u + 230400u);
    QImage image(QString::fromStdString(path));
    ASSERT_EQ(image.size(), QSize(320, 240));
    // The stamp stands in the top rows: upright.
    QImage argb = image.convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(capture::read_frame_stamp(argb.constBits(), 320, 240, int(argb.bytesPerLine())), 0xA5A5A5A5u);
    EXPECT_FALSE(write_bitmap_file(dir.file("no/such/folder.bmp"), 320, 240, bgr.data(), 960));
}

TEST(BitmapFile, NetworkTextNeverBuildsAPath) {
    const struct {
        const char* in;
        const char* out;
    } rows[] = {{"../../x", "_._.._x"},    {"a/b", "a_b"}, {"a\\b", "a_b"},     {".hidden", "_hidden"},
                {"tab\there", "tab_here"}, {"", "_"},      {"王老师", "王老师"}};
    for (const auto& r : rows)
        EXPECT_EQ(safe_file_component(r.in), r.out) << r.in;
    EXPECT_LE(safe_file_component(std::string(100, 'a')).size(), 64u);
    const std::string cut = safe_file_component(std::string(62, 'a') + "王");
    EXPECT_EQ(cut, std::string(62, 'a')) << "cut between characters";
}

TEST(SnapshotPath, ANicknameNeverSteersTheNameAndNothingIsOverwritten) {
    TempDir home;
    const QByteArray old_home = qgetenv("HOME");
    qputenv("HOME", home.path().string().c_str());
    const QString who = "peer/../x%1%2";
    const QString a = snapshot_path(who);
    const QString b = snapshot_path(who); // the same second, very likely the same millisecond
    qputenv("HOME", old_home);
    ASSERT_FALSE(a.isEmpty());
    ASSERT_FALSE(b.isEmpty());
    EXPECT_NE(a, b) << "two snapshots in one second keep two files";
    const QRegularExpression name(R"(^\d{8}_\d{6}_peer_\.\._x%1%2_\d+(_\d+)?\.png$)");
    for (const QString& path : {a, b}) {
        const QFileInfo info(path);
        EXPECT_TRUE(name.match(info.fileName()).hasMatch()) << info.fileName().toStdString();
        EXPECT_EQ(info.absolutePath().toStdString(), (home.path() / "Pictures").string());
        EXPECT_TRUE(info.exists()) << "the name is taken at once";
    }
}

TEST(VideoCodec, RoundTripKeepsTheStampedFrameNumber) {
    VideoEncoder enc;
    ASSERT_TRUE(enc.Open(320, 240));
    VideoDecoder dec;
    ASSERT_TRUE(dec.Open(enc.code(), 320, 240));
    std::vector<uint8_t> yuyv(capture::kFrameBytes), packet;
    int decoded = 0;
    for (uint32_t n = 0; n < 40; ++n) {
        capture::draw_test_pattern(yuyv.data(), n, 10, 0, n % 60);
        if (n == 25)
            enc.ForceKeyFrame();
        bool key = false;
        ASSERT_TRUE(enc.Encode(yuyv.data(), packet, key));
        ASSERT_FALSE(packet.empty());
        EXPECT_EQ(key, n == 0 || n == 25) << n;
        ASSERT_TRUE(dec.Decode(packet.data(), packet.size(), key));
        EXPECT_EQ(capture::read_frame_stamp(dec.pixels().data(), dec.width(), dec.height(), dec.width() * 4),
                  n);
        ++decoded;
    }
    EXPECT_EQ(decoded, 40);
}

TEST(VideoCodec, DecoderChosenByCodeAndBrokenPacketsSurvived) {
    for (uint32_t code : {fourcc('X', 'V', 'I', 'D'), fourcc('D', 'I', 'V', 'X'), fourcc('D', 'X', '5', '0'),
                          fourcc('F', 'M', 'P', '4'), fourcc('M', 'P', '4', 'V'), fourcc('m', 'p', '4', 'v'),
                          fourcc('x', 'v', 'i', 'd')}) {
        VideoDecoder d;
        EXPECT_TRUE(d.Open(code, 320, 240)) << std::string(reinterpret_cast<const char*>(&code), 4);
    }
    // Codes FFmpeg knows but that are not MPEG-4 Part 2: a peer does not get to pick another decoder.
    for (uint32_t code : {fourcc('H', '2', '6', '4'), fourcc('M', 'J', 'P', 'G'), fourcc('F', 'F', 'V', '1'),
                          fourcc('C', 'V', 'I', 'D'), fourcc('Q', 'Q', 'Q', 'Q'), 0u}) {
        VideoDecoder d;
        EXPECT_FALSE(d.Open(code, 320, 240)) << std::string(reinterpret_cast<const char*>(&code), 4);
        EXPECT_FALSE(d.is_open());
    }
    VideoDecoder unknown;
    EXPECT_FALSE(unknown.Open(kFourccXvid, 0, 240));

    VideoEncoder enc;
    ASSERT_TRUE(enc.Open(320, 240));
    VideoDecoder dec;
    ASSERT_TRUE(dec.Open(kFourccXvid, 320, 240));
    std::vector<uint8_t> yuyv(capture::kFrameBytes), packet;
    capture::draw_test_pattern(yuyv.data(), 1, 0, 0, 0);
    bool key = false;
    ASSERT_TRUE(enc.Encode(yuyv.data(), packet, key));
    std::mt19937 rng(5);
    for (size_t cut = 1; cut < packet.size(); cut += 97) {
        std::vector<uint8_t> part(packet.begin(), packet.begin() + long(cut));
        dec.Decode(part.data(), part.size(), true); // may fail; must not crash
        std::vector<uint8_t> noisy = packet;
        for (int i = 0; i < 20; ++i)
            noisy[rng() % noisy.size()] = uint8_t(rng());
        dec.Decode(noisy.data(), noisy.size(), true);
    }
    EXPECT_TRUE(dec.Decode(packet.data(), packet.size(), true)) << "a good key frame recovers";
}
