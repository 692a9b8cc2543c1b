// One framed TCP connection on an Asio I/O context: reads packets and hands them to a callback on the I/O
// thread, and sends queued frames from any thread in the order each thread queued them.
// Frames wait in three lanes, served in this order: control (chat, users, rights; never dropped), voice (a
// few hundred milliseconds at most; the oldest is dropped) and video (a small allowance; the oldest is
// dropped). When even control frames no longer fit under the cap, the connection is treated as lost. A frame
// can be shared by many connections (one buffer for every receiver of a fan-out).
// The order is decided here, not in the kernel: the socket keeps only a little unsent data
// (TCP_NOTSENT_LOWAT) and each write takes at most a small chunk of what waits, so a control frame queued
// behind a slow receiver's video waits for the rest of one frame at most, not for megabytes already handed to
// the kernel. Threads: start, close_after_sending and every callback run on the I/O thread; send_frame,
// send_shared, try_send_now, close and the counters may be called from any thread, unless the connection
// was made for its I/O thread alone (Threads::IoOnly: a server's connections), which then calls everything
// but close() and takes no lock.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wire/framing.h"

class FramedSocket : public std::enable_shared_from_this<FramedSocket> {
public:
    using PacketFn = std::function<void(uint16_t type, const uint8_t* payload, uint32_t size)>;
    // Called once when the connection ends other than by close(): peer closed, reset, framing error, stuck.
    using ClosedFn = std::function<void(const std::string& why)>;

    static constexpr size_t kDefaultSendCap = 8u << 20;
    // Video waiting to be sent is kept small: a slow receiver gets the newest frames, not old ones, and the
    // control packets (chat, users, rights) never wait behind more than this.
    static constexpr size_t kVideoQueueCap = 256u << 10;
    // A connection starts with a small read buffer that grows only for traffic that needs it.
    static constexpr size_t kFirstReadBuffer = 4u << 10, kLargestReadBuffer = 64u << 10;
    // Voice waiting to be sent: about 200 ms of speech at most; older packets are useless to a listener.
    static constexpr size_t kVoiceQueueFrames = 10;
    // One write takes at most this much of what waits (and at most so many frames), so a control frame
    // queued meanwhile soon goes.
    static constexpr size_t kWriteChunk = 16u << 10, kGatherFrames = 256;
    // Unsent bytes past which the kernel takes no further write (TCP_NOTSENT_LOWAT; every write ends its
    // own segment, MSG_EOR, so that the kernel checks the limit at each write rather than filling a segment
    // it has begun): the kernel holds less than this plus one write. No system call asks it how much.
    // Once the kernel held a write back, writes take at most kSlowWrite until the receiver has caught up:
    // then less than 12 KB waits unsent, which at 80 KB/s is 0.15 s that a control frame may wait behind.
    static constexpr int kKernelUnsent = 8 << 10;
    static constexpr size_t kSlowWrite = kKernelUnsent / 2;
    // How long a closing connection may take to write its last words before it is closed anyway.
    static constexpr std::chrono::milliseconds kCloseLimit{1000};

    enum class Lane { Control, Voice, Video };
    using SharedFrame = std::shared_ptr<const std::vector<uint8_t>>;
    // Who calls: any thread, or the I/O thread alone (no lock then).
    enum class Threads { Any, IoOnly };

    FramedSocket(asio::ip::tcp::socket socket, size_t send_cap = kDefaultSendCap,
                 Threads threads = Threads::Any);

    // Starts reading. The callbacks run on the I/O thread.
    void start(PacketFn on_packet, ClosedFn on_closed);

    // Queues a whole frame (header written). Thread-safe. False when the frame was not queued: the
    // connection is closed, or the frame was droppable and the queue is full, or the queue is full for good
    // (then the connection is closed and reported lost).
    bool send_frame(std::vector<uint8_t> frame, bool droppable);
    // The same for a frame that may be shared with other connections, in the given lane. Called on the I/O
    // thread, the write starts at once, or with `batch` once the handlers that are ready now have run, so
    // that what else is queued for this connection meanwhile goes in the same write.
    bool send_shared(const SharedFrame& frame, Lane lane, bool batch = false);
    // A frame of a batch whose writes the caller starts itself: queued only. True when the caller must call
    // write_queued() for this connection once the batch is queued (its writer was idle). I/O thread.
    bool queue_shared(const SharedFrame& frame, Lane lane, bool* start_writer);
    // Writes what queue_shared() queued. I/O thread.
    void write_queued() { write_front(); }

    // Writes a whole frame at once, from any thread, when nothing waits or is being written and the socket
    // takes it (what it takes only in part goes on from the I/O thread, before anything else): a sender on
    // another thread then costs the I/O thread no turn of its loop. False when the frame was not taken; the
    // caller then queues it.
    bool try_send_now(const std::vector<uint8_t>& frame);

