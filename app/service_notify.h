#pragma once
// Tells a service manager how the relay is doing: one datagram to the socket
// named in $NOTIFY_SOCKET (a path, or "@name" in the abstract namespace), as
// the manager's notify protocol asks. Plain POSIX, no library.

#include <string_view>

// Sends state ("READY=1", or several "KEY=value" lines) as one datagram.
// False when no manager asked for it ($NOTIFY_SOCKET unset) or it cannot be
// reached; the relay runs on either way.
bool notifyServiceManager(std::string_view state);
