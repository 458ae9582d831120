#pragma once
// What the Windows implementation's files share: the socket behind the int
// the interface carries, and Winsock started once, on first use.

#include <winsock2.h>

#include <cstdint>

namespace platform {

inline SOCKET socketOf(int fd) { return SOCKET(intptr_t(fd)); }

inline bool winsockStarted() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) WSASetLastError(WSANOTINITIALISED);
  return started;
}

}  // namespace platform
