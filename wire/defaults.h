// Defaults shared by the client and the service.
#pragma once

// The local service's TCP port on 127.0.0.1 when the settings file names none.
constexpr int kDefaultServicePort = 5288;

// A link between a local service and a room server that stays silent this long is given up (milliseconds):
// the user's client sees its link lost and reconnects, and the room server frees the seat.
constexpr int kDefaultLinkTimeoutMs = 20000;
