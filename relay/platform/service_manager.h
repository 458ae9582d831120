#pragma once
// The service manager's notify socket, as its protocol asks: datagrams to
// the socket named in $NOTIFY_SOCKET (a path, or "@name" in the abstract
// namespace).

#include <string_view>

namespace platform {

// A connected, non-blocking socket to the manager, so that the system says
// when it has room again; -1 when no manager asked or it cannot be reached.
int connectToServiceManager();

enum class CDatagramSent { Whole, NoRoom, Failed };
CDatagramSent sendDatagram(int fd, std::string_view datagram);

}  // namespace platform
