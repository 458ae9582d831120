#include "relay/platform/errors.h"

#include <cerrno>
#include <cstring>

#include "relay/platform/winsock_numbers.h"

namespace platform {
namespace {

struct Mapping {
  int err;
  int wsa;
};

constexpr Mapping kTable[] = {
    {EINTR, ws::WSAEINTR},
    {EBADF, ws::WSAEBADF},
    {EACCES, ws::WSAEACCES},
    {EPERM, ws::WSAEACCES},
    {EFAULT, ws::WSAEFAULT},
    {EINVAL, ws::WSAEINVAL},
    {EMFILE, ws::WSAEMFILE},
    {ENFILE, ws::WSAEMFILE},
    {EAGAIN, ws::WSAEWOULDBLOCK},
    {EINPROGRESS, ws::WSAEWOULDBLOCK},  // a non-blocking connect under way
    {EALREADY, ws::WSAEALREADY},
    {ENOTSOCK, ws::WSAENOTSOCK},
    {EDESTADDRREQ, ws::WSAEDESTADDRREQ},
    {EMSGSIZE, ws::WSAEMSGSIZE},
    {EPROTOTYPE, ws::WSAEPROTOTYPE},
    {ENOPROTOOPT, ws::WSAENOPROTOOPT},
    {EPROTONOSUPPORT, ws::WSAEPROTONOSUPPORT},
    {EOPNOTSUPP, ws::WSAEOPNOTSUPP},
    {EAFNOSUPPORT, ws::WSAEAFNOSUPPORT},
    {EADDRINUSE, ws::WSAEADDRINUSE},
    {EADDRNOTAVAIL, ws::WSAEADDRNOTAVAIL},
    {ENETDOWN, ws::WSAENETDOWN},
    {ENETUNREACH, ws::WSAENETUNREACH},
    {ENETRESET, ws::WSAENETRESET},
    {ECONNABORTED, ws::WSAECONNABORTED},
    {ECONNRESET, ws::WSAECONNRESET},
    {EPIPE, ws::WSAECONNRESET},  // writing after the peer reset
    {ENOBUFS, ws::WSAENOBUFS},
    {ENOMEM, ws::WSAENOBUFS},
    {EISCONN, ws::WSAEISCONN},
    {ENOTCONN, ws::WSAENOTCONN},
    {ESHUTDOWN, ws::WSAESHUTDOWN},
    {ETIMEDOUT, ws::WSAETIMEDOUT},
    {ECONNREFUSED, ws::WSAECONNREFUSED},
    {EHOSTDOWN, ws::WSAEHOSTDOWN},
    {EHOSTUNREACH, ws::WSAEHOSTUNREACH},
};

}  // namespace

int lastSystemError() { return errno; }
void setLastSystemError(int error) { errno = error; }
void setLastSystemError(CLoopError error) { errno = error == CLoopError::InvalidArgument ? EINVAL : ENOENT; }

int winsockErrorOf(int systemError) {
  if (systemError == EWOULDBLOCK) return ws::WSAEWOULDBLOCK;
  for (const Mapping& m : kTable)
    if (m.err == systemError) return m.wsa;
  return systemError;
}

bool isInterrupted(int systemError) { return systemError == EINTR; }
bool isWouldBlock(int systemError) { return systemError == EAGAIN || systemError == EWOULDBLOCK; }
bool isNotFound(int systemError) { return systemError == ENOENT; }
bool isOutOfRoom(int systemError) {
  return systemError == ENOSPC || systemError == EDQUOT || systemError == EFBIG || systemError == EIO;
}
const char* systemErrorText(int systemError) { return std::strerror(systemError); }

}  // namespace platform
