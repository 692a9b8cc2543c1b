// Camera capture (see capture.h).
#include "video/capture.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "video/ffmpeg_library.h"

namespace capture {

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do
        r = ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

bool is_capture_device(const std::string& path, std::string* name) {
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    v4l2_capability cap{};
    const bool ok = xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
    close(fd);
    const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!ok || !(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING))
        return false;
    if (name)
        *name = std::string(reinterpret_cast<const char*>(cap.card),
                            strnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card));
    return true;
}

// ---- the test-pattern camera ----

class TestCamera : public Backend {
public:
    explicit TestCamera(int tint) : tint_(tint) {}
    ~TestCamera() override { Stop(); }
    bool Open() override { return true; }
    bool Start(FrameFn on_frame, LostFn) override {
        Stop();
        running_ = true;
        thread_ = std::thread([this, on_frame = std::move(on_frame)] {
            std::vector<uint8_t> frame(kFrameBytes);
            auto next = std::chrono::steady_clock::now();
            for (uint32_t n = 0; running_; ++n) {
                const std::time_t now = std::time(nullptr);
                std::tm local{};
                localtime_r(&now, &local);
                draw_test_pattern(frame.data(), n, local.tm_hour, local.tm_min, local.tm_sec, tint_,
                                  stamp_clock_ms());
                on_frame(frame.data(), n);
                next += std::chrono::milliseconds(kFrameIntervalMs);
                std::this_thread::sleep_until(next);
            }
        });
        return true;
    }
    void Stop() override {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }

private:
    int tint_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

// ---- V4L2 ----

class V4l2Camera : public Backend {
public:
    explicit V4l2Camera(std::string device) : device_(std::move(device)) {}
    ~V4l2Camera() override {
        Stop();
        Release();
    }

    bool Open() override {
        fd_ = open(device_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return false;
        // Packed 4:2:2 at 320 x 240 if the camera gives it; otherwise whatever it offers of 4:2:2 or MJPEG.
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = kWidth;
        fmt.fmt.pix.height = kHeight;
        fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        fmt.fmt.pix.field = V4L2_FIELD_ANY;
        if (xioctl(fd_, VIDIOC_S_FMT, &fmt) < 0 || fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_YUYV) {
            fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_MJPEG;
            if (xioctl(fd_, VIDIOC_S_FMT, &fmt) < 0 || fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_MJPEG)
                return Fail();
        }
        format_ = fmt.fmt.pix.pixelformat;
        width_ = int(fmt.fmt.pix.width);
        height_ = int(fmt.fmt.pix.height);
        stride_ = fmt.fmt.pix.bytesperline ? int(fmt.fmt.pix.bytesperline) : width_ * 2;
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = {1, 15};
        xioctl(fd_, VIDIOC_S_PARM, &parm); // a rate the camera cannot do is not an error
        v4l2_requestbuffers req{};
        req.count = 4;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_REQBUFS, &req) < 0 || req.count < 2)
            return Fail();
        for (unsigned i = 0; i < req.count; ++i) {
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            b.index = i;
            if (xioctl(fd_, VIDIOC_QUERYBUF, &b) < 0)
                return Fail();
            void* p = mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
            if (p == MAP_FAILED)
                return Fail();
            buffers_.push_back({p, b.length});
        }
        return SetUpConversion();
    }

    bool Start(FrameFn on_frame, LostFn on_lost) override {
        for (unsigned i = 0; i < buffers_.size(); ++i) {
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            b.index = i;
            if (xioctl(fd_, VIDIOC_QBUF, &b) < 0)
                return false;
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_STREAMON, &type) < 0)
            return false;
        running_ = true;
        thread_ = std::thread([this, on_frame = std::move(on_frame), on_lost = std::move(on_lost)] {
            std::vector<uint8_t> frame(kFrameBytes + 64);
            for (uint32_t n = 0; running_;) {
                pollfd p{fd_, POLLIN, 0};
                const int r = poll(&p, 1, 100);
                if (r < 0 && errno != EINTR)
                    break;
                if (r == 0)
                    continue;
                if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                    // Unplugged: the stream ends and the owner hears of it.
                    running_ = false;
                    if (on_lost)
                        on_lost();
                    break;
                }
                v4l2_buffer b{};
                b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
                b.memory = V4L2_MEMORY_MMAP;
                if (xioctl(fd_, VIDIOC_DQBUF, &b) < 0) {
                    if (errno == EAGAIN)
                        continue;
                    running_ = false;
                    if (on_lost)
                        on_lost();
                    break;
                }
                if (b.index < buffers_.size() &&
                    Convert(static_cast<const uint8_t*>(buffers_[b.index].first),
                            std::min<size_t>(b.bytesused, buffers_[b.index].second), frame.data()))
                    on_frame(frame.data(), n++);
                xioctl(fd_, VIDIOC_QBUF, &b);
            }
        });
        return true;
    }

    void Stop() override {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            xioctl(fd_, VIDIOC_STREAMOFF, &type);
        }
    }

