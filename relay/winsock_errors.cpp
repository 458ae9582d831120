#include "relay/winsock_errors.h"

#include <cerrno>

namespace ws {
namespace {

struct Mapping {
  int err;
  int wsa;
};

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
    {EINPROGRESS, WSAEWOULDBLOCK},  // a non-blocking connect under way
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},  // writing after the peer reset
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

int gLastError = 0;

struct Description {
  int wsa;
  const char* text;
};

constexpr Description kDescriptions[] = {
    {WSAEACCES, "permission denied"},
    {WSAEINVAL, "invalid address or port"},
    {WSAEMFILE, "too many open files"},
    {WSAEADDRINUSE, "address already in use"},
    {WSAEADDRNOTAVAIL, "address not available on this host"},
    {WSAENETUNREACH, "network unreachable"},
    {WSAECONNREFUSED, "connection refused"},
    {WSAETIMEDOUT, "timed out"},
    {WSAEHOSTUNREACH, "host unreachable"},
    {WSAENOBUFS, "out of memory"},
    {WSAECONNRESET, "connection reset"},
    {WSAECONNABORTED, "connection aborted"},
    {WSAEAFNOSUPPORT, "address family not supported"},
};

}  // namespace

int fromErrno(int err) {
  if (err == EWOULDBLOCK) return WSAEWOULDBLOCK;
  for (const Mapping& m : kTable)
    if (m.err == err) return m.wsa;
  return err;
}

const char* describeError(int wsaError) {
  for (const Description& d : kDescriptions)
    if (d.wsa == wsaError) return d.text;
  return "socket error";
}

int WSAGetLastError() { return gLastError; }
void WSASetLastError(int err) { gLastError = err; }

int setLastErrorFromErrno() {
  gLastError = fromErrno(errno);
  return gLastError;
}

}  // namespace ws
