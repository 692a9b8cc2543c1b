// The user list's record of one user.
#pragma once

#include "wire/protocol.h"

struct UserRecord {
    // 0 until the user's picture is stored; then the user id, which is also the picture's file name.
    uint32_t picture_ready = 0;
    proto::UserBlock block;
};
