// Camera capture backends behind one interface: V4L2 devices (packed 4:2:2 at 320 x 240 from memory-mapped
// buffers on a thread of their own; other sizes and MJPEG are converted) and a test-pattern camera (a moving
// picture with colour bars, a clock and the frame number stamped in its top rows), listed only when the
// settings enable it. Plain C++.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace capture {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrameIntervalMs = 66;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 2;

struct CameraInfo {
    std::string name;   // for people
    std::string device; // "/dev/videoN", or empty for the test camera
    bool test = false;
};

// The cameras in enumeration order: the V4L2 capture devices, then the test camera when enabled.
std::vector<CameraInfo> list_cameras(bool test_camera_enabled);
// True when a capture-capable V4L2 device or the enabled test camera exists.
bool camera_present(bool test_camera_enabled);

// One 320 x 240 packed 4:2:2 frame, on the backend's thread.
using FrameFn = std::function<void(const uint8_t* yuyv, uint32_t frame_number)>;
// The camera went away (unplugged) while streaming, on the backend's thread.
using LostFn = std::function<void()>;

class Backend {
public:
    virtual ~Backend() = default;
    virtual bool Open() = 0;
    virtual bool Start(FrameFn on_frame, LostFn on_lost) = 0;
    // Stops streaming and waits for the thread; safe to call twice.
    virtual void Stop() = 0;
};

std::unique_ptr<Backend> make_backend(const CameraInfo& camera);

// The test pattern, also for tests and benchmarks: frame `n` at the given time of day, with a tint (0 none;
// other values shift the colours, so that two test cameras look different). The top rows carry `stamp`, or
// the frame number when it is negative; the test camera stamps its capture time (milliseconds of the
// machine's monotonic clock), so that a receiver on the same machine can tell how old a picture is.
void draw_test_pattern(uint8_t* yuyv, uint32_t n, int hour, int minute, int second, int tint = 0,
                       int64_t stamp = -1);
// Milliseconds of the monotonic clock, as the test camera stamps them (low 32 bits).
uint32_t stamp_clock_ms();
// The frame number stamped into the top rows of a test picture, read back from 32-bit pixels (blue, green,
// red, unused) of the full picture, after compression too.
uint32_t read_frame_stamp(const uint8_t* bgra, int width, int height, int stride);

} // namespace capture
