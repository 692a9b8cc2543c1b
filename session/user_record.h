// The user list's record of one user.
#pragma once

#include "wire/protocol.h"

struct UserRecord {
    proto::UserBlock block;
};
