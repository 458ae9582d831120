#include "relay/platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <climits>
#include <cstdint>

#include "relay/platform/unique_fd.h"
#include "relay/platform/windows_winsock.h"

namespace platform {
namespace {

int chunkOf(size_t size) { return size < size_t(INT_MAX) ? int(size) : INT_MAX; }

// A failure while setting up the socket closes it; closeDescriptor keeps the error.
int readySocket(CUniqueFd socket) {
  u_long on = 1;
  if (!socket || ioctlsocket(socketOf(socket.get()), FIONBIO, &on) != 0) return -1;
  // There is no close-on-exec: a handle a child does not inherit is the same.
  SetHandleInformation(HANDLE(socketOf(socket.get())), HANDLE_FLAG_INHERIT, 0);
  return socket.release();
}

bool setIntOption(int fd, int level, int option, int value) {
  return setsockopt(socketOf(fd), level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

}  // namespace

int openStreamSocket(int family) {
  if (!winsockStarted()) return -1;
  return readySocket(CUniqueFd(int(socket(family, SOCK_STREAM, 0))));
}

void setNoDelay(int fd) { setIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1); }

bool setIPv6Only(int fd, bool only) { return setIntOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, only ? 1 : 0); }

// Here SO_REUSEADDR would let another socket bind the port while this one
// listens, and both would take callers. A listener that starts again while
// its old connections linger, and that no one else can take, is what
// SO_EXCLUSIVEADDRUSE gives. It counts only before bind: asked again once
// the socket is bound, there is nothing left to do.
bool setReuseAddress(int fd, const void* value, int length) {
  sockaddr_storage bound{};
  int boundLength = sizeof bound;
  if (getsockname(socketOf(fd), reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0) return true;
  return setsockopt(socketOf(fd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, static_cast<const char*>(value), length) == 0;
}

// Nothing to do: SO_REUSE_UNICASTPORT (where the system has it) would share
// the port a bind picks; a bind at port 0 taking one at once is fine here.
void bindAddressOnly(int) {}

bool bindTo(int fd, const sockaddr* address, socklen_t length) { return bind(socketOf(fd), address, length) == 0; }

bool listenOn(int fd, int backlog) { return listen(socketOf(fd), backlog) == 0; }

// Set up as any socket opened here: non-blocking, never inherited.
int acceptCaller(int listenFd, sockaddr_storage* caller) {
  int length = sizeof *caller;
  const SOCKET s = accept(socketOf(listenFd), reinterpret_cast<sockaddr*>(caller), caller ? &length : nullptr);
  return readySocket(CUniqueFd(int(s)));
}

bool isOutOfDescriptors(int systemError) { return systemError == WSAEMFILE || systemError == WSAENOBUFS; }

// No descriptor limit to shed against: sockets run out as memory does.
int openSpareDescriptor() { return -1; }

CConnectStart startConnect(int fd, const sockaddr* address, socklen_t length) {
  if (connect(socketOf(fd), address, length) == 0) return CConnectStart::Connected;
  return WSAGetLastError() == WSAEWOULDBLOCK ? CConnectStart::InProgress : CConnectStart::Failed;
}

int pendingSocketError(int fd) {
  int err = 0;
  int length = sizeof err;
  getsockopt(socketOf(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &length);
  return err;
}

int connectionRefusedError() { return WSAECONNREFUSED; }

// Flags are Winsock's own; a send raises no signal here.
long receiveSome(int fd, void* buffer, size_t length, int flags) {
  return recv(socketOf(fd), static_cast<char*>(buffer), chunkOf(length), flags);
}

long sendSome(int fd, const void* buffer, size_t length, int flags) {
  return send(socketOf(fd), static_cast<const char*>(buffer), chunkOf(length), flags);
}

// The socket is non-blocking, so the peek never waits.
CPeek peekOneByte(int fd) {
  char byte;
  const int n = recv(socketOf(fd), &byte, 1, MSG_PEEK);
  if (n > 0) return CPeek::Data;
  if (n == 0) return CPeek::End;
  return WSAGetLastError() == WSAEWOULDBLOCK ? CPeek::Nothing : CPeek::Failed;
}

bool readableNow(int fd) {
  WSAPOLLFD p{socketOf(fd), POLLRDNORM, 0};
  return WSAPoll(&p, 1, 0) > 0;
}

void discardUrgentByte(int fd) {
  char byte;
  recv(socketOf(fd), &byte, 1, MSG_OOB);
}

// The caller's SD_RECEIVE, SD_SEND and SD_BOTH are the system's own.
bool shutdownSocket(int fd, int how) { return shutdown(socketOf(fd), how) == 0; }

bool peerAddress(int fd, sockaddr_storage& out) {
  out = sockaddr_storage{};
  int length = sizeof out;
  return getpeername(socketOf(fd), reinterpret_cast<sockaddr*>(&out), &length) == 0;
}

bool localAddress(int fd, sockaddr_storage& out) {
  out = sockaddr_storage{};
  int length = sizeof out;
  return getsockname(socketOf(fd), reinterpret_cast<sockaddr*>(&out), &length) == 0;
}

// Times in milliseconds; the number of probes only where the system lets it
// be set (Windows 10 1703 on), and its failure does not fail the rest.
bool setKeepAlive(int fd, int idleSeconds, int intervalSeconds, int probes) {
  tcp_keepalive values{1, ULONG(idleSeconds) * 1000, ULONG(intervalSeconds) * 1000};
  DWORD returned = 0;
  if (WSAIoctl(socketOf(fd), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr) != 0)
    return false;
  constexpr int kKeepAliveProbes = 16;  // TCP_KEEPCNT, which these headers do not name
  setIntOption(fd, IPPROTO_TCP, kKeepAliveProbes, probes);
  return true;
}

// SIO_KEEPALIVE_VALS takes milliseconds in 32 bits.
int maxKeepAliveIdleSeconds() { return int(ULONG_MAX / 1000); }

// Not known: TCP's record here has no time of the last acknowledgement, and
// the system's own keepalive ends a peer that answers no probe.
bool peerSilence(int, CPeerSilence&) { return false; }

// What TCP's own record says (Windows 10 1703 on): bytes in flight, and a
// closed window counts as bytes that may wait unsent behind it. The record
// does not count the queue itself, so a closed window with an empty queue
// counts too: a pair is then never taken for idle too early.
int unsentBytes(int fd) {
  DWORD version = 0, returned = 0;
  TCP_INFO_v0 info{};
  if (WSAIoctl(socketOf(fd), SIO_TCP_INFO, &version, sizeof version, &info, sizeof info, &returned, nullptr,
               nullptr) != 0)
    return -1;
  if (info.BytesInFlight > 0) return info.BytesInFlight < ULONG(INT_MAX) ? int(info.BytesInFlight) : INT_MAX;
  return info.SndWnd == 0 ? 1 : 0;
}

// The probe's bind takes a port here; only an address the host lacks says
// NotLocal, and a failure for want of ports says nothing.
CAddressCheck checkLocalAddress(const sockaddr* address, socklen_t length) {
  if (!winsockStarted()) return CAddressCheck::Unknown;
  const CUniqueFd probe(int(socket(address->sa_family, SOCK_STREAM, 0)));
  if (!probe) return CAddressCheck::Unknown;
  SetHandleInformation(HANDLE(socketOf(probe.get())), HANDLE_FLAG_INHERIT, 0);
  if (bind(socketOf(probe.get()), address, length) == 0) return CAddressCheck::Local;
  return WSAGetLastError() == WSAEADDRNOTAVAIL ? CAddressCheck::NotLocal : CAddressCheck::Unknown;
}

// Winsock has no call that moves bytes between a socket and a pipe.
bool zeroCopyAvailable() { return false; }

long moveToPipe(int, int, size_t) {
  WSASetLastError(WSAEOPNOTSUPP);
  return -1;
}

long moveFromPipe(int, int, size_t) {
  WSASetLastError(WSAEOPNOTSUPP);
  return -1;
}

// Sockets are handles, not numbers below a limit.
int descriptorLimit() { return INT_MAX; }

}  // namespace platform
