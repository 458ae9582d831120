#pragma once
// Stands in for a service manager's notify socket: a datagram socket bound
// to a path or, for a name beginning with '@', in the abstract namespace.

#include <string>

#include "tests/loopback.h"

class CNotifySocket {
 public:
  explicit CNotifySocket(const std::string& name);
  bool bound() const { return bound_; }
  const std::string& name() const { return name_; }
  // One datagram, or "" when none came in time.
  std::string receive(int timeoutMs);

 private:
  std::string name_;
  loopback::Fd fd_;
  bool bound_ = false;
};
