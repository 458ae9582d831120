#include "relay/platform/socket.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "relay/platform/unique_fd.h"
#include "relay/platform/winsock_numbers.h"

namespace platform {
namespace {

// Winsock's flag values are the system's here; only these two pass.
int systemFlags(int flags) { return flags & (MSG_OOB | MSG_PEEK); }

}  // namespace

int openStreamSocket(int family) { return ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

void setNoDelay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool setIPv6Only(int fd, bool only) {
  const int value = only ? 1 : 0;
  return ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &value, sizeof value) == 0;
}

bool setReuseAddress(int fd, const void* value, int length) {
  return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, value, socklen_t(length)) == 0;
}

void bindAddressOnly(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
}

bool bindTo(int fd, const sockaddr* address, socklen_t length) { return ::bind(fd, address, length) == 0; }

bool listenOn(int fd, int backlog) { return ::listen(fd, backlog) == 0; }

int acceptCaller(int listenFd, sockaddr_storage* caller) {
  socklen_t length = sizeof *caller;
  int fd;
  do {
    fd = accept4(listenFd, reinterpret_cast<sockaddr*>(caller), caller ? &length : nullptr,
                 SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool isOutOfDescriptors(int systemError) { return systemError == EMFILE || systemError == ENFILE; }

int openSpareDescriptor() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

CConnectStart startConnect(int fd, const sockaddr* address, socklen_t length) {
  if (::connect(fd, address, length) == 0) return CConnectStart::Connected;
  // An interrupted connect goes on asynchronously, like one in progress.
  return errno == EINPROGRESS || errno == EINTR ? CConnectStart::InProgress : CConnectStart::Failed;
}

int pendingSocketError(int fd) {
  int err = 0;
  socklen_t length = sizeof err;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length);
  return err;
}

int connectionRefusedError() { return ECONNREFUSED; }

long receiveSome(int fd, void* buffer, size_t length, int flags) {
  ssize_t n;
  do n = recv(fd, buffer, length, systemFlags(flags));
  while (n < 0 && errno == EINTR);
  return long(n);
}

long sendSome(int fd, const void* buffer, size_t length, int flags) {
  ssize_t n;
  do n = send(fd, buffer, length, systemFlags(flags) | MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return long(n);
}

CPeek peekOneByte(int fd) {
  char byte;
  const ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return CPeek::Data;
  if (n == 0) return CPeek::End;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? CPeek::Nothing : CPeek::Failed;
}

bool readableNow(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

void discardUrgentByte(int fd) {
  char byte;
  [[maybe_unused]] const ssize_t r = recv(fd, &byte, 1, MSG_OOB | MSG_DONTWAIT);
}

bool shutdownSocket(int fd, int how) {
  const int mode = how == ws::kSdBoth ? SHUT_RDWR : how == ws::kSdSend ? SHUT_WR : SHUT_RD;
  return ::shutdown(fd, mode) == 0;
}

bool peerAddress(int fd, sockaddr_storage& out) {
  out = sockaddr_storage{};
  socklen_t length = sizeof out;
  return getpeername(fd, reinterpret_cast<sockaddr*>(&out), &length) == 0;
}

bool localAddress(int fd, sockaddr_storage& out) {
  out = sockaddr_storage{};
  socklen_t length = sizeof out;
  return getsockname(fd, reinterpret_cast<sockaddr*>(&out), &length) == 0;
}

bool setKeepAlive(int fd, int idleSeconds, int intervalSeconds, int probes) {
  const int one = 1;
  return ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) == 0 &&
         ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds) == 0 &&
         ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds) == 0 &&
         ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0;
}

bool peerSilence(int fd, CPeerSilence& out) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return false;
  out = CPeerSilence{info.tcpi_retransmits, info.tcpi_probes, info.tcpi_last_ack_recv};
  return true;
}

// The system refuses a longer TCP_KEEPIDLE.
int maxKeepAliveIdleSeconds() { return 32767; }

int unsentBytes(int fd) {
  int bytes = 0;
  return ioctl(fd, SIOCOUTQ, &bytes) == 0 ? bytes : -1;
}

CAddressCheck checkLocalAddress(const sockaddr* address, socklen_t length) {
  CUniqueFd probe(::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!probe) return CAddressCheck::Unknown;
  bindAddressOnly(probe.get());
  return ::bind(probe.get(), address, length) == 0 ? CAddressCheck::Local : CAddressCheck::NotLocal;
}

bool zeroCopyAvailable() { return true; }

namespace {

// Pages are moved, not copied, where the kernel can; neither end waits.
constexpr unsigned kMoveFlags = SPLICE_F_MOVE | SPLICE_F_NONBLOCK;

long move(int from, int to, size_t length) {
  ssize_t n;
  do n = splice(from, nullptr, to, nullptr, length, kMoveFlags);
  while (n < 0 && errno == EINTR);
  return long(n);
}

}  // namespace

long moveToPipe(int socketFd, int pipeWriteEnd, size_t length) { return move(socketFd, pipeWriteEnd, length); }
long moveFromPipe(int pipeReadEnd, int socketFd, size_t length) { return move(pipeReadEnd, socketFd, length); }

int descriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > INT_MAX)
    return INT_MAX;
  return int(limit.rlim_cur);
}

}  // namespace platform
