#include "app/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

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

// Connected, so that the kernel reports writable once the manager's socket
// has room again.
int connectToManager() {
  const char* name = std::getenv("NOTIFY_SOCKET");
  sockaddr_un address;
  socklen_t length = 0;
  if (!name || !socketAddress(name, address, length)) return -1;
  CUniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket || connect(socket.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) return -1;
  return socket.release();
}

}  // namespace

CServiceNotifier::CServiceNotifier(CEventLoop* loop) : loop_(loop), socket_(connectToManager()) {}

CServiceNotifier::~CServiceNotifier() { watch(false); }

bool CServiceNotifier::notify(std::string_view state) {
  if (!socket_) return false;
  if (pending_.empty() && sendNow(state)) return true;
  pending_.assign(state);  // supersedes a state that is still waiting
  watch(true);
  return false;
}

bool CServiceNotifier::sendNow(std::string_view state) {
  ssize_t sent;
  do {
    sent = send(socket_.get(), state.data(), state.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == ssize_t(state.size());
}

void CServiceNotifier::handleEvents(uint32_t events) {
  if ((events & (ready::kError | ready::kHangUp)) || sendNow(pending_) || errno != EAGAIN) {
    pending_.clear();  // sent, or the manager is gone
    watch(false);
  }
}

void CServiceNotifier::watch(bool on) {
  if (!loop_ || on == watching_) return;
  if (on) {
    registration_ = loop_->add(socket_.get(), ready::kWritable, this);
    watching_ = registration_ != 0;
  } else {
    loop_->remove(registration_);
    watching_ = false;
  }
}
