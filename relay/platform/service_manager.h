#pragma once
// The system's service manager, in the two ways systems have one.
//
// systemd and its like start the headless relay as a plain process and read
// its state from a notify socket: datagrams to the socket named in
// $NOTIFY_SOCKET (a path, or "@name" in the abstract namespace).
//
// The Windows service control manager starts the program and waits for it
// to connect; the relay then runs on the service's own thread, and the
// manager's stop and shutdown reach it as a termination does (signals.h).

#include <functional>
#include <string_view>

namespace platform {

// A connected, non-blocking socket to the manager, so that the system says
// when it has room again; -1 when no manager asked or it cannot be reached.
int connectToServiceManager();

enum class CDatagramSent { Whole, NoRoom, Failed };
CDatagramSent sendDatagram(int fd, std::string_view datagram);

// Whether programs run as services by connecting to the manager (Windows).
bool canRunAsService();

enum class CServiceRun { Ran, NotStartedByManager, Failed };
// Connects to the manager and runs `relay` as the service, reporting it
// starting, and stopped with relay's exit code (0: no error; another: that
// code as the service's own). Returns once the service has stopped; `error`
// holds the system's error number when it Failed.
CServiceRun runAsService(const std::function<int()>& relay, int& exitCode, int& error);

// The state in the notify socket's words ("READY=1", several "KEY=value"
// lines): a service under the Windows manager reports itself running at
// READY=1. Elsewhere, or outside a service, nothing.
void reportServiceState(std::string_view state);

}  // namespace platform
