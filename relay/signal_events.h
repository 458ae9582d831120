#pragma once
// SIGINT, SIGTERM and SIGHUP as ordinary events of the event loop, read from
// a signalfd, in every mode: the headless runner's loop and the window's
// (joined to Qt) hear them the same way. Call blockSignals() first thing in
// main, before any thread exists, so that no thread takes them.
//
// Owns its descriptor; does not own the loop, which must outlive it.

#include <functional>

#include "relay/event_loop.h"
#include "relay/unique_fd.h"

class CSignalEvents : private CEventHandler {
 public:
  static void blockSignals();  // SIGINT, SIGTERM and SIGHUP

  CSignalEvents(CEventLoop& loop, std::function<void(int signal)> handler);
  ~CSignalEvents();
  CSignalEvents(const CSignalEvents&) = delete;
  CSignalEvents& operator=(const CSignalEvents&) = delete;

  bool ok() const { return registration_ != 0; }

 private:
  void handleEvents(uint32_t ready) override;

  CEventLoop& loop_;
  std::function<void(int)> handler_;
  CUniqueFd fd_;
  CEventLoop::Registration registration_ = 0;
};
