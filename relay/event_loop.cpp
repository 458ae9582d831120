#include "relay/event_loop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "relay/buffer_pool.h"
#include "relay/own_endpoints.h"
#include "relay/pipe_pool.h"
#include "relay/platform/clock.h"
#include "relay/platform/descriptor.h"
#include "relay/platform/errors.h"

#ifndef QUILLEX_DEFAULT_POLLER
#define QUILLEX_DEFAULT_POLLER ""  // the system's first backend
#endif

namespace {

constexpr int kMaxEvents = 256;

bool kindNamed(const char* name, CPoller::Kind& kind) {
  for (const CPoller::Backend& backend : CPoller::backends())
    if (std::strcmp(name, backend.name) == 0) {
      kind = backend.kind;
      return true;
    }
  return false;
}

// Set and not empty.
const char* chosenBackend() {
  const char* chosen = std::getenv("QUILLEX_POLLER");
  return chosen && *chosen ? chosen : nullptr;
}

// A token holds the slot's generation and its index: the loop's own
// handle, not the descriptor, so numbers the system hands out again never
// reach a registration that ended.
CEventLoop::Registration tokenOf(uint32_t generation, size_t slot) {
  return (uint64_t(generation) << 32) | uint32_t(slot);
}

}  // namespace

// Empties the wake-up pipe; the wake-up itself was the point.
class CEventLoop::CWakeHandler : public CEventHandler {
 public:
  explicit CWakeHandler(int fd) : fd_(fd) {}
  void handleEvents(uint32_t) override {
    char drained[64];
    while (platform::readSome(fd_, drained, sizeof drained) > 0) {
    }
  }

 private:
  int fd_;
};

// The build's default is the system's first backend unless the build named another.
CPoller::Kind CEventLoop::defaultBackend() {
  CPoller::Kind kind = CPoller::backends().front().kind;
  const char* chosen = chosenBackend();
  if (!chosen || !kindNamed(chosen, kind)) kindNamed(QUILLEX_DEFAULT_POLLER, kind);
  return kind;
}

const char* CEventLoop::unknownBackendChosen() {
  CPoller::Kind kind;
  const char* chosen = chosenBackend();
  return chosen && !kindNamed(chosen, kind) ? chosen : nullptr;
}

CEventLoop::CEventLoop(CPoller::Kind backend)
    : backend_(backend), poller_(CPoller::create(backend)), events_(kMaxEvents) {
  if (!poller_->ok() || !platform::makePipe(wakeRead_, wakeWrite_, true, true)) return;
  wakeHandler_ = std::make_unique<CWakeHandler>(wakeRead_.get());
  wakeRegistration_ = add(wakeRead_.get(), ready::kReadable, wakeHandler_.get());
}

// What waits to be destroyed may still give buffers back to the pool.
CEventLoop::~CEventLoop() { disposed_.clear(); }

CBufferPool& CEventLoop::bufferPool() {
  if (!bufferPool_) bufferPool_ = std::make_unique<CBufferPool>(*this);
  return *bufferPool_;
}

CPipePool& CEventLoop::pipePool() {
  if (!pipePool_) pipePool_ = std::make_unique<CPipePool>(*this);
  return *pipePool_;
}

COwnEndpoints& CEventLoop::ownEndpoints() {
  if (!ownEndpoints_) ownEndpoints_ = std::make_unique<COwnEndpoints>();
  return *ownEndpoints_;
}

void CEventLoop::setDescriptorWatcher(CDescriptorWatcher* watcher) {
  watcher_ = watcher;
  if (!watcher_) return;
  for (const Slot& slot : slots_)
    if (slot.generation != 0) watcher_->watchDescriptor(slot.fd, slot.interest);
}

CEventLoop::Registration CEventLoop::add(int fd, uint32_t interest, CEventHandler* handler) {
  if (fd < 0 || !handler) {
    platform::setLastSystemError(platform::CLoopError::InvalidArgument);
    return 0;
  }
  size_t index;
  if (!freeSlots_.empty()) {
    index = freeSlots_.back();
    freeSlots_.pop_back();
  } else {
    index = slots_.size();
    slots_.emplace_back();
  }
  const uint32_t generation = nextGeneration_++;
  if (nextGeneration_ == 0) nextGeneration_ = 1;
  const Registration token = tokenOf(generation, index);
  if (!poller_->add(fd, interest, token)) {
    const int error = platform::lastSystemError();
    freeSlots_.push_back(uint32_t(index));
    platform::setLastSystemError(error);
    return 0;
  }
  slots_[index] = Slot{handler, fd, generation, interest};
  if (watcher_) watcher_->watchDescriptor(fd, interest);
  return token;
}

CEventLoop::Slot* CEventLoop::slotOf(Registration registration) {
  const size_t index = uint32_t(registration);
  const uint32_t generation = uint32_t(registration >> 32);
  if (generation == 0 || index >= slots_.size() || slots_[index].generation != generation) return nullptr;
  return &slots_[index];
}

const CEventLoop::Slot* CEventLoop::slotOf(Registration registration) const {
  return const_cast<CEventLoop*>(this)->slotOf(registration);
}

bool CEventLoop::isRegistered(Registration registration) const { return slotOf(registration) != nullptr; }

