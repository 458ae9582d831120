#include "relay/platform/output.h"

#include <winsock2.h>
#include <windows.h>

#include <io.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "relay/platform/clock.h"
#include "relay/platform/errors.h"
#include "relay/platform/windows_console.h"
#include "relay/platform/windows_winsock.h"

namespace platform {
namespace {

bool isSocket(SOCKET s) {
  int type = 0;
  int length = sizeof type;
  return getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}

HANDLE handleOf(int fd) { return HANDLE(_get_osfhandle(fd)); }

// The socket `fd` is, or the one behind a CRT descriptor (standard output
// made the trace window's pipe); INVALID_SOCKET for anything else. The value
// is tried as a socket first: it may be no CRT descriptor at all.
SOCKET socketFor(int fd) {
  if (isSocket(socketOf(fd))) return socketOf(fd);
  const SOCKET behind = SOCKET(handleOf(fd));
  return isSocket(behind) ? behind : INVALID_SOCKET;
}

unsigned chunkOf(size_t size) { return size < size_t(INT_MAX) ? unsigned(size) : unsigned(INT_MAX); }

long sendNow(SOCKET s, const char* data, size_t size) {
  const int n = send(s, data, int(chunkOf(size)), 0);
  if (n >= 0) return long(n);
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

bool isPipe(int fd) { return GetFileType(handleOf(fd)) == FILE_TYPE_PIPE; }

bool isConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

// A pipe is written around the C runtime, which reports a full pipe as a
// full disk: in PIPE_NOWAIT mode a full one takes nothing and says 0 bytes;
// a pipe whose reader went fails for good.
long writePipe(HANDLE pipe, const char* data, size_t size) {
  DWORD written = 0;
  if (WriteFile(pipe, data, chunkOf(size), &written, nullptr)) return long(written);
  WSASetLastError(EPIPE);
  return -1;
}

}  // namespace

static_assert(kAtomicWriteBytes == 4096);

bool outputKindOf(int fd, COutputKind& kind) {
  if (isSocket(socketOf(fd))) {
    kind = COutputKind::Socket;
    return true;
  }
  const HANDLE handle = handleOf(fd);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
  switch (GetFileType(handle)) {
    case FILE_TYPE_CHAR:
    case FILE_TYPE_PIPE: kind = COutputKind::Stream; return true;
    case FILE_TYPE_DISK: kind = COutputKind::File; return true;
    default: return false;
  }
}

// The loop waits on sockets alone (WSAPoll): a pipe or a console is tried again instead.
bool loopWaitsOn(COutputKind kind) { return kind == COutputKind::Socket; }

// A handle's mode cannot be set apart from the one the parent shares.
int reopenNonBlocking(int) { return -1; }

// Only a pipe has a mode to change; a console is written by a thread of its own.
bool setNonBlockingFlag(int fd, bool nonBlocking) {
  if (!isPipe(fd)) return false;
  const HANDLE pipe = handleOf(fd);
  DWORD state = 0;
  if (!GetNamedPipeHandleState(pipe, &state, nullptr, nullptr, nullptr, nullptr, 0)) return false;
  if (bool(state & PIPE_NOWAIT) == nonBlocking) return false;
  DWORD wanted = (state & PIPE_READMODE_MESSAGE) | (nonBlocking ? PIPE_NOWAIT : PIPE_WAIT);
  return SetNamedPipeHandleState(pipe, &wanted, nullptr, nullptr) != 0;
}

// A full socket takes nothing and says 0 bytes, as a full pipe does: not now
// is an answer rather than a failure.
long writeOutput(int fd, COutputKind kind, const char* data, size_t size) {
  if (const SOCKET s = socketFor(fd); s != INVALID_SOCKET) return sendNow(s, data, size);
  if (isPipe(fd)) return writePipe(handleOf(fd), data, size);
  if (isConsole(handleOf(fd))) return writeConsoleSoon(handleOf(fd), data, size);
  const int n = _write(fd, data, chunkOf(size));
  if (n >= 0) return long(n);
  WSASetLastError(errno);
  if (kind == COutputKind::File) return isOutOfRoom(errno) ? 0 : -1;
  return errno == EAGAIN ? 0 : -1;
}

// A socket says when it has room, and a console's writer when it has
// written; a pipe never does, and nothing is gained by waiting blind: the
// caller's drain ends there.
bool waitWritable(int fd, int timeoutMs) {
  const SOCKET s = socketFor(fd);
  if (s == INVALID_SOCKET) return isConsole(handleOf(fd)) && waitConsoleWritten(handleOf(fd), timeoutMs);
  WSAPOLLFD p{s, POLLWRNORM, 0};
  return WSAPoll(&p, 1, timeoutMs) > 0;
}

}  // namespace platform
