// Framed connection (see framed_socket.h).
#include "components/framed_socket.h"

FramedSocket::FramedSocket(asio::ip::tcp::socket socket, size_t send_cap)
    : socket_(std::move(socket)), send_cap_(send_cap), read_buf_(kFirstReadBuffer) {
    std::error_code ec;
    remote_ = socket_.remote_endpoint(ec);
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
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
    if (closed_)
        return false;
    bool start_writing = false;
    {
        std::lock_guard lock(mutex_);
        if (droppable) {
            // Video: the oldest waiting frames make room for the newest; a frame larger than the whole video
            // allowance still goes when nothing else waits.
            while (!video_.empty() && video_bytes_ + frame.size() > kVideoQueueCap) {
                video_bytes_ -= video_.front().frame.size();
                queued_bytes_ -= video_.front().frame.size();
                video_.pop_front();
                ++dropped_;
            }
            if (queued_bytes_ + frame.size() > send_cap_) {
                ++dropped_;
                return false;
            }
            video_bytes_ += frame.size();
            queued_bytes_ += frame.size();
            video_.push_back({std::move(frame), true});
        } else {
            // Control packets first make room by dropping waiting video, never the frame being written.
            while (!video_.empty() && queued_bytes_ + frame.size() > send_cap_) {
                video_bytes_ -= video_.front().frame.size();
                queued_bytes_ -= video_.front().frame.size();
                video_.pop_front();
                ++dropped_;
            }
            if (queued_bytes_ + frame.size() > send_cap_) {
                asio::post(socket_.get_executor(),
                           [self = shared_from_this()] { self->fail("peer does not take its packets"); });
                return false;
            }
            queued_bytes_ += frame.size();
            queue_.push_back({std::move(frame), false});
        }
        if (!writing_) {
            writing_ = true;
            start_writing = true;
        }
    }
    if (start_writing)
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->write_front(); });
    return true;
}

void FramedSocket::write_front() {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || (queue_.empty() && video_.empty())) {
            writing_ = false;
            return;
        }
        // Control packets go before video that waits.
        if (!queue_.empty()) {
            in_flight_ = std::move(queue_.front().frame);
            queue_.pop_front();
        } else {
            in_flight_ = std::move(video_.front().frame);
            video_bytes_ -= in_flight_.size();
            video_.pop_front();
        }
    }
    asio::async_write(socket_, asio::buffer(in_flight_),
                      [self = shared_from_this()](std::error_code ec, size_t) {
                          if (ec) {
                              self->fail(ec.message());
                              return;
                          }
                          {
                              std::lock_guard lock(self->mutex_);
                              self->queued_bytes_ -= self->in_flight_.size();
                              self->in_flight_.clear();
                          }
                          self->write_front();
                      });
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

size_t FramedSocket::queued_bytes() const {
    std::lock_guard lock(mutex_);
    return queued_bytes_;
}