private:
    bool Fail() {
        Release();
        return false;
    }
    void Release() {
        for (auto& [p, n] : buffers_)
            munmap(p, n);
        buffers_.clear();
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
        if (scale_ || decoded_ || packet_ || mjpeg_) {
            const ffmpeg::Library& ff = *ffmpeg::library(); // opened: they were made with it
            ff.sws_freeContext(scale_);
            scale_ = nullptr;
            ff.av_frame_free(&decoded_);
            ff.av_packet_free(&packet_);
            ff.avcodec_free_context(&mjpeg_);
        }
    }
    bool SetUpConversion() {
        const bool needs_ffmpeg = format_ == V4L2_PIX_FMT_MJPEG || width_ != kWidth || height_ != kHeight;
        if (needs_ffmpeg && !ffmpeg::library())
            return Fail();
        if (!needs_ffmpeg)
            return true;
        const ffmpeg::Library& ff = *ffmpeg::library();
        if (format_ == V4L2_PIX_FMT_MJPEG) {
            const AVCodec* codec = ff.avcodec_find_decoder(AV_CODEC_ID_MJPEG);
            mjpeg_ = codec ? ff.avcodec_alloc_context3(codec) : nullptr;
            decoded_ = ff.av_frame_alloc();
            packet_ = ff.av_packet_alloc();
            if (!mjpeg_ || !decoded_ || !packet_ || ff.avcodec_open2(mjpeg_, codec, nullptr) < 0)
                return Fail();
        } else if (width_ != kWidth || height_ != kHeight) {
            scale_ = ff.sws_getContext(width_, height_, AV_PIX_FMT_YUYV422, kWidth, kHeight,
                                       AV_PIX_FMT_YUYV422, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
            if (!scale_)
                return Fail();
        }
        return true;
    }
    // Turns whatever the camera gave into 320 x 240 packed 4:2:2.
    bool Convert(const uint8_t* data, size_t size, uint8_t* out) {
        uint8_t* dst[1] = {out};
        const int dst_stride[1] = {kWidth * 2};
        if (format_ == V4L2_PIX_FMT_MJPEG) {
            const ffmpeg::Library& ff = *ffmpeg::library(); // opened by SetUpConversion
            input_.assign(data, data + size);
            input_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            packet_->data = input_.data();
            packet_->size = int(size);
            const bool ok = ff.avcodec_send_packet(mjpeg_, packet_) >= 0 &&
                            ff.avcodec_receive_frame(mjpeg_, decoded_) >= 0;
            packet_->data = nullptr;
            packet_->size = 0;
            if (!ok)
                return false;
            scale_ = ff.sws_getCachedContext(
                scale_, decoded_->width, decoded_->height, AVPixelFormat(decoded_->format), kWidth, kHeight,
                AV_PIX_FMT_YUYV422, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
            if (!scale_)
                return false;
            ff.sws_scale(scale_, decoded_->data, decoded_->linesize, 0, decoded_->height, dst, dst_stride);
            ff.av_frame_unref(decoded_);
            return true;
        }
        if (size < size_t(stride_) * size_t(height_))
            return false;
        if (!scale_) {
            for (int y = 0; y < kHeight; ++y)
                std::memcpy(out + size_t(y) * kWidth * 2, data + size_t(y) * size_t(stride_), kWidth * 2);
            return true;
        }
        const ffmpeg::Library& ff = *ffmpeg::library(); // opened by SetUpConversion
        padded_.assign(data, data + size);
        padded_.resize(size + 64, 0);
        const uint8_t* src[1] = {padded_.data()};
        const int src_stride[1] = {stride_};
        ff.sws_scale(scale_, src, src_stride, 0, height_, dst, dst_stride);
        return true;
    }

    std::string device_;
    int fd_ = -1;
    uint32_t format_ = 0;
    int width_ = 0, height_ = 0, stride_ = 0;
    std::vector<std::pair<void*, size_t>> buffers_;
    std::atomic<bool> running_{false};
    std::thread thread_;
    SwsContext* scale_ = nullptr;
    AVCodecContext* mjpeg_ = nullptr;
    AVFrame* decoded_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<uint8_t> input_, padded_;
};

// A 5 x 7 font for the clock's digits and the colon.
const uint8_t kDigits[11][7] = {
    {14, 17, 19, 21, 25, 17, 14}, {4, 12, 4, 4, 4, 4, 14},  {14, 17, 1, 2, 4, 8, 31},
    {31, 2, 4, 2, 1, 17, 14},     {2, 6, 10, 18, 31, 2, 2}, {31, 16, 30, 1, 1, 17, 14},
    {6, 8, 16, 30, 17, 17, 14},   {31, 1, 2, 4, 8, 8, 8},   {14, 17, 17, 14, 17, 17, 14},
    {14, 17, 17, 15, 1, 2, 12},   {0, 12, 12, 0, 12, 12, 0}};

// Stamp geometry: 32 blocks of 10 x 8 pixels in the top rows, bit 31 first.
constexpr int kStampRows = 8;
constexpr int kStampBlock = kWidth / 32;

void set_luma(uint8_t* yuyv, int x, int y, uint8_t value) {
    yuyv[size_t(y) * kWidth * 2 + size_t(x) * 2] = value;
}

} // namespace

