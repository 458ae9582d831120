#include "relay/line_output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>

namespace {

// How soon a file that could take nothing is tried again.
constexpr int kFileRetryMs = 1000;

uint64_t lineCount(const char* data, size_t size) {
  return std::max<uint64_t>(1, uint64_t(std::count(data, data + size, '\n')));
}

// The same pipe or terminal opened once more, with a file description of
// its own: making it non-blocking then leaves the descriptor the program
// shares with its parent (a shell's terminal) as it was.
int reopenNonBlocking(int fd) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

int64_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

CLineOutput::CLineOutput(int fd, DroppedLine droppedLine, size_t capacity)
    : fd_(fd), out_(fd), droppedLine_(droppedLine), capacity_(capacity) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return;  // nothing to write to; every write fails quietly
  if (S_ISSOCK(st.st_mode)) {
    kind_ = Kind::Socket;
    return;
  }
  // Regular files and devices such as the null device take a write at once,
  // or cannot take it now (a full disk): such a file is tried again later.
  if (!S_ISFIFO(st.st_mode) && !(S_ISCHR(st.st_mode) && isatty(fd))) {
    kind_ = Kind::File;
    return;
  }
  kind_ = Kind::NonBlocking;
  ownFd_.reset(reopenNonBlocking(fd));
  if (ownFd_) {
    out_ = ownFd_.get();
    return;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) restoreBlocking_ = fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

CLineOutput::~CLineOutput() {
  watch(false);
  if (restoreBlocking_) fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

void CLineOutput::attach(CEventLoop* loop) {
  watch(false);
  loop_ = loop;
  watch(used_ > 0);
}

ssize_t CLineOutput::writeNow(const char* data, size_t size) {
  for (;;) {
    const ssize_t n = kind_ == Kind::Socket ? send(out_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL)
                                            : ::write(out_, data, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    // A disk (or a quota, or a size limit) that is full now may have room later.
    if (kind_ == Kind::File) return errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO ? 0 : -1;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

void CLineOutput::write(const char* data, size_t size) {
  if (broken_ || size == 0) return;
  if (size > capacity_) {  // could never be written whole
    dropped_ += lineCount(data, size);
    droppedTotal_ += lineCount(data, size);
    return;
  }
  // While the loop watches for room, it says when there is some: no write
  // is tried in vain for every line.
  if (used_ > 0 && !watching_) flush();
  if (used_ == 0 && dropped_ == 0) {
    const ssize_t n = writeNow(data, size);
    if (n < 0) broken_ = true;
    if (n < 0 || size_t(n) == size) return;
    append(data + n, size - size_t(n));  // the rest of a line that was begun always follows it
    watch(true);
    return;
  }
  if (dropped_ > 0 && used_ == 0) appendDroppedLine();
  if (dropped_ > 0 || !fits(size) || !haveRing()) {
    const uint64_t lines = lineCount(data, size);
    dropped_ += lines;
    droppedTotal_ += lines;
    return;
  }
  append(data, size);
  watch(true);
}

void CLineOutput::append(const char* data, size_t size) {
  if (!haveRing()) return;  // memory is short: the piece is lost
  size_t tail = (head_ + used_) % capacity_;
  const size_t first = std::min(size, capacity_ - tail);
  std::memcpy(ring_.get() + tail, data, first);
  std::memcpy(ring_.get(), data + first, size - first);
  used_ += size;
}

// Comes where the lines went, once everything queued before them is out:
// one notice with the whole count, and what follows it was written after.
void CLineOutput::appendDroppedLine() {
  char line[256];
  const size_t length = std::min(droppedLine_(line, sizeof line, dropped_), sizeof line);
  if (!fits(length)) return;
  append(line, length);
  dropped_ = 0;
}

// A write of at most PIPE_BUF bytes to a pipe goes in whole or not at all,
// so another writer of the same pipe (standard output and error joined)
// never cuts into one of these lines: each write is whole lines, copied
// out of the ring, that fit in PIPE_BUF. Only a line longer than that is
// written in pieces.
size_t CLineOutput::takeChunk(char* chunk) const {
  const size_t length = std::min<size_t>(used_, PIPE_BUF);
  const size_t first = std::min(length, capacity_ - head_);
  std::memcpy(chunk, ring_.get() + head_, first);
  std::memcpy(chunk + first, ring_.get(), length - first);
  if (length == used_) return length;
  const char* lastBreak = static_cast<const char*>(memrchr(chunk, '\n', length));
  return lastBreak ? size_t(lastBreak - chunk) + 1 : length;
}

void CLineOutput::flush() {
  char chunk[PIPE_BUF];
  while (used_ > 0 && !broken_) {
    const ssize_t n = writeNow(chunk, takeChunk(chunk));
    if (n < 0) {
      broken_ = true;  // the reader is gone for good
      used_ = 0;
    }
    if (n <= 0) break;
    head_ = (head_ + size_t(n)) % capacity_;
    used_ -= size_t(n);
    if (dropped_ > 0 && used_ == 0) appendDroppedLine();
  }
  if (used_ == 0) head_ = 0;
  watch(used_ > 0);
}

void CLineOutput::handleEvents(uint32_t) { flush(); }

void CLineOutput::watch(bool on) {
  if (!loop_ || on == watching_) return;
  watching_ = on;
  if (kind_ == Kind::File) {
    // A file is always "writable": the loop tries it again after a while instead.
    if (!on) {
      loop_->cancelTimer(std::exchange(retryTimer_, 0));
      return;
    }
    retryTimer_ = loop_->addTimer(kFileRetryMs, [this] {
      retryTimer_ = 0;
      watching_ = false;
      flush();
    });
    return;
  }
  if (on) {
    registration_ = loop_->add(out_, ready::kWritable, this);
    watching_ = registration_ != 0;
  } else {
    loop_->remove(registration_);
  }
}

void CLineOutput::drain(int timeoutMs) {
  const int64_t deadline = monotonicMs() + timeoutMs;
  for (;;) {
    flush();
    if (kind_ == Kind::File) return;  // a full disk has no readiness to wait for
    const int64_t left = deadline - monotonicMs();
    if (used_ == 0 || broken_ || left <= 0) return;
    pollfd p{out_, POLLOUT, 0};
    if (poll(&p, 1, int(left)) == 0) return;
  }
}
