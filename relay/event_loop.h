#pragma once
// A small level-triggered epoll reactor: descriptors with interest masks and
// handlers, one-shot timers and a wake-up. It knows nothing about streams or
// the user interface; another loop joins it by watching fd() and calling
// dispatchReady().

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "relay/timer_queue.h"
#include "relay/unique_fd.h"

class CEventHandler {
 public:
  // events: the EPOLL* bits the kernel reported for the descriptor.
  virtual void handleEvents(uint32_t events) = 0;

 protected:
  ~CEventHandler() = default;
};

class CEventLoop {
 public:
  using TimerId = uint64_t;

  CEventLoop();
  ~CEventLoop() = default;
  CEventLoop(const CEventLoop&) = delete;
  CEventLoop& operator=(const CEventLoop&) = delete;

  // False when the kernel refused the epoll, timer or wake descriptor.
  bool ok() const { return epollFd_ && timerFd_ && wakeFd_; }
  // The descriptor another loop watches for readability.
  int fd() const { return epollFd_.get(); }

  // Registration; the loop does not own the handler or the descriptor.
  // Each registration gets a new generation, so an event queued for a
  // descriptor that was removed (and perhaps reused) is never delivered.
  bool add(int fd, uint32_t events, CEventHandler* handler);
  bool modify(int fd, uint32_t events);
  void remove(int fd);
  // For a descriptor the caller closes at once: closing takes it out of the
  // epoll set, so only the registration is dropped, without a system call.
  void forget(int fd);
  uint32_t generation(int fd) const;
  bool isRegistered(int fd, uint32_t generation) const;

  // One-shot timers, run from the loop. A timer its owner embeds costs no
  // allocation; addTimer keeps one of its own for the callback.
  void schedule(CTimer& timer, int64_t delayMs);
  void cancel(CTimer& timer) { timers_.cancel(timer); }
  TimerId addTimer(int64_t delayMs, std::function<void()> callback);
  void cancelTimer(TimerId id);
  // Monotonic milliseconds; read once per dispatched batch, so a handler may
  // ask for every byte it moves without a system call.
  int64_t nowMs();

  // Runs the task once the batch being dispatched is done (outside a
  // dispatch: at the start of the next one), without a system call. The task
  // must check itself that what it touches still exists.
  void defer(std::function<void()> task);

  // Safe from a signal handler or another thread.
  void wake();

  // Runs until quit(); for headless use.
  void run();
  void quit();
  // Waits at most timeoutMs (-1: no bound) and dispatches one batch.
  int runOnce(int timeoutMs);
  // Dispatches what is ready now, without waiting. Does nothing when called
  // from inside a dispatch.
  int dispatchReady() { return runOnce(0); }
  // Dispatches batch after batch without waiting while events keep coming,
  // for at most maxUs; another loop joined to this one then makes one pass
  // for a burst instead of one per batch.
  int dispatchWhileBusy(int64_t maxUs);
  // Sequence number of the batch being (or last) dispatched.
  uint64_t batch() const { return batch_; }
  bool dispatching() const { return dispatching_; }

 private:
  struct Slot {
    CEventHandler* handler = nullptr;
    uint32_t generation = 0;
  };
  struct OwnedTimer {
    CTimer timer;
    std::function<void()> callback;
  };

  void runDueTimers();
  void armTimerFd();
  void drainWake();
  void deliver(uint64_t data, uint32_t events);
  void runDeferred();

  CUniqueFd epollFd_;
  CUniqueFd timerFd_;
  CUniqueFd wakeFd_;
  std::vector<Slot> slots_;
  uint32_t nextGeneration_ = 1;
  CTimerQueue timers_;
  int64_t armedDeadline_ = -1;  // what the timer descriptor is set to, -1 for nothing
  std::unordered_map<TimerId, std::unique_ptr<OwnedTimer>> ownedTimers_;
  int64_t batchClockMs_ = 0;
  bool batchClockValid_ = false;
  std::vector<std::function<void()>> deferred_, running_;
  TimerId nextTimer_ = 1;
  uint64_t batch_ = 0;
  bool dispatching_ = false;
  bool quit_ = false;
};
