#include "relay/platform/descriptor.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "relay/platform/unique_fd.h"
#include "relay/platform/windows_winsock.h"

// A descriptor is a Winsock socket or a CRT descriptor. Socket calls leave
// their error in WSAGetLastError; CRT calls put their errno value there.

namespace platform {
namespace {

// The value is no socket, so it is a CRT descriptor. Before the first
// socket Winsock is not started and says that instead.
bool notASocket() {
  const int error = WSAGetLastError();
  return error == WSAENOTSOCK || error == WSANOTINITIALISED;
}

bool isSocket(int fd) {
  int type = 0;
  int length = sizeof type;
  return getsockopt(socketOf(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}

int chunkOf(size_t size) { return size < size_t(INT_MAX) ? int(size) : INT_MAX; }

long socketOutcome(int n) {
  if (n >= 0) return long(n);
  return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

long fileOutcome(int n) {
  if (n >= 0) return long(n);
  WSASetLastError(errno);
  return errno == EAGAIN ? kWouldBlock : kFailed;
}

bool setNonBlocking(SOCKET s, bool nonBlocking) {
  u_long on = nonBlocking ? 1 : 0;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

// Without the overlapped flag, so that the CRT can write to it through
// standard output (the trace window's pipe); never inherited by a child.
CUniqueFd loopbackSocket() {
  const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0);
  if (s == INVALID_SOCKET) return CUniqueFd();
  SetHandleInformation(HANDLE(s), HANDLE_FLAG_INHERIT, 0);
  return CUniqueFd(int(s));
}

// A listener on a port the system picks on 127.0.0.1; its address in `address`.
CUniqueFd loopbackListener(sockaddr_in& address) {
  CUniqueFd listener = loopbackSocket();
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if (!listener || bind(socketOf(listener.get()), raw, length) != 0 || listen(socketOf(listener.get()), 1) != 0 ||
      getsockname(socketOf(listener.get()), raw, &length) != 0)
    return CUniqueFd();
  return listener;
}

bool sameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// Any local program may connect to the listener first: only the caller
// whose address is the connecting end's own is taken.
bool connectPair(CUniqueFd& accepted, CUniqueFd& connecting) {
  sockaddr_in address;
  const CUniqueFd listener = loopbackListener(address);
  connecting = loopbackSocket();
  if (!listener || !connecting ||
      connect(socketOf(connecting.get()), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return false;
  sockaddr_in mine{}, caller{};
  int mineLength = sizeof mine, callerLength = sizeof caller;
  accepted.reset(int(accept(socketOf(listener.get()), reinterpret_cast<sockaddr*>(&caller), &callerLength)));
  if (!accepted || getsockname(socketOf(connecting.get()), reinterpret_cast<sockaddr*>(&mine), &mineLength) != 0)
    return false;
  if (sameEndpoint(mine, caller)) return true;
  WSASetLastError(WSAECONNREFUSED);
  return false;
}

// A socket gets a handle of its own behind descriptor 1, so that the
// caller's close of `fd` leaves standard output connected.
int crtDescriptorFor(int fd) {
  HANDLE copy;
  const HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, HANDLE(socketOf(fd)), self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return -1;
  const int wrapper = _open_osfhandle(intptr_t(copy), _O_BINARY);
  if (wrapper < 0) CloseHandle(copy);
  return wrapper;
}

}  // namespace

// A close that succeeds leaves the error of the call before it, so that
// cleanup after a failure never hides why it failed.
int closeDescriptor(int fd) {
  const int before = WSAGetLastError();
  if (closesocket(socketOf(fd)) == 0) {
    WSASetLastError(before);
    return 0;
  }
  if (!notASocket()) return -1;
  if (_close(fd) == 0) {
    WSASetLastError(before);
    return 0;
  }
  WSASetLastError(errno);
  return -1;
}

long readSome(int fd, void* data, size_t size) {
  const int n = recv(socketOf(fd), static_cast<char*>(data), chunkOf(size), 0);
  if (n != SOCKET_ERROR || !notASocket()) return socketOutcome(n);
  return fileOutcome(_read(fd, data, unsigned(chunkOf(size))));
}

long writeSome(int fd, const void* data, size_t size) {
  const int n = send(socketOf(fd), static_cast<const char*>(data), chunkOf(size), 0);
  if (n != SOCKET_ERROR || !notASocket()) return socketOutcome(n);
  return fileOutcome(_write(fd, data, unsigned(chunkOf(size))));
}

// A connected loopback socket pair: the event loop's WSAPoll waits on
// sockets only, so a pipe here is one.
bool makePipe(CUniqueFd& readEnd, CUniqueFd& writeEnd, bool readNonBlocking, bool writeNonBlocking) {
  if (!winsockStarted()) return false;
  CUniqueFd accepted, connecting;
  if (!connectPair(accepted, connecting)) return false;
  // One-byte wake-ups go out at once, never held back for an acknowledgement.
  const BOOL one = TRUE;
  setsockopt(socketOf(connecting.get()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  SetHandleInformation(HANDLE(socketOf(accepted.get())), HANDLE_FLAG_INHERIT, 0);
  if (!setNonBlocking(socketOf(accepted.get()), readNonBlocking) ||
      !setNonBlocking(socketOf(connecting.get()), writeNonBlocking))
    return false;
  readEnd = std::move(accepted);
  writeEnd = std::move(connecting);
  return true;
}

bool growPipe(int fd, size_t bytes) {
  const int size = chunkOf(bytes);
  return setsockopt(socketOf(fd), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size) == 0;
}

int standardOutput() { return 1; }
int standardError() { return 2; }

// A service may have no standard streams, or handles that are no file: the
// C runtime then leaves its descriptors unopened, as here, and would end the
// program for a mode set on one.
void passStandardStreamsUnchanged() {
  const auto open = [](DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
  };
  if (open(STD_OUTPUT_HANDLE)) _setmode(1, _O_BINARY);
  if (open(STD_ERROR_HANDLE)) _setmode(2, _O_BINARY);
}

// A console, not merely a character device: NUL is one too.
bool isTerminal(int fd) {
  DWORD mode;
  return !isSocket(fd) && GetConsoleMode(HANDLE(_get_osfhandle(fd)), &mode) != 0;
}

bool replaceStandardOutput(int fd) {
  const bool socket = isSocket(fd);
  const int source = socket ? crtDescriptorFor(fd) : fd;
  const bool replaced = source >= 0 && _dup2(source, 1) == 0;
  if (socket && source >= 0) _close(source);
  // Whoever asks the system rather than the CRT for standard output finds the same.
  if (replaced) SetStdHandle(STD_OUTPUT_HANDLE, HANDLE(_get_osfhandle(1)));
  return replaced;
}

}  // namespace platform
