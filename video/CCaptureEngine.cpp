// The local camera (see CCaptureEngine.h).
#include "video/CCaptureEngine.h"

CCaptureEngine::~CCaptureEngine() {
    close();
}

bool CCaptureEngine::select_driver(int index, bool test_camera_enabled) {
    const auto cameras = capture::list_cameras(test_camera_enabled);
    if (index < 0 || index >= int(cameras.size()))
        return false;
    camera_ = cameras[size_t(index)];
    selected_ = true;
    return true;
}

bool CCaptureEngine::open() {
    if (!selected_ || backend_)
        return backend_ != nullptr;
    auto backend = capture::make_backend(camera_);
    if (!backend->Open())
        return false;
    backend_ = std::move(backend);
    return true;
}

bool CCaptureEngine::start_compressor() {
    return backend_ && encoder_.Open(capture::kWidth, capture::kHeight);
}

bool CCaptureEngine::start_streaming() {
    if (!backend_)
        return false;
    return backend_->Start([this](const uint8_t* yuyv, uint32_t n) { OnFrame(yuyv, n); },
                           [this] {
                               if (sink_)
                                   sink_->on_camera_lost();
                           });
}

bool CCaptureEngine::close() {
    if (!backend_)
        return false;
    backend_->Stop();
    backend_.reset();
    encoder_.Close();
    // Whoever watched this camera watched the stream that ended here: a camera switched on again waits for
    // the room to ask for its video (packet 26) before it compresses and sends anything.
    sending_ = false;
    key_wanted_ = false;
    return true;
}

void CCaptureEngine::set_sending(bool on) {
    // Said again while sending: a new watcher needs a key frame to start from.
    if (on)
        key_wanted_ = true;
    sending_ = on;
}

void CCaptureEngine::OnFrame(const uint8_t* yuyv, uint32_t n) {
    if (sink_)
        sink_->on_raw_frame(yuyv, capture::kWidth, capture::kHeight, n);
    if (!sending_ || !encoder_.is_open())
        return;
    if (key_wanted_.exchange(false))
        encoder_.ForceKeyFrame();
    bool key = false;
    if (encoder_.Encode(yuyv, packet_, key) && !packet_.empty() && sink_)
        sink_->on_encoded_frame(packet_.data(), int(packet_.size()), uint32_t(capture::kFrameBytes), key);
}
