#pragma once
// Socket errors keep their Winsock numbers, so every trace reads the same on
// every platform; the platform layer maps the system's numbers to them.

#include "relay/platform/winsock_numbers.h"

namespace ws {

// The Winsock number for a system error (platform::winsockErrorOf).
int fromSystemError(int err);

// The last socket error, as WSAGetLastError reports it: one global, since
// every socket call runs on the one relay thread; read it straight after
// the failing call.
int WSAGetLastError();
void WSASetLastError(int err);
// Stores the last system error's Winsock number as the last error and returns it.
int setLastErrorFromSystem();

}  // namespace ws
