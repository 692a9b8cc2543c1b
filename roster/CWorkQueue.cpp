// The background work queue (see CWorkQueue.h).
#include "roster/CWorkQueue.h"

CWorkQueue::~CWorkQueue() {
    Stop();
}

void CWorkQueue::Reset() {
    {
        std::lock_guard lock(pending_lock_);
        pending_.clear();
    }
    std::lock_guard lock(pool_lock_);
    pool_.clear();
    for (int i = 0; i < 5; ++i)
        pool_.push_back(std::make_unique<Item>());
    pool_ready_ = true;
}

void CWorkQueue::Start(CWorkItemCall* handler) {
    handler_ = handler;
    if (worker_.joinable())
        return;
    stopped_ = false;
    worker_ = std::thread([this] { Run(); });
}

std::unique_ptr<CWorkQueue::Item> CWorkQueue::TakeFreeItem() {
    std::lock_guard lock(pool_lock_);
    if (!pool_ready_)
        return nullptr;
    std::unique_ptr<Item> item;
    if (!pool_.empty()) {
        item = std::move(pool_.back());
        pool_.pop_back();
    } else {
        item = std::make_unique<Item>();
    }
    item->fill(0);
    return item;
}

void CWorkQueue::Queue(std::unique_ptr<Item> item) {
    if (!item)
        return;
    {
        std::lock_guard lock(pending_lock_);
        pending_.push_back(std::move(item));
    }
    wake_.notify_one();
}

size_t CWorkQueue::pending() const {
    std::lock_guard lock(pending_lock_);
    return pending_.size();
}

void CWorkQueue::Stop() {
    if (!worker_.joinable())
        return;
    {
        std::lock_guard lock(pending_lock_);
        stopped_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void CWorkQueue::Run() {
    for (;;) {
        std::unique_ptr<Item> item;
        {
            std::unique_lock lock(pending_lock_);
            wake_.wait(lock, [this] { return stopped_ || !pending_.empty(); });
            if (stopped_)
                return;
            item = std::move(pending_.front());
            pending_.pop_front();
        }
        if (handler_)
            handler_->OnWorkItem(this, item->data(), kPayloadSize);
        std::lock_guard lock(pool_lock_);
        pool_.push_back(std::move(item));
    }
}
