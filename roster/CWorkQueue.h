// A small background work queue: one worker thread takes items strictly in the order they were queued and
// hands each to the handler. Items come from a pool that the first reset fills; stopping asks the handler's
// running item to give up at once (see cancelled()) and waits for the worker.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CWorkQueue;

// Runs one item on the worker thread; reports only by posting to its window.
class CWorkItemCall {
public:
    virtual ~CWorkItemCall() = default;
    virtual void OnWorkItem(CWorkQueue* queue, void* payload, int size) = 0;
};

class CWorkQueue {
public:
    static constexpr int kPayloadSize = 824;
    using Item = std::array<uint8_t, kPayloadSize>;

    CWorkQueue() = default;
    ~CWorkQueue();
    CWorkQueue(const CWorkQueue&) = delete;
    CWorkQueue& operator=(const CWorkQueue&) = delete;

    // Drops pending items and fills the pool with five items (more are made on demand afterwards).
    void Reset();
    // Sets the handler and starts the worker unless it runs.
    void Start(CWorkItemCall* handler);
    // A zeroed item from the pool; nullptr before the first reset.
    std::unique_ptr<Item> TakeFreeItem();
    void Queue(std::unique_ptr<Item> item);
    // Cancels the running item, ends the worker and waits for it; pending items stay until destruction or
    // the next reset. Returns at once when no worker runs.
    void Stop();

    bool running() const { return worker_.joinable(); }
    // True while the worker is asked to end: a handler checks it to abandon a long item.
    const std::atomic<bool>& cancelled() const { return stopped_; }
    size_t pending() const;

private:
    void Run();

    CWorkItemCall* handler_ = nullptr;
    std::atomic<bool> stopped_{true};
    mutable std::mutex pending_lock_;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<Item>> pending_;
    std::mutex pool_lock_;
    std::vector<std::unique_ptr<Item>> pool_;
    bool pool_ready_ = false;
    std::thread worker_;
};