std::vector<CameraInfo> list_cameras(bool test_camera_enabled) {
    std::vector<std::pair<int, std::string>> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/dev", ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("video", 0) != 0)
            continue;
        char* end = nullptr;
        const long n = std::strtol(name.c_str() + 5, &end, 10);
        if (*end == '\0')
            found.push_back({int(n), e.path().string()});
    }
    std::sort(found.begin(), found.end());
    std::vector<CameraInfo> cameras;
    for (const auto& [n, path] : found) {
        std::string card;
        if (is_capture_device(path, &card))
            cameras.push_back({card.empty() ? path : card, path, false});
    }
    if (test_camera_enabled)
        cameras.push_back({"测试图像摄像头", "", true});
    return cameras;
}

bool camera_present(bool test_camera_enabled) {
    return !list_cameras(test_camera_enabled).empty();
}

std::unique_ptr<Backend> make_backend(const CameraInfo& camera) {
    if (camera.test)
        return std::make_unique<TestCamera>(0);
    return std::make_unique<V4l2Camera>(camera.device);
}

uint32_t stamp_clock_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

void draw_test_pattern(uint8_t* yuyv, uint32_t n, int hour, int minute, int second, int tint, int64_t stamp) {
    const uint32_t stamped = stamp < 0 ? n : uint32_t(stamp);
    // Colour bars (Y, U, V) that move to the left by four pixels a frame.
    static const uint8_t kBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                        {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = yuyv + size_t(y) * kWidth * 2;
        for (int x = 0; x < kWidth; x += 2) {
            const int bar = ((x + int(n % 80) * 4) / 40) % 8;
            const uint8_t* c = kBars[bar];
            const int u = std::clamp(int(c[1]) + tint, 16, 240), v = std::clamp(int(c[2]) - tint, 16, 240);
            row[x * 2] = c[0];
            row[x * 2 + 1] = uint8_t(u);
            row[x * 2 + 2] = c[0];
            row[x * 2 + 3] = uint8_t(v);
        }
    }
    // The frame number: white or black blocks, chroma neutral.
    for (int bit = 0; bit < 32; ++bit) {
        const uint8_t luma = (stamped >> (31 - bit)) & 1 ? 235 : 16;
        for (int y = 0; y < kStampRows; ++y)
            for (int x = bit * kStampBlock; x < (bit + 1) * kStampBlock; ++x) {
                set_luma(yuyv, x, y, luma);
                yuyv[size_t(y) * kWidth * 2 + size_t(x & ~1) * 2 + 1] = 128;
                yuyv[size_t(y) * kWidth * 2 + size_t(x & ~1) * 2 + 3] = 128;
            }
    }
    // The clock, HH:MM:SS, white on a dark band in the middle.
    const int digits[8] = {hour / 10, hour % 10, 10, minute / 10, minute % 10, 10, second / 10, second % 10};
    constexpr int kScale = 4, kTop = 100;
    for (int y = kTop - 6; y < kTop + 7 * kScale + 6; ++y)
        for (int x = 40; x < 280; ++x)
            set_luma(yuyv, x, y, 30);
    for (int d = 0; d < 8; ++d)
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 5; ++c)
                if (kDigits[digits[d]][r] & (16 >> c))
                    for (int dy = 0; dy < kScale; ++dy)
                        for (int dx = 0; dx < kScale; ++dx)
                            set_luma(yuyv, 48 + d * 28 + c * kScale + dx, kTop + r * kScale + dy, 235);
}

uint32_t read_frame_stamp(const uint8_t* bgra, int width, int height, int stride) {
    if (width < kWidth || height < kStampRows)
        return 0;
    uint32_t n = 0;
    for (int bit = 0; bit < 32; ++bit) {
        const uint8_t* px =
            bgra + size_t(kStampRows / 2) * size_t(stride) + size_t(bit * kStampBlock + kStampBlock / 2) * 4;
        const int luma = (px[0] + px[1] + px[2]) / 3;
        n = (n << 1) | (luma > 128 ? 1u : 0u);
    }
    return n;
}

} // namespace capture
