#include "relay/winsock_errors.h"

#include "relay/platform/errors.h"

namespace ws {
namespace {

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

int fromSystemError(int err) { return platform::winsockErrorOf(err); }

const char* describeError(int wsaError) {
  for (const Description& d : kDescriptions)
    if (d.wsa == wsaError) return d.text;
  return "socket error";
}

int WSAGetLastError() { return gLastError; }
void WSASetLastError(int err) { gLastError = err; }

int setLastErrorFromSystem() {
  gLastError = fromSystemError(platform::lastSystemError());
  return gLastError;
}

}  // namespace ws
