#include "relay/winsock_errors.h"

#include "relay/platform/errors.h"

namespace ws {
namespace {

// As WSAGetLastError keeps it: the one relay thread's last socket error.
int gLastError = 0;

}  // namespace

int fromSystemError(int err) { return platform::winsockErrorOf(err); }

int WSAGetLastError() { return gLastError; }
void WSASetLastError(int err) { gLastError = err; }

int setLastErrorFromSystem() {
  gLastError = fromSystemError(platform::lastSystemError());
  return gLastError;
}

}  // namespace ws
