// The remote video windows (see CVideo.h).
#include "video/CVideo.h"

#include <algorithm>

#include "components/log.h"
#include "config/logging.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/thread_rule.h"
#include "video/CVideoItem.h"

CVideo::CVideo(call_back* cb, const std::string& install_folder, QWidget* parent, int window_count)
    : QWidget(parent), cb_(cb) {
    index_ = hash_init(50);
    const std::string skin = path_join(install_folder, "ui");
    for (int i = 0; i < window_count; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->index = i;
        slot->window = new CVideoItem(cb_, skin, this);
        slot->window->setObjectName(QString("video_item%1").arg(i));
        slot->place = QRect(kWindowWidth * i, 0, kWindowWidth, kWindowHeight);
        slot->window->setGeometry(slot->place);
        slot->window->show();
        free_.push_back(slot.get());
        slots_.push_back(std::move(slot));
    }
}

CVideo::~CVideo() {
    hash_destroy(index_, nullptr, nullptr, nullptr);
}

bool CVideo::event(QEvent* e) {
    return platform::dispatch_message(e, *this) || QWidget::event(e);
}

void CVideo::on_message(unsigned id, intptr_t wparam, intptr_t) {
    if (id == msg::kVideoWindowClosed && parentWidget()) // a window's close button: stop watching that user
        platform::post_message(parentWidget(), msg::kStopWatching, wparam, 0);
    else if (id == msg::kRelayout)
        Layout();
}

bool CVideo::AssignWindow(uint32_t user_id, uint32_t room_id, const proto::UserBlock& block) {
    ASSERT_UI_THREAD();
    const uint32_t key[2] = {user_id, room_id};
    {
        std::lock_guard lock(active_lock_);
        if (hash_get(index_, key, sizeof key))
            return true;
    }
    Slot* slot = nullptr;
    {
        std::lock_guard lock(free_lock_);
        if (free_.empty())
            return false;
        slot = free_.front();
        free_.pop_front();
    }
    slot->key[0] = user_id;
    slot->key[1] = room_id;
    {
        std::lock_guard lock(active_lock_);
        active_.push_back(slot);
        hash_add(index_, slot->key, sizeof slot->key, slot);
    }
    ++active_count_;
    slot->window->SetTitle(gbk_to_qstring(block.nickname));
    slot->window->OpenVideo(user_id, block.stream);
    return true;
}

bool CVideo::ReleaseWindow(uint32_t user_id, uint32_t room_id) {
    const uint32_t key[2] = {user_id, room_id};
    Slot* slot = nullptr;
    {
        std::lock_guard lock(active_lock_);
        slot = static_cast<Slot*>(hash_remove(index_, key, sizeof key));
        if (!slot)
            return false;
        active_.remove(slot);
    }
    slot->key[0] = slot->key[1] = 0;
    slot->window->Release();
    {
        std::lock_guard lock(free_lock_);
        free_.push_back(slot);
    }
    --active_count_;
    platform::post_message(this, msg::kRelayout, 0, 0);
    return true;
}

void CVideo::ReleaseAll() {
    {
        std::lock_guard lock(active_lock_);
        if (active_.empty())
            return;
        for (Slot* slot : active_) {
            hash_remove(index_, slot->key, sizeof slot->key);
            slot->key[0] = slot->key[1] = 0;
            slot->window->Release();
            std::lock_guard free_lock(free_lock_); // the only nesting: free inside active
            free_.push_back(slot);
            --active_count_;
        }
        active_.clear();
    }
    platform::post_message(this, msg::kRelayout, 0, 0);
}

void CVideo::OnRecvVideo(const uint8_t* data, size_t length) {
    LOG_VIDEO("OnRecvVideo %u\n", unsigned(length));
    if (length < 8)
        return;
    uint32_t key[2];
    key[0] =
        uint32_t(data[0]) | (uint32_t(data[1]) << 8) | (uint32_t(data[2]) << 16) | (uint32_t(data[3]) << 24);
    key[1] =
        uint32_t(data[4]) | (uint32_t(data[5]) << 8) | (uint32_t(data[6]) << 16) | (uint32_t(data[7]) << 24);
    Slot* slot = nullptr;
    {
        std::lock_guard lock(active_lock_);
        slot = static_cast<Slot*>(hash_get(index_, key, sizeof key));
    }
    // Windows live as long as the registry, so the one found stays valid outside the lock.
    if (slot)
        slot->window->ShowFrame(data, length);
}

CVideoItem* CVideo::WindowOf(uint32_t user_id, uint32_t room_id) {
    const uint32_t key[2] = {user_id, room_id};
    std::lock_guard lock(active_lock_);
    auto* slot = static_cast<Slot*>(hash_get(index_, key, sizeof key));
    return slot ? slot->window : nullptr;
}

std::vector<CVideoItem*> CVideo::Order() const {
    std::vector<CVideoItem*> order;
    {
        std::lock_guard lock(active_lock_);
        for (Slot* s : active_)
            order.push_back(s->window);
    }
    std::lock_guard lock(free_lock_);
    for (Slot* s : free_)
        order.push_back(s->window);
    return order;
}

void CVideo::Layout() {
    // The windows share the width in a row, each 4:3 and as high as the panel allows.
    const auto order = Order();
    const int count = std::max(int(order.size()), 1);
    int w = width() / count;
    if (w * 3 / 4 > height())
        w = height() * 4 / 3;
    const int h = w * 3 / 4;
    int position = 0;
    for (CVideoItem* item : order)
        item->setGeometry(w * position++, 0, w, h);
    update();
}

void CVideo::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Layout();
}
