#pragma once
// Tells a service manager how the relay is doing, through the manager's
// notify socket, or the Windows service control manager when it runs the
// relay as a service (relay/platform/service_manager.h). No library.
//
// Nothing here ever waits for the manager: a manager that does not read its
// socket fills it, and then the latest state waits here (one datagram, the
// older ones are superseded) until the socket takes it.
//
// Owns its socket; does not own the loop.

#include <string>
#include <string_view>

#include "relay/event_loop.h"
#include "relay/platform/unique_fd.h"

class CServiceNotifier : private CEventHandler {
 public:
  // Reads $NOTIFY_SOCKET now; a loop lets a state that had to wait go out later.
  explicit CServiceNotifier(CEventLoop* loop = nullptr);
  ~CServiceNotifier();
  CServiceNotifier(const CServiceNotifier&) = delete;
  CServiceNotifier& operator=(const CServiceNotifier&) = delete;

  // state: "READY=1", or several "KEY=value" lines. False when no manager
  // asked ($NOTIFY_SOCKET unset or unusable), it cannot be reached, or the
  // state has to wait.
  bool notify(std::string_view state);
  bool waiting() const { return !pending_.empty(); }

 private:
  void handleEvents(uint32_t events) override;
  bool sendNow(std::string_view state);
  void watch(bool on);

  CEventLoop* loop_;
  CUniqueFd socket_;
  std::string pending_;
  CEventLoop::Registration registration_ = 0;
  bool watching_ = false;
};
