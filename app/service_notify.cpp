#include "app/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "relay/unique_fd.h"

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

bool notifyServiceManager(std::string_view state) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  sockaddr_un address;
  socklen_t length = 0;
  if (!name || !socketAddress(name, address, length)) return false;
  const CUniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket) return false;
  ssize_t sent;
  do {
    sent = ::sendto(socket.get(), state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
                    length);
  } while (sent < 0 && errno == EINTR);
  return sent == ssize_t(state.size());
}
