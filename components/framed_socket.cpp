// Framed connection (see framed_socket.h).
#include "components/framed_socket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace {
// Every write ends a segment of its own: the kernel then checks TCP_NOTSENT_LOWAT before each write, and
// never adds to a segment that waits unsent.
constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT | MSG_EOR;
} // namespace

FramedSocket::FramedSocket(asio::ip::tcp::socket socket, size_t send_cap, Threads threads)
    : socket_(std::move(socket)), send_cap_(send_cap), read_buf_(kFirstReadBuffer), threads_(threads),
      mutex_(threads == Threads::Any) {
    // The executor is kept in a local: target() points into it, so a temporary would be gone by the call.
    const auto executor = socket_.get_executor();
    if (const auto* io = executor.target<asio::io_context::executor_type>())
        io_ = &io->context();
    std::error_code ec;
    remote_ = socket_.remote_endpoint(ec);
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    // Writes are tried at once and finished asynchronously only for what the socket does not take.
    socket_.non_blocking(true, ec);
    // Without this the kernel takes megabytes (its send buffer grows to 4 MB) and a chat line queued later
    // waits behind all of it.
    const int unsent = kKernelUnsent;
    if (socket_.is_open())
        setsockopt(socket_.native_handle(), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsent, sizeof unsent);
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
            self->bytes_read_ += n;
            if (self->draining_) { // a closing connection only waits for the peer's end
                self->read_more();
                return;
            }
            bool ok = self->decoder_.feed(self->read_buf_.data(), n,
                                          [&](uint16_t type, const uint8_t* p, uint32_t size) {
                                              if (!self->closed_ && !self->draining_ && self->on_packet_)
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

bool FramedSocket::send_shared(const SharedFrame& frame, Lane lane, bool batch) {
    if (closed_ || draining_ || !frame)
        return false;
    const size_t size = frame->size();
    bool start_writing = false;
    {
        std::lock_guard lock(mutex_);
        if (draining_)
            return false;
        // Nothing waits and nothing is being written: on the I/O thread the frame goes straight to the
        // socket (the usual case of a fan-out), with no queue, no second look under the lock and no turn of
        // the loop. What the socket does not take goes on later, before anything else.
        const bool idle = !writing_ && !partial_ && control_.empty() && voice_.empty() && video_.empty();
        if (idle && !batch && on_io_thread()) {
            const size_t n = send_when_idle(*frame);
            if (n == size)
                return true;
            if (n > 0) {
                partial_ = frame;
                partial_done_ = n;
                queued_bytes_ += size - n;
                writing_ = true;
                start_writing = true;
            }
        }
        if (!start_writing && !queue(frame, lane))
            return false;
        if (!writing_) {
            writing_ = true;
            start_writing = true;
        }
    }
    if (!start_writing)
        return true;
    // On the I/O thread the write starts at once (a fan-out then costs no extra turn of the loop per
    // receiver); from other threads, and for a batch, it is handed to the loop.
    if (!batch && on_io_thread())
        write_front();
    else
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->write_front(); });
    return true;
}

bool FramedSocket::queue_shared(const SharedFrame& frame, Lane lane, bool* start_writer) {
    *start_writer = false;
    if (closed_ || draining_ || !frame)
        return false;
    std::lock_guard lock(mutex_);
    if (draining_ || !queue(frame, lane))
        return false;
    if (!writing_) {
        writing_ = true;
        *start_writer = true;
    }
    return true;
}

bool FramedSocket::queue(const SharedFrame& frame, Lane lane) {
    const size_t size = frame->size();
    switch (lane) {
    case Lane::Video:
        // The oldest waiting frames make room for the newest; a frame larger than the whole video allowance
        // still goes when nothing else waits.
        while (!video_.empty() && video_bytes_ + size > kVideoQueueCap)
            drop_oldest(video_);
        if (queued_bytes_ + size > send_cap_) {
            ++dropped_;
            return false;
        }
        video_bytes_ += size;
        video_.push_back(frame);
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
        voice_.push_back(frame);
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
        control_.push_back(frame);
        break;
    }
    queued_bytes_ += size;
    return true;
}

size_t FramedSocket::send_when_idle(const std::vector<uint8_t>& frame) {
    // A frame larger than one write takes the queued path, which cuts it.
    if (frame.size() > write_limit_)
        return 0;
    const ssize_t sent = ::send(socket_.native_handle(), frame.data(), frame.size(), kSendFlags);
    if (sent < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            // Reported from the loop, never from inside a sender's call (which may be walking connections).
            asio::post(socket_.get_executor(),
                       [self = shared_from_this(),
                        why = std::error_code(errno, std::system_category()).message()] { self->fail(why); });
        return 0;
    }
    return size_t(sent);
}

bool FramedSocket::on_io_thread() {
    return threads_ == Threads::IoOnly || (io_ && io_->get_executor().running_in_this_thread());
}

void FramedSocket::write_front() {
    for (;;) {
        bool flush_done = false;
        size_t bytes = 0;
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                writing_ = false;
                return;
            }
            bytes = gather();
            if (bytes == 0) {
                writing_ = false;
                flush_done = draining_;
            }
        }
        if (flush_done)
            finish_flush();
        if (bytes == 0)
            return;
        // One send that the socket usually takes whole: no asynchronous operation, no completion to run.
        std::error_code ec;
        const size_t n = write_gathered(ec);
        if (ec) {
            // Reported from the loop, never from inside a sender's call (which may be walking connections).
            asio::post(socket_.get_executor(),
                       [self = shared_from_this(), why = ec.message()] { self->fail(why); });
            return;
        }
        const bool idle = written(n);
        if (idle && !draining_)
            return; // all written, nothing queued meanwhile
        if (n < bytes) {
            wait_for_room();
            return;
        }
        // anything queued meanwhile goes next
    }
}

