#include "relay/platform/errors.h"

#include <winsock2.h>

#include <cerrno>
#include <cstring>

// One store for every error: socket calls leave theirs in WSAGetLastError,
// and the file calls put their errno value there with WSASetLastError.
// Winsock numbers (10000 and up) and errno values (below 200) never overlap.

namespace platform {
namespace {

struct Mapping {
  int err;
  int wsa;
};

// The errno values the file and descriptor calls produce.
constexpr Mapping kTable[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {ENOMEM, WSAENOBUFS},
    {EPIPE, WSAECONNRESET},  // writing after the reader went
};

bool isWinsockNumber(int error) { return error >= 10000 && error < 12000; }

}  // namespace

int lastSystemError() { return WSAGetLastError(); }
void setLastSystemError(int error) { WSASetLastError(error); }
void setLastSystemError(CLoopError error) {
  WSASetLastError(error == CLoopError::InvalidArgument ? WSAEINVAL : ENOENT);
}

int winsockErrorOf(int systemError) {
  if (isWinsockNumber(systemError)) return systemError;
  for (const Mapping& m : kTable)
    if (m.err == systemError) return m.wsa;
  return systemError;
}

bool isInterrupted(int systemError) { return systemError == WSAEINTR || systemError == EINTR; }
bool isWouldBlock(int systemError) { return systemError == WSAEWOULDBLOCK || systemError == EAGAIN; }
bool isNotFound(int systemError) { return systemError == ENOENT; }
bool isOutOfRoom(int systemError) { return systemError == ENOSPC || systemError == EFBIG || systemError == EIO; }

const char* systemErrorText(int systemError) {
  if (!isWinsockNumber(systemError)) return std::strerror(systemError);
  thread_local char text[256];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 DWORD(systemError), 0, text, sizeof text, nullptr);
  if (n == 0) return "Unknown socket error";
  // The system's text ends in a full stop and a line break; strerror's, as the messages expect, in neither.
  for (DWORD end = n; end > 0 && std::strchr(".\r\n ", text[end - 1]); --end) text[end - 1] = '\0';
  return text;
}

}  // namespace platform
