// The room's users as the client knows them: one record per user, in arrival order, with the local user's
// record marked. Plain C++, updated synchronously by the session controller as packets are dispatched, so a
// packet about a user that arrives right behind the user's announcement finds the record. The user list and
// other panels are views: they are told of every change and never own a record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/user_record.h"
#include "wire/protocol.h"

// A view of the roster, told of every change on the thread that made it (the UI thread).
class IRosterView {
public:
    virtual ~IRosterView() = default;
    virtual void OnUserAdded(UserRecord& record) = 0;
    // The record is gone when this is called; `index` is where it stood in arrival order.
    virtual void OnUserRemoved(uint32_t user_id, size_t index) = 0;
    virtual void OnUserChanged(UserRecord& record) = 0;
    virtual void OnRosterCleared() = 0;
};

// A raised hand waiting for the host, with the wall-clock time it went up (milliseconds since 1970).
struct RaisedHand {
    uint32_t user_id = 0;
    int64_t since_ms = 0;
};

class Roster {
public:
    // Adds a user with the state bits cleared, or refreshes the record of a user who is there already (a
    // user announced twice keeps one record). Returns the record.
    UserRecord& Add(const proto::UserBlock& block);
    // The local user's record, made from the login result.
    UserRecord& AddSelf(const proto::LoginResult& result, uint32_t own_user_id);
    // Removes a user; the local user's record stays. False when there was no such (other) user.
    bool Remove(uint32_t user_id);
    // Removes every record, the local one included.
    void Clear();

    UserRecord* FindById(uint32_t user_id);
    // The first record whose nickname equals the text byte for byte.
    UserRecord* FindByName(const std::string& nickname);
    // How the client names a user (GBK): the nickname, followed by the user id in brackets while another
    // user in the room has the same nickname, so that two students of one name are told apart. Empty for
    // an unknown user.
    std::string DisplayName(uint32_t user_id) const;
    UserRecord* Self() { return self_; }
    // The position of a record in arrival order, or -1.
    int IndexOf(uint32_t user_id) const;
    bool HostOnline() const;
    size_t size() const { return users_.size(); }
    // The records in arrival order.
    const std::vector<std::unique_ptr<UserRecord>>& users() const { return users_; }

    // Updates that tell the views. Each is a no-op for an unknown user.
    void SetMicrophone(uint32_t user_id, bool on);
    // A zero format code also clears the video-open bit.
    void SetStream(uint32_t user_id, const proto::StreamDesc& stream);
    void SetState(uint32_t user_id, uint32_t bits, bool on);
    void ChangeRights(uint32_t user_id, uint32_t rights, bool add);
    // The local record's camera fields: format code 1 while sending or when a camera is present.
    void SetSelfCamera(bool sending, bool camera_present);
    // Tells the views that a record changed in place.
    void Changed(UserRecord& record);

    // The raised hands in the order they went up (the hand bit of the state, kept in order). A hand goes
    // into the queue when its bit is set and leaves it when the bit is cleared or the user leaves.
    const std::vector<RaisedHand>& hands() const { return hands_; }

    void AddView(IRosterView* view);
    void RemoveView(IRosterView* view);

private:
    UserRecord& Add(const proto::UserBlock& block, bool self);
    void DropHand(uint32_t user_id);

    std::vector<std::unique_ptr<UserRecord>> users_;
    std::vector<RaisedHand> hands_;
    UserRecord* self_ = nullptr;
    std::vector<IRosterView*> views_;
};
