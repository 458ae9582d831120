// The portable backend: poll(2), as POSIX has it, the model for WSAPoll. It
// keeps one pollfd per registration in a dense array, so a wait costs one
// system call over all of them; it has no descriptor of its own for another
// loop to watch.
#include <poll.h>

#include <unordered_map>
#include <vector>

#include "relay/poller.h"
#include "relay/readiness.h"

namespace {

// POLLRDHUP is Linux's; elsewhere the end of stream shows as readable.
#ifdef POLLRDHUP
constexpr short kPeerClosedBit = POLLRDHUP;
#else
constexpr short kPeerClosedBit = 0;
#endif

short toPoll(uint32_t interest) {
  short events = 0;
  if (interest & ready::kReadable) events |= POLLIN;
  if (interest & ready::kWritable) events |= POLLOUT;
  if (interest & ready::kUrgent) events |= POLLPRI;
  if (interest & ready::kPeerClosed) events |= kPeerClosedBit;
  return events;
}

uint32_t fromPoll(short revents) {
  uint32_t bits = 0;
  if (revents & POLLIN) bits |= ready::kReadable;
  if (revents & POLLOUT) bits |= ready::kWritable;
  if (revents & POLLPRI) bits |= ready::kUrgent;
  if (revents & kPeerClosedBit) bits |= ready::kPeerClosed;
  if (revents & POLLHUP) bits |= ready::kHangUp;
  if (revents & (POLLERR | POLLNVAL)) bits |= ready::kError;
  return bits;
}

class CPollPoller : public CPoller {
 public:
  bool ok() const override { return true; }

  bool add(int fd, uint32_t interest, uint64_t token) override {
    if (fd < 0 || at_.count(fd)) return false;
    at_.emplace(fd, fds_.size());
    fds_.push_back(pollfd{fd, toPoll(interest), 0});
    tokens_.push_back(token);
    return true;
  }

  bool modify(int fd, uint32_t interest, uint64_t token) override {
    auto it = at_.find(fd);
    if (it == at_.end()) return false;
    fds_[it->second].events = toPoll(interest);
    tokens_[it->second] = token;
    return true;
  }

  // The last entry takes the removed one's place: removal costs O(1).
  void remove(int fd) override {
    auto it = at_.find(fd);
    if (it == at_.end()) return;
    const size_t slot = it->second;
    at_.erase(it);
    if (slot + 1 != fds_.size()) {
      fds_[slot] = fds_.back();
      tokens_[slot] = tokens_.back();
      at_[fds_[slot].fd] = slot;
    }
    fds_.pop_back();
    tokens_.pop_back();
  }
  void forget(int fd) override { remove(fd); }
  int fd() const override { return -1; }

  // Handlers may add and remove registrations while the events are
  // delivered: the events are copied out first, tokens and all. More ready
  // descriptors than fit are taken from where the last wait stopped, so
  // none waits behind the others for ever.
  int wait(Event* events, int capacity, int timeoutMs) override {
    int ready = poll(fds_.data(), nfds_t(fds_.size()), timeoutMs);
    if (ready <= 0) return 0;
    int n = 0;
    const size_t count = fds_.size();
    size_t i = start_ < count ? start_ : 0;
    for (size_t seen = 0; seen < count && n < capacity && ready > 0; ++seen, i = (i + 1) % count) {
      if (!fds_[i].revents) continue;
      --ready;
      events[n++] = Event{tokens_[i], fromPoll(fds_[i].revents)};
    }
    start_ = i;
    return n;
  }

 private:
  std::vector<pollfd> fds_;
  std::vector<uint64_t> tokens_;
  std::unordered_map<int, size_t> at_;  // descriptor -> its place in fds_
  size_t start_ = 0;
};

}  // namespace

std::unique_ptr<CPoller> makePollPoller() { return std::make_unique<CPollPoller>(); }
