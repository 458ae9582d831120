// The Windows backend: WSAPoll, the system's poll(2) for sockets, over a
// dense array of entries like the poll backend. The only file that knows
// WSAPoll's bits. Where they differ from poll(2):
// - `events` takes only POLLRDNORM, POLLRDBAND and POLLWRNORM (any other
//   flag fails the whole call with WSAEINVAL);
// - POLLHUP means the peer's FIN, not both directions gone: it is reported
//   as readable (the read of 0 is the proof) and the peer's end, so a
//   half-closed connection goes on sending;
// - POLLHUP and POLLERR come whatever `events` asks. A socket whose peer
//   ended while its owner reads nothing would make every wait return at
//   once: it is left out of the wait until its interest changes, and while
//   it waits for room to send, it is looked at on its own every
//   kRelookMs instead.
#include <winsock2.h>

#include <unordered_map>
#include <vector>

#include "relay/platform/windows_winsock.h"
#include "relay/poller.h"
#include "relay/readiness.h"

using platform::socketOf;

namespace {

constexpr int kRelookMs = 10;

short toWsaPoll(uint32_t interest) {
  short events = 0;
  if (interest & (ready::kReadable | ready::kPeerClosed)) events |= POLLRDNORM;
  if (interest & ready::kWritable) events |= POLLWRNORM;
  if (interest & ready::kUrgent) events |= POLLRDBAND;
  return events;
}

uint32_t fromWsaPoll(short revents) {
  uint32_t bits = 0;
  if (revents & (POLLRDNORM | POLLHUP)) bits |= ready::kReadable;
  if (revents & POLLHUP) bits |= ready::kPeerClosed;
  if (revents & POLLWRNORM) bits |= ready::kWritable;
  if (revents & POLLRDBAND) bits |= ready::kUrgent;
  if (revents & (POLLERR | POLLNVAL)) bits |= ready::kError;
  return bits;
}

class CWsaPollPoller : public CPoller {
 public:
  bool ok() const override { return true; }

  bool add(int fd, uint32_t interest, uint64_t token) override {
    if (fd < 0 || at_.count(fd)) return false;
    at_.emplace(fd, entries_.size());
    entries_.push_back(Entry{fd, interest, token, false});
    fds_.push_back(WSAPOLLFD{socketOf(fd), toWsaPoll(interest), 0});
    return true;
  }

  bool modify(int fd, uint32_t interest, uint64_t token) override {
    auto it = at_.find(fd);
    if (it == at_.end()) return false;
    Entry& entry = entries_[it->second];
    unmute(entry);  // the next wait says again whether the peer has ended
    entry.interest = interest;
    entry.token = token;
    fds_[it->second] = WSAPOLLFD{socketOf(fd), toWsaPoll(interest), 0};
    return true;
  }

  // The last entry takes the removed one's place: removal costs O(1).
  void remove(int fd) override {
    auto it = at_.find(fd);
    if (it == at_.end()) return;
    const size_t slot = it->second;
    unmute(entries_[slot]);
    at_.erase(it);
    if (slot + 1 != entries_.size()) {
      entries_[slot] = entries_.back();
      fds_[slot] = fds_.back();
      at_[entries_[slot].fd] = slot;
    }
    entries_.pop_back();
    fds_.pop_back();
  }
  void forget(int fd) override { remove(fd); }
  int fd() const override { return -1; }

  // As the poll backend: events copied out first, tokens and all, and more
  // ready sockets than fit taken from where the last wait stopped.
  int wait(Event* events, int capacity, int timeoutMs) override {
    if (fds_.empty()) return 0;  // WSAPoll refuses an empty set; the loop always holds its wake socket
    const bool relook = mutedWriters_ > 0;
    if (relook && (timeoutMs < 0 || timeoutMs > kRelookMs)) timeoutMs = kRelookMs;
    int ready = WSAPoll(fds_.data(), ULONG(fds_.size()), timeoutMs);
    int n = 0;
    const size_t count = fds_.size();
    size_t i = start_ < count ? start_ : 0;
    for (size_t seen = 0; seen < count && n < capacity && ready > 0; ++seen, i = (i + 1) % count) {
      const short revents = fds_[i].revents;
      if (!revents) continue;
      --ready;
      if (peerEndedUnheard(revents, entries_[i].interest)) {
        mute(i);
        continue;
      }
      events[n++] = Event{entries_[i].token, fromWsaPoll(revents)};
    }
    start_ = i;
    if (relook) n += relookMutedWriters(events + n, capacity - n);
    return n;
  }

 private:
  struct Entry {
    int fd;
    uint32_t interest;
    uint64_t token;
    bool peerEnded;  // left out of the wait until its interest changes
  };

  // The peer's end alone, while its owner reads nothing: an error still counts.
  static bool peerEndedUnheard(short revents, uint32_t interest) {
    return (revents & POLLHUP) && !(revents & (POLLERR | POLLNVAL)) &&
           !(interest & (ready::kReadable | ready::kPeerClosed));
  }

  // WSAPoll passes over an entry whose socket is negative.
  void mute(size_t i) {
    Entry& entry = entries_[i];
    entry.peerEnded = true;
    if (entry.interest & ready::kWritable) ++mutedWriters_;
    fds_[i].fd = INVALID_SOCKET;
    fds_[i].revents = 0;
  }

  void unmute(Entry& entry) {
    if (entry.peerEnded && (entry.interest & ready::kWritable)) --mutedWriters_;
    entry.peerEnded = false;
  }

  // The muted sockets that wait for room to send, each asked alone.
  int relookMutedWriters(Event* events, int capacity) {
    int n = 0;
    for (const Entry& entry : entries_) {
      if (n == capacity) break;
      if (!entry.peerEnded || !(entry.interest & ready::kWritable)) continue;
      WSAPOLLFD one{socketOf(entry.fd), POLLWRNORM, 0};
      if (WSAPoll(&one, 1, 0) <= 0 || !(one.revents & (POLLWRNORM | POLLERR | POLLNVAL))) continue;
      events[n++] = Event{entry.token, fromWsaPoll(short(one.revents & ~POLLHUP))};
    }
    return n;
  }

  std::vector<Entry> entries_;
  std::vector<WSAPOLLFD> fds_;
  std::unordered_map<int, size_t> at_;  // descriptor -> its place in entries_ and fds_
  size_t start_ = 0;
  int mutedWriters_ = 0;  // muted entries that wait to be writable
};

}  // namespace

std::unique_ptr<CPoller> makeWsaPollPoller() { return std::make_unique<CWsaPollPoller>(); }
