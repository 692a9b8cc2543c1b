// The remote video windows: a fixed pool of three, lent to the users being watched, found by (user, room)
// through the hash library for every video packet, and returned when watching stops, the sender's camera
// closes, the sender leaves or the link is rebuilt. The watched windows stand first, in the order watching
// began, then the idle ones in the order they were returned.
#pragma once

#include <QWidget>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "components/hash.h"
#include "platform/messages.h"
#include "session/call_back.h"
#include "session/panels.h"

class CVideoItem;

class CVideo : public QWidget, public IVideoRegistry, public platform::MessageTarget {
public:
    static constexpr int kWindowWidth = 256, kWindowHeight = 192;

    CVideo(call_back* cb, const std::string& install_folder, QWidget* parent, int window_count = 3);
    ~CVideo() override;

    // IVideoRegistry
    bool AssignWindow(uint32_t user_id, uint32_t room_id, const proto::UserBlock& block) override;
    bool ReleaseWindow(uint32_t user_id, uint32_t room_id) override;
    void ReleaseAll() override;
    void OnRecvVideo(const uint8_t* data, size_t length) override;

    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

    int active_count() const { return active_count_; }
    // The window lent for a key, or none.
    CVideoItem* WindowOf(uint32_t user_id, uint32_t room_id);
    // The windows in their layout order.
    std::vector<CVideoItem*> Order() const;
    void Layout();

protected:
    bool event(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    struct Slot {
        uint32_t key[2] = {0, 0}; // user id, room id: the index's key lives here
        CVideoItem* window = nullptr;
        int index = 0;
        QRect place;
    };

    call_back* cb_;
    std::vector<std::unique_ptr<Slot>> slots_;
    mutable std::mutex active_lock_;
    std::list<Slot*> active_;
    HHASH index_ = nullptr;
    mutable std::mutex free_lock_;
    std::list<Slot*> free_;
    std::atomic<int> active_count_{0};
};
