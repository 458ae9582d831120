// The Linux backend: one epoll set, level-triggered. The only file that
// knows epoll's bits.
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>

#include "relay/poller.h"
#include "relay/readiness.h"
#include "relay/platform/unique_fd.h"

namespace {

uint32_t toEpoll(uint32_t interest) {
  uint32_t events = 0;
  if (interest & ready::kReadable) events |= EPOLLIN;
  if (interest & ready::kWritable) events |= EPOLLOUT;
  if (interest & ready::kUrgent) events |= EPOLLPRI;
  if (interest & ready::kPeerClosed) events |= EPOLLRDHUP;
  return events;
}

uint32_t fromEpoll(uint32_t events) {
  uint32_t bits = 0;
  if (events & EPOLLIN) bits |= ready::kReadable;
  if (events & EPOLLOUT) bits |= ready::kWritable;
  if (events & EPOLLPRI) bits |= ready::kUrgent;
  if (events & EPOLLRDHUP) bits |= ready::kPeerClosed;
  if (events & EPOLLHUP) bits |= ready::kHangUp;
  if (events & EPOLLERR) bits |= ready::kError;
  return bits;
}

// The timer descriptor's events carry this token, which no registration
// has (a registration's generation is never 0).
constexpr uint64_t kTimerToken = 0;

class CEpollPoller : public CPoller {
 public:
  CEpollPoller()
      : epollFd_(epoll_create1(EPOLL_CLOEXEC)),
        timerFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (epollFd_ && timerFd_ && !control(EPOLL_CTL_ADD, timerFd_.get(), ready::kReadable, kTimerToken))
      timerFd_.reset();
  }

  bool ok() const override { return epollFd_ && timerFd_; }
  bool add(int fd, uint32_t interest, uint64_t token) override { return control(EPOLL_CTL_ADD, fd, interest, token); }
  bool modify(int fd, uint32_t interest, uint64_t token) override {
    return control(EPOLL_CTL_MOD, fd, interest, token);
  }
  // Removed before the descriptor is closed, as epoll requires.
  void remove(int fd) override { epoll_ctl(epollFd_.get(), EPOLL_CTL_DEL, fd, nullptr); }
  // Closing takes a descriptor that was never duplicated out of the set.
  void forget(int) override {}
  int fd() const override { return epollFd_.get(); }

  int wait(Event* events, int capacity, int timeoutMs) override {
    constexpr int kBatch = 256;
    epoll_event raw[kBatch];
    const int n = epoll_wait(epollFd_.get(), raw, capacity < kBatch ? capacity : kBatch, timeoutMs);
    int out = 0;
    for (int i = 0; i < n; ++i) {
      if (raw[i].data.u64 == kTimerToken) {
        drainTimer();  // the loop looks at its timers after every wait anyway
        continue;
      }
      events[out++] = Event{raw[i].data.u64, fromEpoll(raw[i].events)};
    }
    return out;
  }

  // One timer descriptor for every timer of the loop, set only when the
  // earliest deadline moves earlier: a wait then needs no timeout of its own.
  bool wakeBy(int64_t deadlineMs) override {
    if (armedMs_ >= 0 && armedMs_ <= deadlineMs) return true;
    itimerspec spec{};
    const int64_t at = deadlineMs > 0 ? deadlineMs : 1;  // zero would disarm it
    spec.it_value.tv_sec = at / 1000;
    spec.it_value.tv_nsec = (at % 1000) * 1000000;
    if (timerfd_settime(timerFd_.get(), TFD_TIMER_ABSTIME, &spec, nullptr) == 0) armedMs_ = deadlineMs;
    return true;
  }

 private:
  bool control(int op, int fd, uint32_t interest, uint64_t token) {
    epoll_event ev{};
    ev.events = toEpoll(interest);
    ev.data.u64 = token;
    return epoll_ctl(epollFd_.get(), op, fd, &ev) == 0;
  }

  void drainTimer() {
    uint64_t expirations = 0;
    while (read(timerFd_.get(), &expirations, sizeof expirations) < 0 && errno == EINTR) {
    }
    armedMs_ = -1;  // a one-shot timer that fired is disarmed
  }

  CUniqueFd epollFd_;
  CUniqueFd timerFd_;
  int64_t armedMs_ = -1;
};

}  // namespace

std::unique_ptr<CPoller> makeEpollPoller() { return std::make_unique<CEpollPoller>(); }
