#pragma once
// A small level-triggered reactor: descriptors with interest masks and
// handlers, one-shot timers, deferred tasks and a wake-up. It knows nothing
// about streams or the user interface, and nothing of the system's
// readiness calls: those live in a backend (poller.h). Another loop joins
// it by watching fd() (or, when the backend has none, each descriptor the
// watcher is told of) and calling dispatchFor(), and by waking it when
// msUntilNextTimer() has passed.

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "relay/poller.h"
#include "relay/readiness.h"
#include "relay/timer_queue.h"
#include "relay/platform/unique_fd.h"

class CBufferPool;
class CMemoryReserve;
class COwnEndpoints;
class CPipePool;

class CEventHandler {
 public:
  // ready: the ready:: bits reported for the descriptor.
  virtual void handleEvents(uint32_t ready) = 0;

 protected:
  ~CEventHandler() = default;
};

// What the loop may destroy for its owner once the handler on the stack has
// returned: a connection torn down inside one of its own stream's handlers.
class CDisposable {
 public:
  virtual ~CDisposable() = default;
};

// Told of every registration, for a loop that must watch each descriptor
// itself because the backend offers no single one.
class CDescriptorWatcher {
 public:
  virtual void watchDescriptor(int fd, uint32_t interest) = 0;  // added or changed
  virtual void unwatchDescriptor(int fd) = 0;

 protected:
  ~CDescriptorWatcher() = default;
};

class CEventLoop {
 public:
  // Names one registration; 0 is none. A registration that ended never
  // matches again, even when its descriptor number comes back.
  using Registration = uint64_t;

  // The backend: QUILLEX_POLLER in the environment names one of the
  // system's (CPoller::backends()), else (a value that names none included)
  // the build's default.
  static CPoller::Kind defaultBackend();
  // QUILLEX_POLLER when it is set to a name that is no backend, else null.
  static const char* unknownBackendChosen();

  explicit CEventLoop(CPoller::Kind backend = defaultBackend());
  ~CEventLoop();
  CEventLoop(const CEventLoop&) = delete;
  CEventLoop& operator=(const CEventLoop&) = delete;

  // False when the system refused the backend or the wake-up pipe.
  bool ok() const { return poller_ && poller_->ok() && wakeRegistration_ != 0; }
  CPoller::Kind backend() const { return backend_; }
  // The descriptor another loop watches for readability, or -1.
  int fd() const { return poller_ ? poller_->fd() : -1; }
  // Replays every registration to the watcher, then tells it of each change;
  // null stops.
  void setDescriptorWatcher(CDescriptorWatcher* watcher);

  // Registration; the loop does not own the handler or the descriptor.
  Registration add(int fd, uint32_t interest, CEventHandler* handler);
  bool modify(Registration registration, uint32_t interest);
  // Before the descriptor is closed.
  void remove(Registration registration);
  // For a descriptor its owner closes at once: only what closing does not
  // undo by itself is undone.
  void forget(Registration registration);
  bool isRegistered(Registration registration) const;

  // One-shot timers, run from the loop: each owner embeds its timers, so
  // arming one allocates nothing and a timer goes with its owner.
  void schedule(CTimer& timer, int64_t delayMs);
  void cancel(CTimer& timer) { timers_.cancel(timer); }
  // Monotonic milliseconds; read once per dispatched batch, so a handler may
  // ask for every byte it moves without a system call.
  int64_t nowMs();
  // Until the earliest timer is due: 0 when one is, -1 when none is set.
  int64_t msUntilNextTimer();
  // The earliest timer's deadline on the monotonic clock in milliseconds,
  // -1 when none is set: another loop re-arms only when it moved.
  int64_t nextTimerDeadlineMs() const { return timers_.empty() ? -1 : timers_.earliest(); }

  // Runs the task once the batch being dispatched is done (outside a
  // dispatch: at the start of the next one), without a system call. The task
  // must check itself that what it touches still exists.
  void defer(std::function<void()> task);

  // Destroys the object once the handler (or timer, or deferred task) that
  // is running has returned; at once outside a dispatch. Whoever hands an
  // object over has closed what could still call it.
  void dispose(std::unique_ptr<CDisposable> object);

  // What the streams and repeaters on this loop share, made on first use:
  // their send-buffer and pipe pools and the record of the relay's own endpoints.
  CBufferPool& bufferPool();
  CPipePool& pipePool();
  COwnEndpoints& ownEndpoints();
  // The process's memory reserve, which the buffer pool gives up and holds
  // again; null (the default) where the process holds none.
  void setMemoryReserve(CMemoryReserve* reserve) { memoryReserve_ = reserve; }
  CMemoryReserve* memoryReserve() const { return memoryReserve_; }

  // Safe from a signal handler or another thread.
  void wake();

  // Runs until quit(); for headless use.
  void run();
  void quit();
  // Waits at most timeoutMs (-1: until something happens) and dispatches
  // one batch: ready descriptors, due timers, deferred tasks.
  int runOnce(int timeoutMs);
  // Dispatches what is ready, then goes on waiting for and dispatching what
  // comes for at most maxUs in all: another loop joined to this one then
  // makes one pass for a burst, or for a request and its answer, instead of
  // one per batch, and the wait is this loop's own. Does nothing when called
  // from inside a dispatch.
  int dispatchFor(int64_t maxUs);
  // Sequence number of the batch being (or last) dispatched.
  uint64_t batch() const { return batch_; }
  bool dispatching() const { return dispatching_; }

 private:
  struct Slot {
    CEventHandler* handler = nullptr;
    int fd = -1;
    uint32_t generation = 0;  // 0 while the slot is free
    uint32_t interest = 0;
  };
  class CWakeHandler;

  Slot* slotOf(Registration registration);
  const Slot* slotOf(Registration registration) const;
  void release(Registration registration, bool closing);
  void runDueTimers();
  void runDeferred();
  void deliver(const CPoller::Event& event);
  void destroyDisposed() {
    if (!disposed_.empty()) disposed_.clear();
  }
  int waitTimeout(int timeoutMs);

  CPoller::Kind backend_;
  std::unique_ptr<CPoller> poller_;
  CUniqueFd wakeRead_, wakeWrite_;
  std::unique_ptr<CWakeHandler> wakeHandler_;
  Registration wakeRegistration_ = 0;
  std::vector<Slot> slots_;
  std::vector<uint32_t> freeSlots_;
  uint32_t nextGeneration_ = 1;
  CDescriptorWatcher* watcher_ = nullptr;
  CTimerQueue timers_;
  int64_t batchClockMs_ = 0;
  bool batchClockValid_ = false;
  std::vector<std::function<void()>> deferred_, running_;
  std::vector<CPoller::Event> events_;
  std::vector<std::unique_ptr<CDisposable>> disposed_;
  uint64_t batch_ = 0;
  bool dispatching_ = false;
  bool quit_ = false;
  CMemoryReserve* memoryReserve_ = nullptr;
  // Last, so they go first: the pool's timer is one of the loop's.
  std::unique_ptr<CBufferPool> bufferPool_;
  std::unique_ptr<CPipePool> pipePool_;
  std::unique_ptr<COwnEndpoints> ownEndpoints_;
};