size_t FramedSocket::gather() {
    const SharedFrame* first = !control_.empty() ? &control_.front()
                               : !voice_.empty() ? &voice_.front()
                               : !video_.empty() ? &video_.front()
                                                 : nullptr;
    if (!partial_ && !first)
        return 0;
    in_flight_.clear();
    gather_.clear();
    // A frame begun goes on first; then whole frames by lane, the last one cut to one write's size (its rest
    // goes next, before anything else).
    size_t bytes = 0;
    auto add = [&](const SharedFrame& f, size_t from) {
        const size_t n = std::min(f->size() - from, write_limit_ - bytes);
        gather_.push_back(asio::buffer(f->data() + from, n));
        bytes += n;
    };
    if (partial_)
        add(partial_, partial_done_);
    auto take = [&](std::deque<SharedFrame>& lane, Lane kind) {
        while (!lane.empty() && bytes < write_limit_ && gather_.size() < kGatherFrames) {
            if (kind == Lane::Video)
                video_bytes_ -= lane.front()->size();
            in_flight_.push_back({std::move(lane.front()), kind});
            lane.pop_front();
            add(in_flight_.back().frame, 0);
        }
    };
    take(control_, Lane::Control);
    take(voice_, Lane::Voice);
    take(video_, Lane::Video);
    return bytes;
}

size_t FramedSocket::write_gathered(std::error_code& ec) {
    if (gather_.size() == 1) {
        // One frame (the usual case of a fan-out): a plain send, as cheap as the kernel offers.
        const ssize_t sent =
            ::send(socket_.native_handle(), gather_[0].data(), gather_[0].size(), kSendFlags);
        if (sent >= 0)
            return size_t(sent);
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            ec = std::error_code(errno, std::system_category());
        return 0;
    }
    const size_t n = socket_.send(gather_, MSG_EOR | MSG_DONTWAIT, ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        ec.clear();
        return 0;
    }
    return n;
}

void FramedSocket::wait_for_room() {
    {
        std::lock_guard lock(mutex_);
        write_limit_ = kSlowWrite;
    }
    // The socket has room again when the unsent bytes fell below half of kKernelUnsent (the kernel's rule).
    socket_.async_wait(asio::socket_base::wait_write, [self = shared_from_this()](std::error_code ec) {
        if (ec) {
            if (ec != asio::error::operation_aborted)
                self->fail(ec.message());
            return;
        }
        self->write_front();
    });
}

