// The local camera: picks a camera, opens it for 320 x 240 packed 4:2:2, compresses every frame on the
// capture thread and hands each frame to the sink, first the picture, then (while sending is on) the
// compressed frame. Plain C++.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "video/capture.h"
#include "video/video_codec.h"

// What the engine reaches, on the capture thread.
class videocall {
public:
    virtual ~videocall() = default;
    virtual void on_encoded_frame(const uint8_t* data, int size, uint32_t capture_length, bool key_frame) = 0;
    virtual void on_raw_frame(const uint8_t* yuyv, int width, int height, uint32_t frame_number) = 0;
    // The camera went away while streaming (unplugged).
    virtual void on_camera_lost() {}
};

class CCaptureEngine {
public:
    CCaptureEngine() = default;
    ~CCaptureEngine();
    CCaptureEngine(const CCaptureEngine&) = delete;
    CCaptureEngine& operator=(const CCaptureEngine&) = delete;

    void set_sink(videocall* sink) { sink_ = sink; }
    // Chooses the camera at this position of the camera list; false when there is none.
    bool select_driver(int index, bool test_camera_enabled);
    bool open();
    bool start_compressor();
    bool start_streaming();
    // Stops the stream and releases the camera and the compressor, and ends sending; false when nothing was
    // open.
    bool close();
    bool is_open() const { return backend_ != nullptr; }

    // Compressed frames are made only while sending is on; switching it on (or on again: a new watcher) makes
    // the next frame a key frame.
    void set_sending(bool on);
    bool sending() const { return sending_; }
    const VideoEncoder& encoder() const { return encoder_; }

private:
    void OnFrame(const uint8_t* yuyv, uint32_t n);

    capture::CameraInfo camera_;
    bool selected_ = false;
    std::unique_ptr<capture::Backend> backend_;
    VideoEncoder encoder_;
    std::vector<uint8_t> packet_;
    videocall* sink_ = nullptr;
    std::atomic<bool> sending_{false};
    std::atomic<bool> key_wanted_{false};
};
