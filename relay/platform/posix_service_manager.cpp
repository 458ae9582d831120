#include "relay/platform/service_manager.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "relay/platform/unique_fd.h"

namespace platform {
namespace {

// Fills address from the variable's value; false for anything else than an
// absolute path or an abstract name that fits.
bool socketAddress(std::string_view name, sockaddr_un& address, socklen_t& length) {
  if (name.size() < 2 || (name[0] != '/' && name[0] != '@') || name.size() > sizeof address.sun_path) return false;
  address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, name.data(), name.size());
  length = socklen_t(offsetof(sockaddr_un, sun_path) + name.size());
  if (name[0] == '@') {
    address.sun_path[0] = '\0';  // the abstract namespace: no terminating zero counts
  } else if (name.size() < sizeof address.sun_path) {
    ++length;  // a path includes its terminating zero
  }
  return true;
}

}  // namespace

int connectToServiceManager() {
  const char* name = std::getenv("NOTIFY_SOCKET");
  sockaddr_un address;
  socklen_t length = 0;
  if (!name || !socketAddress(name, address, length)) return -1;
  CUniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket || connect(socket.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) return -1;
  return socket.release();
}

CDatagramSent sendDatagram(int fd, std::string_view datagram) {
  ssize_t sent;
  do {
    sent = send(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent == ssize_t(datagram.size())) return CDatagramSent::Whole;
  return sent < 0 && errno == EAGAIN ? CDatagramSent::NoRoom : CDatagramSent::Failed;
}

// systemd and its like run a service as a plain process: --headless alone.
bool canRunAsService() { return false; }

CServiceRun runAsService(const std::function<int()>&, int&, int&) { return CServiceRun::Failed; }

// The notify socket says it all here.
void reportServiceState(std::string_view) {}

}  // namespace platform
