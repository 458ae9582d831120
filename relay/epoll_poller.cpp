// The Linux backend: one epoll set, level-triggered. The only file that
// knows epoll's bits.
#include <sys/epoll.h>

#include <cerrno>

#include "relay/poller.h"
#include "relay/readiness.h"
#include "relay/unique_fd.h"

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

class CEpollPoller : public CPoller {
 public:
  CEpollPoller() : epollFd_(epoll_create1(EPOLL_CLOEXEC)) {}

  bool ok() const override { return bool(epollFd_); }
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
    for (int i = 0; i < n; ++i) events[i] = Event{raw[i].data.u64, fromEpoll(raw[i].events)};
    return n > 0 ? n : 0;  // EINTR or nothing ready
  }

 private:
  bool control(int op, int fd, uint32_t interest, uint64_t token) {
    epoll_event ev{};
    ev.events = toEpoll(interest);
    ev.data.u64 = token;
    return epoll_ctl(epollFd_.get(), op, fd, &ev) == 0;
  }

  CUniqueFd epollFd_;
};

}  // namespace

std::unique_ptr<CPoller> makeEpollPoller() { return std::make_unique<CEpollPoller>(); }
