// Defaults shared by the client and the service.
#pragma once

// The local service's TCP port on 127.0.0.1 when the settings file names none.
constexpr int kDefaultServicePort = 5288;
