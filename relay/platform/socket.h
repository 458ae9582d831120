#pragma once
// Socket calls whose options, flags or errors differ between systems.

#include "relay/platform/net.h"

namespace platform {

enum class CAddressCheck { Local, NotLocal, Unknown };
// Whether this host has the address (it can be bound), without taking a port.
CAddressCheck checkLocalAddress(const sockaddr* address, socklen_t length);

}  // namespace platform
