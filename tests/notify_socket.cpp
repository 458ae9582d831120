#include "tests/notify_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>

CNotifySocket::CNotifySocket(const std::string& name)
    : name_(name), fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.empty() || name.size() > sizeof address.sun_path) return;
  name.copy(address.sun_path, name.size());
  if (name[0] == '@') address.sun_path[0] = '\0';
  bound_ = bind(fd_.get(), reinterpret_cast<sockaddr*>(&address),
                socklen_t(offsetof(sockaddr_un, sun_path) + name.size())) == 0;
}

std::string CNotifySocket::receive(int timeoutMs) {
  pollfd p{fd_.get(), POLLIN, 0};
  if (poll(&p, 1, timeoutMs) != 1) return "";
  char buffer[256];
  const ssize_t n = recv(fd_.get(), buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, size_t(n)) : "";
}
