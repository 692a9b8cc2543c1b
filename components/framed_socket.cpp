// Framed connection (see framed_socket.h).
#include "components/framed_socket.h"

FramedSocket::FramedSocket(asio::ip::tcp::socket socket, size_t send_cap)
    : socket_(std::move(socket)), send_cap_(send_cap), read_buf_(kFirstReadBuffer) {
    std::error_code ec;
    remote_ = socket_.remote_endpoint(ec);
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    // Writes are tried at once and finished asynchronously only for what the socket does not take.
    socket_.non_blocking(true, ec);
}

void FramedSocket::start(PacketFn on_packet, ClosedFn on_closed) {
    on_packet_ = std::move(on_packet);
    on_closed_ = std::move(on_closed);
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->read_more(); });
}

void FramedSocket::read_more() {
    if (closed_)
        return;
    socket_.async_read_some(
        asio::buffer(read_buf_), [self = shared_from_this()](std::error_code ec, size_t n) {
            if (ec) {
                self->fail(ec == asio::error::eof ? "closed by peer" : ec.message());
                return;
            }
            bool ok = self->decoder_.feed(self->read_buf_.data(), n,
                                          [&](uint16_t type, const uint8_t* p, uint32_t size) {
                                              if (!self->closed_ && self->on_packet_)
                                                  self->on_packet_(type, p, size);
                                          });
            if (!ok) {
                self->fail("framing error");
                return;
            }
            // A read that filled the buffer asks for a larger one (video); idle connections stay small.
            if (n == self->read_buf_.size() && self->read_buf_.size() < kLargestReadBuffer)
                self->read_buf_.resize(self->read_buf_.size() * 2);
            self->read_more();
        });
}

bool FramedSocket::send_frame(std::vector<uint8_t> frame, bool droppable) {
    return send_shared(std::make_shared<const std::vector<uint8_t>>(std::move(frame)),
                       droppable ? Lane::Video : Lane::Control);
}

void FramedSocket::drop_oldest(std::deque<SharedFrame>& lane) {
    const size_t n = lane.front()->size();
    if (&lane == &video_)
        video_bytes_ -= n;
    queued_bytes_ -= n;
    lane.pop_front();
    ++dropped_;
}

bool FramedSocket::send_shared(SharedFrame frame, Lane lane) {
    if (closed_ || !frame)
        return false;
    const size_t size = frame->size();
    bool start_writing = false;
    {
        std::lock_guard lock(mutex_);
        if (draining_)
            return false;
        switch (lane) {
        case Lane::Video:
            // The oldest waiting frames make room for the newest; a frame larger than the whole video
            // allowance still goes when nothing else waits.
            while (!video_.empty() && video_bytes_ + size > kVideoQueueCap)
                drop_oldest(video_);
            if (queued_bytes_ + size > send_cap_) {
                ++dropped_;
                return false;
            }
            video_bytes_ += size;
            video_.push_back(std::move(frame));
            break;
        case Lane::Voice:
            // A listener behind by more than a few hundred milliseconds gets the newest speech.
            while (voice_.size() >= kVoiceQueueFrames)
                drop_oldest(voice_);
            while (!video_.empty() && queued_bytes_ + size > send_cap_)
                drop_oldest(video_);
            if (queued_bytes_ + size > send_cap_) {
                ++dropped_;
                return false;
            }
            voice_.push_back(std::move(frame));
            break;
        case Lane::Control:
            // Control packets make room by dropping waiting video and voice, never a frame being written.
            while (!video_.empty() && queued_bytes_ + size > send_cap_)
                drop_oldest(video_);
            while (!voice_.empty() && queued_bytes_ + size > send_cap_)
                drop_oldest(voice_);
            if (queued_bytes_ + size > send_cap_) {
                asio::post(socket_.get_executor(),
                           [self = shared_from_this()] { self->fail("peer does not take its packets"); });
                return false;
            }
            control_.push_back(std::move(frame));
            break;
        }
        queued_bytes_ += size;
        if (!writing_) {
            writing_ = true;
            start_writing = true;
        }
    }
    if (!start_writing)
        return true;
    // On the I/O thread the write starts at once (a fan-out then costs no extra turn of the loop per
    // receiver); from other threads it is handed over.
    if (on_io_thread())
        write_front();
    else
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->write_front(); });
    return true;
}

bool FramedSocket::on_io_thread() {
    // The executor is kept in a local: target() points into it, so a temporary would be gone by the call.
    const auto executor = socket_.get_executor();
    const auto* io = executor.target<asio::io_context::executor_type>();
    return io && io->running_in_this_thread();
}

void FramedSocket::write_front() {
    for (;;) {
        size_t bytes = 0;
        {
            std::lock_guard lock(mutex_);
            if (closed_ || (control_.empty() && voice_.empty() && video_.empty())) {
                writing_ = false;
                if (draining_ && !closed_)
                    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->close(); });
                return;
            }
            in_flight_.clear();
            gather_.clear();
            auto take = [&](std::deque<SharedFrame>& lane) {
                while (!lane.empty() && in_flight_.size() < kGatherFrames &&
                       (in_flight_.empty() || bytes + lane.front()->size() <= kGatherBytes)) {
                    bytes += lane.front()->size();
                    if (&lane == &video_)
                        video_bytes_ -= lane.front()->size();
                    in_flight_.push_back(std::move(lane.front()));
                    lane.pop_front();
                }
            };
            take(control_);
            take(voice_);
            take(video_);
            for (const SharedFrame& f : in_flight_)
                gather_.push_back(asio::buffer(*f));
        }
        // One send that the socket usually takes whole: no asynchronous operation, no completion to run.
        std::error_code ec;
        size_t written = socket_.write_some(gather_, ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            ec.clear();
            written = 0;
        }
        if (ec) {
            // Reported from the loop, never from inside a sender's call (which may be walking connections).
            asio::post(socket_.get_executor(),
                       [self = shared_from_this(), why = ec.message()] { self->fail(why); });
            return;
        }
        {
            std::lock_guard lock(mutex_);
            queued_bytes_ -= written;
            if (written == bytes) {
                in_flight_.clear();
                continue; // anything queued meanwhile goes next
            }
        }
        // The socket is full: the rest goes when it has room.
        size_t skip = written, first = 0;
        while (skip > 0 && gather_[first].size() <= skip)
            skip -= gather_[first++].size();
        gather_.erase(gather_.begin(), gather_.begin() + long(first));
        gather_.front() += skip;
        asio::async_write(socket_, gather_, [self = shared_from_this()](std::error_code ec, size_t n) {
            if (ec) {
                self->fail(ec.message());
                return;
            }
            {
                std::lock_guard lock(self->mutex_);
                self->queued_bytes_ -= n;
                self->in_flight_.clear();
            }
            self->write_front();
        });
        return;
    }
}

void FramedSocket::fail(const std::string& why) {
    if (closed_.exchange(true))
        return;
    std::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    if (on_closed_)
        on_closed_(why);
}

void FramedSocket::close() {
    if (closed_.exchange(true))
        return;
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        std::error_code ec;
        self->socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
        self->socket_.close(ec);
    });
}

void FramedSocket::close_after_sending() {
    bool now = false;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || draining_)
            return;
        draining_ = true;
        now = !writing_;
    }
    if (now)
        close();
}

size_t FramedSocket::queued_bytes() const {
    std::lock_guard lock(mutex_);
    return queued_bytes_;
}
