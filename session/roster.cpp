// The room's users (see roster.h).
#include "session/roster.h"

#include <algorithm>
#include <chrono>

#include "wire/packet_types.h"

UserRecord& Roster::Add(const proto::UserBlock& block) {
    return Add(block, false);
}

UserRecord& Roster::Add(const proto::UserBlock& block, bool self) {
    if (UserRecord* existing = FindById(block.user_id)) {
        if (self)
            self_ = existing;
        const uint32_t state = existing->block.state;
        existing->block = block;
        existing->block.state = state;
        Changed(*existing);
        return *existing;
    }
    auto record = std::make_unique<UserRecord>();
    record->block = block;
    record->block.state = 0;
    users_.push_back(std::move(record));
    UserRecord& added = *users_.back();
    // The views see the local user's record as such when they are told of it.
    if (self)
        self_ = &added;
    for (IRosterView* v : views_)
        v->OnUserAdded(added);
    return added;
}

UserRecord& Roster::AddSelf(const proto::LoginResult& r, uint32_t own) {
    proto::UserBlock block;
    block.user_id = own;
    block.ip = r.ip;
    block.port = r.port;
    block.rights = r.rights;
    block.stream.bpp = 16;
    block.nickname = r.nickname;
    return Add(block, true);
}

bool Roster::Remove(uint32_t user_id) {
    auto it = std::find_if(users_.begin(), users_.end(),
                           [&](const auto& u) { return u->block.user_id == user_id && u.get() != self_; });
    if (it == users_.end())
        return false;
    const size_t index = size_t(it - users_.begin());
    users_.erase(it);
    DropHand(user_id);
    for (IRosterView* v : views_)
        v->OnUserRemoved(user_id, index);
    return true;
}

void Roster::Clear() {
    users_.clear();
    hands_.clear();
    self_ = nullptr;
    for (IRosterView* v : views_)
        v->OnRosterCleared();
}

UserRecord* Roster::FindById(uint32_t user_id) {
    for (auto& u : users_)
        if (u->block.user_id == user_id)
            return u.get();
    return nullptr;
}

UserRecord* Roster::FindByName(const std::string& nickname) {
    for (auto& u : users_)
        if (u->block.nickname == nickname)
            return u.get();
    return nullptr;
}

std::string Roster::DisplayName(uint32_t user_id) const {
    const UserRecord* user = nullptr;
    for (const auto& u : users_)
        if (u->block.user_id == user_id)
            user = u.get();
    if (!user)
        return {};
    for (const auto& u : users_)
        if (u.get() != user && u->block.nickname == user->block.nickname)
            return user->block.nickname + " (" + std::to_string(user_id) + ")";
    return user->block.nickname;
}

int Roster::IndexOf(uint32_t user_id) const {
    for (size_t i = 0; i < users_.size(); ++i)
        if (users_[i]->block.user_id == user_id)
            return int(i);
    return -1;
}

bool Roster::HostOnline() const {
    return std::any_of(users_.begin(), users_.end(),
                       [](const auto& u) { return (u->block.rights & pkt::kRightHost) != 0; });
}

void Roster::SetMicrophone(uint32_t user_id, bool on) {
    SetState(user_id, pkt::kStateMicrophone, on);
}

void Roster::SetStream(uint32_t user_id, const proto::StreamDesc& stream) {
    UserRecord* r = FindById(user_id);
    if (!r)
        return;
    r->block.stream = stream;
    if (stream.fourcc == 0)
        r->block.state &= ~uint32_t(pkt::kStateVideo);
    Changed(*r);
}

void Roster::SetState(uint32_t user_id, uint32_t bits, bool on) {
    UserRecord* r = FindById(user_id);
    if (!r)
        return;
    const bool hand_before = r->block.state & pkt::kStateHand;
    r->block.state = on ? (r->block.state | bits) : (r->block.state & ~bits);
    const bool hand_after = r->block.state & pkt::kStateHand;
    if (hand_after && !hand_before) {
        const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
        hands_.push_back({user_id, now});
    } else if (!hand_after && hand_before) {
        DropHand(user_id);
    }
    Changed(*r);
}

void Roster::DropHand(uint32_t user_id) {
    hands_.erase(std::remove_if(hands_.begin(), hands_.end(),
                                [user_id](const RaisedHand& h) { return h.user_id == user_id; }),
                 hands_.end());
}

void Roster::ChangeRights(uint32_t user_id, uint32_t rights, bool add) {
    UserRecord* r = FindById(user_id);
    if (!r)
        return;
    r->block.rights = add ? (r->block.rights | rights) : (r->block.rights & ~rights);
    Changed(*r);
}

void Roster::SetSelfCamera(bool sending, bool present) {
    if (!self_)
        return;
    self_->block.stream.fourcc = sending || present ? 1 : 0;
    self_->block.state = sending ? (self_->block.state | pkt::kStateVideo)
                                 : (self_->block.state & ~uint32_t(pkt::kStateVideo));
    Changed(*self_);
}

void Roster::Changed(UserRecord& record) {
    for (IRosterView* v : views_)
        v->OnUserChanged(record);
}

void Roster::AddView(IRosterView* view) {
    if (view && std::find(views_.begin(), views_.end(), view) == views_.end())
        views_.push_back(view);
}

void Roster::RemoveView(IRosterView* view) {
    views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}
