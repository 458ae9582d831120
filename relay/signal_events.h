#pragma once
// Interrupts, terminations and hang-ups as ordinary events of the event
// loop, in every mode: the headless runner's loop and the window's (joined
// to Qt) hear them the same way. Call platform::blockProcessSignals() first
// thing in main, before any thread exists, so that no thread takes them.
//
// Owns its descriptor; does not own the loop, which must outlive it.

#include <functional>

#include "relay/event_loop.h"
#include "relay/platform/signals.h"
#include "relay/platform/unique_fd.h"

class CSignalEvents : private CEventHandler {
 public:
  using Signal = platform::CProcessSignal;

  CSignalEvents(CEventLoop& loop, std::function<void(Signal)> handler);
  ~CSignalEvents();
  CSignalEvents(const CSignalEvents&) = delete;
  CSignalEvents& operator=(const CSignalEvents&) = delete;

  bool ok() const { return registration_ != 0; }

 private:
  void handleEvents(uint32_t ready) override;

  CEventLoop& loop_;
  std::function<void(Signal)> handler_;
  CUniqueFd fd_;
  CEventLoop::Registration registration_ = 0;
};
