#include "relay/event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

constexpr int kMaxEvents = 256;
// Registrations of the loop's own descriptors carry generation 0, which no
// user registration ever gets.
constexpr uint32_t kInternal = 0;

int64_t nowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint64_t pack(int fd, uint32_t generation) {
  return (uint64_t(generation) << 32) | uint32_t(fd);
}

bool addInternal(int epollFd, int fd) {
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = pack(fd, kInternal);
  return epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) == 0;
}

}  // namespace

CEventLoop::CEventLoop()
    : epollFd_(epoll_create1(EPOLL_CLOEXEC)),
      timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)),
      wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (ok() && !(addInternal(epollFd_.get(), timerFd_.get()) && addInternal(epollFd_.get(), wakeFd_.get())))
    epollFd_.reset();
}

bool CEventLoop::add(int fd, uint32_t events, CEventHandler* handler) {
  if (fd < 0 || !handler) {
    errno = EINVAL;
    return false;
  }
  if (size_t(fd) >= slots_.size()) slots_.resize(size_t(fd) + 1);
  uint32_t generation = nextGeneration_++;
  if (nextGeneration_ == kInternal) nextGeneration_ = 1;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = pack(fd, generation);
  if (epoll_ctl(epollFd_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  slots_[size_t(fd)] = Slot{handler, generation};
  return true;
}

bool CEventLoop::modify(int fd, uint32_t events) {
  uint32_t generation = this->generation(fd);
  if (generation == 0) {
    errno = ENOENT;
    return false;
  }
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = pack(fd, generation);
  return epoll_ctl(epollFd_.get(), EPOLL_CTL_MOD, fd, &ev) == 0;
}

void CEventLoop::remove(int fd) {
  if (generation(fd) == 0) return;
  // Removed before the descriptor is closed, as epoll requires.
  epoll_ctl(epollFd_.get(), EPOLL_CTL_DEL, fd, nullptr);
  slots_[size_t(fd)] = Slot{};
}

void CEventLoop::forget(int fd) {
  if (generation(fd) != 0) slots_[size_t(fd)] = Slot{};
}

void CEventLoop::defer(std::function<void()> task) {
  deferred_.push_back(std::move(task));
  // Outside a dispatch another loop may be waiting on fd(): make it look.
  if (!dispatching_ && deferred_.size() == 1) wake();
}

void CEventLoop::runDeferred() {
  // Tasks deferred by these tasks run in the next round, so none starves the loop.
  running_.swap(deferred_);
  for (auto& task : running_) task();
  running_.clear();
}

uint32_t CEventLoop::generation(int fd) const {
  if (fd < 0 || size_t(fd) >= slots_.size()) return 0;
  return slots_[size_t(fd)].generation;
}

bool CEventLoop::isRegistered(int fd, uint32_t generation) const {
  return generation != 0 && this->generation(fd) == generation;
}

int64_t CEventLoop::nowMs() {
  if (!batchClockValid_) {
    batchClockMs_ = monotonicMs();
    batchClockValid_ = dispatching_;
  }
  return batchClockMs_;
}

void CEventLoop::schedule(CTimer& timer, int64_t delayMs) {
  timers_.schedule(timer, nowMs() + (delayMs > 0 ? delayMs : 0));
  armTimerFd();
}

// An owned timer's tag is its id.
CEventLoop::TimerId CEventLoop::addTimer(int64_t delayMs, std::function<void()> callback) {
  TimerId id = nextTimer_++;
  auto owned = std::make_unique<OwnedTimer>();
  owned->timer.tag = intptr_t(id);
  owned->callback = std::move(callback);
  CTimer& timer = owned->timer;
  ownedTimers_.emplace(id, std::move(owned));
  schedule(timer, delayMs);
  return id;
}

void CEventLoop::cancelTimer(TimerId id) { ownedTimers_.erase(id); }

// Only an earlier deadline sets the descriptor again; a cancelled earliest
// timer costs at most one early wake-up instead of a system call each time.
void CEventLoop::armTimerFd() {
  if (timers_.empty()) return;
  int64_t earliest = timers_.earliest();
  if (armedDeadline_ >= 0 && armedDeadline_ <= earliest) return;
  // An absolute time of zero would disarm the timer; one millisecond is due.
  if (earliest <= 0) earliest = 1;
  itimerspec spec{};
  spec.it_value.tv_sec = earliest / 1000;
  spec.it_value.tv_nsec = (earliest % 1000) * 1000000;
  if (timerfd_settime(timerFd_.get(), TFD_TIMER_ABSTIME, &spec, nullptr) == 0) armedDeadline_ = earliest;
}

void CEventLoop::runDueTimers() {
  uint64_t expirations = 0;
  while (read(timerFd_.get(), &expirations, sizeof expirations) < 0 && errno == EINTR) {
  }
  armedDeadline_ = -1;  // a one-shot descriptor that fired is disarmed
  const int64_t now = monotonicMs();
  while (CTimer* due = timers_.popDue(now)) {
    if (due->callback) {
      due->callback(*due, due->owner);  // may destroy the timer: nothing of it is touched after
      continue;
    }
    auto owned = ownedTimers_.extract(TimerId(due->tag));
    if (!owned.empty()) owned.mapped()->callback();
  }
  armTimerFd();
}

void CEventLoop::wake() {
  uint64_t one = 1;
  ssize_t r = ::write(wakeFd_.get(), &one, sizeof one);
  (void)r;  // a full counter means a wake-up is pending already
}

void CEventLoop::drainWake() {
  uint64_t value = 0;
  while (read(wakeFd_.get(), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

void CEventLoop::quit() {
  quit_ = true;
  wake();
}

void CEventLoop::run() {
  quit_ = false;
  while (!quit_) runOnce(-1);
}

int CEventLoop::dispatchWhileBusy(int64_t maxUs) {
  int dispatched = 0;
  const int64_t start = nowUs();
  for (int n = runOnce(0); n > 0 && !quit_; n = nowUs() - start < maxUs ? runOnce(0) : 0) dispatched += n;
  return dispatched;
}

void CEventLoop::deliver(uint64_t data, uint32_t events) {
  int fd = int(uint32_t(data));
  uint32_t generation = uint32_t(data >> 32);
  if (generation == kInternal) {
    if (fd == timerFd_.get()) runDueTimers();
    if (fd == wakeFd_.get()) drainWake();
    return;
  }
  // An earlier handler of this batch may have removed (and the kernel reused)
  // the descriptor; only the registration the event was queued for counts.
  if (!isRegistered(fd, generation)) return;
  slots_[size_t(fd)].handler->handleEvents(events);
}

int CEventLoop::runOnce(int timeoutMs) {
  if (dispatching_) return 0;
  epoll_event events[kMaxEvents];
  int n = epoll_wait(epollFd_.get(), events, kMaxEvents, deferred_.empty() ? timeoutMs : 0);
  dispatching_ = true;
  batchClockValid_ = false;
  ++batch_;
  for (int i = 0; i < n; ++i) deliver(events[i].data.u64, events[i].events);
  runDeferred();
  dispatching_ = false;
  batchClockValid_ = false;
  return n > 0 ? n : 0;  // EINTR or nothing ready: 0
}