bool CEventLoop::modify(Registration registration, uint32_t interest) {
  Slot* slot = slotOf(registration);
  if (!slot) {
    platform::setLastSystemError(platform::CLoopError::NotRegistered);
    return false;
  }
  if (!poller_->modify(slot->fd, interest, registration)) return false;
  slot->interest = interest;
  if (watcher_) watcher_->watchDescriptor(slot->fd, interest);
  return true;
}

void CEventLoop::remove(Registration registration) { release(registration, false); }

void CEventLoop::forget(Registration registration) { release(registration, true); }

void CEventLoop::release(Registration registration, bool closing) {
  Slot* slot = slotOf(registration);
  if (!slot) return;
  if (closing)
    poller_->forget(slot->fd);
  else
    poller_->remove(slot->fd);
  if (watcher_) watcher_->unwatchDescriptor(slot->fd);
  *slot = Slot{};
  freeSlots_.push_back(uint32_t(registration));
}

int64_t CEventLoop::nowMs() {
  if (!batchClockValid_) {
    batchClockMs_ = platform::monotonicMs();
    batchClockValid_ = dispatching_;
  }
  return batchClockMs_;
}

int64_t CEventLoop::msUntilNextTimer() {
  if (timers_.empty()) return -1;
  return std::max<int64_t>(0, timers_.earliest() - platform::monotonicMs());
}

// Outside a dispatch another loop may wait on fd() with an older deadline:
// a timer that is now the earliest wakes it to look again.
void CEventLoop::schedule(CTimer& timer, int64_t delayMs) {
  const bool wasEarlier = !timers_.empty() && timers_.earliest() <= nowMs() + delayMs;
  timers_.schedule(timer, nowMs() + (delayMs > 0 ? delayMs : 0));
  if (wasEarlier) return;
  if (!poller_->wakeBy(timers_.earliest()) && !dispatching_) wake();
}

void CEventLoop::runDueTimers() {
  if (timers_.empty()) return;
  const int64_t now = nowMs();
  while (CTimer* due = timers_.popDue(now)) {
    if (due->callback) due->callback();  // may destroy the timer: nothing of it is touched after
    destroyDisposed();
  }
  if (!timers_.empty()) poller_->wakeBy(timers_.earliest());
}

void CEventLoop::defer(std::function<void()> task) {
  deferred_.push_back(std::move(task));
  // Outside a dispatch another loop may be waiting on fd(): make it look.
  if (!dispatching_ && deferred_.size() == 1) wake();
}

void CEventLoop::runDeferred() {
  // Tasks deferred by these tasks run in the next round, so none starves the loop.
  running_.swap(deferred_);
  for (auto& task : running_) {
    task();
    destroyDisposed();
  }
  running_.clear();
}

void CEventLoop::dispose(std::unique_ptr<CDisposable> object) {
  if (dispatching_)
    disposed_.push_back(std::move(object));
  // Outside a dispatch no handler of the object can be on the stack.
}

void CEventLoop::wake() {
  const char one = 1;
  // A full pipe means a wake-up is pending already.
  platform::writeSome(wakeWrite_.get(), &one, 1);
}

void CEventLoop::quit() {
  quit_ = true;
  wake();
}

void CEventLoop::run() {
  quit_ = false;
  while (!quit_) runOnce(-1);
}

int CEventLoop::dispatchFor(int64_t maxUs) {
  if (dispatching_) return 0;  // runOnce would refuse at once, again and again
  const int64_t end = platform::monotonicUs() + maxUs;
  int dispatched = runOnce(0);
  // Waits are whole milliseconds: the last part of the budget is not waited.
  for (;;) {
    const int64_t left = end - platform::monotonicUs();
    if (quit_ || left < 1000) return dispatched;
    dispatched += runOnce(int(left / 1000));
  }
}

void CEventLoop::deliver(const CPoller::Event& event) {
  // An earlier handler of this batch may have removed the registration (and
  // the system may have given its descriptor number to another socket).
  Slot* slot = slotOf(event.token);
  if (!slot) return;
  slot->handler->handleEvents(event.ready);
  destroyDisposed();
}

int CEventLoop::waitTimeout(int timeoutMs) {
  if (!deferred_.empty()) return 0;
  if (!timers_.empty() && poller_->wakeBy(timers_.earliest())) return timeoutMs;
  const int64_t timer = msUntilNextTimer();
  if (timer < 0) return timeoutMs;
  // Rounded up, so that a timer is not looked at a millisecond early for ever.
  const int64_t untilTimer = std::min<int64_t>(timer + (timer > 0 ? 1 : 0), 1 << 30);
  return timeoutMs < 0 ? int(untilTimer) : int(std::min<int64_t>(timeoutMs, untilTimer));
}

int CEventLoop::runOnce(int timeoutMs) {
  if (dispatching_) return 0;
  const int n = poller_->wait(events_.data(), kMaxEvents, waitTimeout(timeoutMs));
  dispatching_ = true;
  ++batch_;
  batchClockValid_ = false;
  for (int i = 0; i < n; ++i) deliver(events_[i]);
  runDueTimers();
  runDeferred();
  dispatching_ = false;
  batchClockValid_ = false;
  return n;
}