    // Closes the connection from our side; the closed callback is not called.
    void close();
    // Closes it once what is queued has been written (a last word to a peer that is sent away): takes no
    // more frames, writes what waits, then ends the stream, so the peer reads everything and then the end;
    // after `limit` it is closed whatever is left. Packets that still arrive are ignored, and the closed
    // callback is not called. I/O thread.
    void close_after_sending(std::chrono::milliseconds limit = kCloseLimit);
    // The largest frame accepted from now on (length field); I/O thread, e.g. from the packet callback.
    void set_max_frame(uint32_t length) { decoder_.set_max_length(length); }
    // Has the kernel give the connection up when the path to the peer is dead: keepalive probes after a
    // while without traffic, and a limit on how long sent data or probes may stay unanswered, both about
    // `limit_ms` in all. A peer whose kernel answers for a frozen process is not noticed here (see
    // docs/LINKS.md). I/O thread.
    void set_dead_path_limit(int limit_ms);
    // Bytes read from the peer so far, and bytes the kernel holds that have not been read yet: a peer is
    // heard while either grows. I/O thread.
    uint64_t bytes_read() const { return bytes_read_; }
    size_t unread_bytes() const;

    bool is_open() const { return !closed_.load() && !draining_.load(); }
    size_t queued_bytes() const;
    uint64_t dropped_frames() const { return dropped_.load(); }
    asio::ip::tcp::endpoint remote_endpoint() const { return remote_; }

private:
    void read_more();
    // Moves what waits into in_flight_ (control, then voice, then video) and writes it at once as far as the
    // socket and kKernelUnsent allow; the rest goes when the socket has room. I/O thread.
    void write_front();
    // Puts a frame in its lane, dropping what the lane's rules drop; false when it was not queued. Mutex
    // held.
    bool queue(const SharedFrame& frame, Lane lane);
    // One send of a whole frame when nothing waits; what the socket took (0 also when the frame is larger
    // than one write, or on an error, which is reported from the loop). Mutex held; any thread.
    size_t send_when_idle(const std::vector<uint8_t>& frame);
    // What waits is moved into in_flight_ and gather_ (a frame begun first, then control, voice, video), at
    // most one write's worth; its size. Mutex held.
    size_t gather();
    // One write of gather_: what the socket took; an error is reported from the loop. I/O thread.
    size_t write_gathered(std::error_code& ec);
    // Goes on writing once the socket has room again. I/O thread.
    void wait_for_room();
    bool on_io_thread();
    void fail(const std::string& why);
    // After a write: drops what was written, keeps a frame written in part, puts the untouched ones back.
    // True when nothing is left to write (the writer has stopped).
    bool written(size_t bytes);
    // What a flushing close does once nothing waits, and its end; I/O thread.
    void finish_flush();
    void close_now();
    // Shuts and closes the socket (under the lock); I/O thread.
    void shut();

    asio::ip::tcp::socket socket_;
    asio::io_context* io_ = nullptr; // the context the socket belongs to
    asio::ip::tcp::endpoint remote_;
    const size_t send_cap_;
    PacketFn on_packet_;
    ClosedFn on_closed_;
    framing::Decoder decoder_;
    std::vector<uint8_t> read_buf_;

    // A mutex that locks only for a connection that more than one thread calls.
    class Guard {
    public:
        explicit Guard(bool on) : on_(on) {}
        void lock() {
            if (on_)
                mutex_.lock();
        }
        void unlock() {
            if (on_)
                mutex_.unlock();
        }

    private:
        const bool on_;
        std::mutex mutex_;
    };
    const Threads threads_;
    mutable Guard mutex_;
    void drop_oldest(std::deque<SharedFrame>& lane);
    std::deque<SharedFrame> control_, voice_, video_; // frames not yet started
    size_t video_bytes_ = 0;
    struct InFlight {
        SharedFrame frame;
        Lane lane;
    };
    std::vector<InFlight> in_flight_; // frames in the write under way, after partial_
    SharedFrame partial_;             // a frame written in part: it goes on before anything else
    size_t partial_done_ = 0;
    std::vector<asio::const_buffer> gather_;
    size_t queued_bytes_ = 0;
    bool writing_ = false;
    size_t write_limit_ = kWriteChunk; // kSlowWrite while the receiver is behind
    std::atomic<bool> closed_{false};
    std::atomic<bool> draining_{false}; // close_after_sending: no new frames, nothing read
    bool flushed_ = false;              // the end of the stream was sent; I/O thread
    std::shared_ptr<asio::steady_timer> drain_timer_;
    std::atomic<uint64_t> dropped_{0};
    uint64_t bytes_read_ = 0; // I/O thread
};