bool FramedSocket::written(size_t bytes) {
    std::lock_guard lock(mutex_);
    queued_bytes_ -= bytes;
    if (partial_) {
        const size_t n = std::min(bytes, partial_->size() - partial_done_);
        partial_done_ += n;
        bytes -= n;
        if (partial_done_ == partial_->size()) {
            partial_.reset();
            partial_done_ = 0;
        }
    }
    size_t next = 0;
    for (; next < in_flight_.size() && bytes > 0; ++next) {
        const size_t size = in_flight_[next].frame->size();
        if (bytes >= size) {
            bytes -= size;
            continue;
        }
        partial_ = in_flight_[next].frame;
        partial_done_ = bytes;
        bytes = 0;
    }
    // Frames not begun return to the front of their lanes, where a newer control frame may overtake them.
    for (size_t i = in_flight_.size(); i-- > next;) {
        InFlight& f = in_flight_[i];
        switch (f.lane) {
        case Lane::Control:
            control_.push_front(std::move(f.frame));
            break;
        case Lane::Voice:
            voice_.push_front(std::move(f.frame));
            break;
        case Lane::Video:
            video_bytes_ += f.frame->size();
            video_.push_front(std::move(f.frame));
            break;
        }
    }
    in_flight_.clear();
    // All written and nothing queued meanwhile: the writer stops here, without another look; the receiver
    // has caught up.
    if (!partial_ && control_.empty() && voice_.empty() && video_.empty() && !closed_) {
        writing_ = false;
        write_limit_ = kWriteChunk;
        return true;
    }
    return false;
}

void FramedSocket::fail(const std::string& why) {
    if (draining_) { // the end of a flushing close, not a loss to report
        close_now();
        return;
    }
    if (closed_.exchange(true))
        return;
    shut();
    if (on_closed_)
        on_closed_(why);
}

void FramedSocket::close_after_sending(std::chrono::milliseconds limit) {
    if (closed_ || draining_.exchange(true))
        return;
    drain_timer_ = std::make_shared<asio::steady_timer>(socket_.get_executor(), limit);
    drain_timer_->async_wait([self = shared_from_this()](std::error_code ec) {
        if (!ec)
            self->close_now();
    });
    bool idle = false;
    {
        std::lock_guard lock(mutex_);
        idle = !writing_;
    }
    if (idle)
        finish_flush();
}

void FramedSocket::finish_flush() {
    if (flushed_ || closed_)
        return;
    flushed_ = true;
    // The peer reads everything written and then the end of the stream; the connection is closed when the
    // peer closes its side too (so that nothing unread makes the kernel reset it) or at the time limit.
    std::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
    if (ec)
        close_now();
}

void FramedSocket::close_now() {
    if (closed_.exchange(true))
        return;
    if (drain_timer_)
        drain_timer_->cancel();
    shut();
}

void FramedSocket::close() {
    if (closed_.exchange(true))
        return;
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->shut(); });
}

void FramedSocket::shut() {
    // Under the lock: a sender on another thread (try_send_now) never writes to a descriptor closed
    // meanwhile, which may already be another connection's.
    std::lock_guard lock(mutex_);
    std::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
}

bool FramedSocket::try_send_now(const std::vector<uint8_t>& frame) {
    std::lock_guard lock(mutex_);
    if (closed_ || draining_ || writing_ || partial_ || !control_.empty() || !voice_.empty() ||
        !video_.empty() || frame.empty())
        return false;
    const size_t n = send_when_idle(frame);
    if (n == 0)
        return false;
    if (n == frame.size())
        return true;
    // The rest goes on from the I/O thread, before anything else.
    partial_ = std::make_shared<const std::vector<uint8_t>>(frame);
    partial_done_ = n;
    queued_bytes_ += frame.size() - n;
    writing_ = true;
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->write_front(); });
    return true;
}

void FramedSocket::set_dead_path_limit(int limit_ms) {
    if (limit_ms <= 0 || !socket_.is_open())
        return;
    // Probes start after half the limit without traffic and go every eighth of it, four of them: about the
    // limit in all. TCP_USER_TIMEOUT ends the connection when data (or the probes) stays unacknowledged
    // that long, so a dead path is noticed within the limit whether or not we were sending. A receiver that
    // is only slow acknowledges what it gets and keeps its connection; one that keeps its window shut for the
    // whole limit while data waits for it is given up too (Linux 5.11 and later).
    const int fd = socket_.native_handle();
    const int on = 1, idle = std::max(1, limit_ms / 2000), interval = std::max(1, limit_ms / 8000), count = 4;
    const unsigned user_timeout = unsigned(limit_ms);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout, sizeof user_timeout);
}

size_t FramedSocket::unread_bytes() const {
    std::error_code ec;
    const size_t n = socket_.available(ec);
    return ec ? 0 : n;
}

size_t FramedSocket::queued_bytes() const {
    std::lock_guard lock(mutex_);
    return queued_bytes_;
}
