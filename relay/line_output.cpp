#include "relay/line_output.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "relay/platform/clock.h"

namespace {

uint64_t lineCount(const char* data, size_t size) {
  return std::max<uint64_t>(1, uint64_t(std::count(data, data + size, '\n')));
}

}  // namespace

CLineOutput::CLineOutput(int fd, DroppedLine droppedLine, size_t capacity)
    : fd_(fd), out_(fd), droppedLine_(droppedLine), capacity_(capacity) {
  // Nothing to write to: every write fails quietly. A file that cannot take
  // a line now (a full disk) is tried again later.
  if (!platform::outputKindOf(fd, kind_) || kind_ != Kind::Stream) return;
  ownFd_.reset(platform::reopenNonBlocking(fd));
  if (ownFd_) {
    out_ = ownFd_.get();
    return;
  }
  restoreBlocking_ = platform::setNonBlockingFlag(fd, true);
}

CLineOutput::~CLineOutput() {
  watch(false);
  if (restoreBlocking_) platform::setNonBlockingFlag(fd_, false);
}

void CLineOutput::attach(CEventLoop* loop) {
  watch(false);
  loop_ = loop;
  watch(used_ > 0);
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
    const long n = platform::writeOutput(out_, kind_, data, size);
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

// A write of at most kAtomicWriteBytes to a pipe goes in whole or not at
// all, so another writer of the same pipe (standard output and error joined)
// never cuts into one of these lines: each write is whole lines, copied
// out of the ring, that fit in it. Only a line longer than that is
// written in pieces.
size_t CLineOutput::takeChunk(char* chunk) const {
  const size_t length = std::min(used_, platform::kAtomicWriteBytes);
  const size_t first = std::min(length, capacity_ - head_);
  std::memcpy(chunk, ring_.get() + head_, first);
  std::memcpy(chunk + first, ring_.get(), length - first);
  if (length == used_) return length;
  const size_t lastBreak = std::string_view(chunk, length).rfind('\n');
  return lastBreak == std::string_view::npos ? length : lastBreak + 1;
}

void CLineOutput::flush() {
  char chunk[platform::kAtomicWriteBytes];
  bool took = false;
  while (used_ > 0 && !broken_) {
    const long n = platform::writeOutput(out_, kind_, chunk, takeChunk(chunk));
    if (n < 0) {
      broken_ = true;  // the reader is gone for good
      used_ = 0;
    }
    if (n <= 0) break;
    took = true;
    head_ = (head_ + size_t(n)) % capacity_;
    used_ -= size_t(n);
    if (dropped_ > 0 && used_ == 0) appendDroppedLine();
  }
  if (used_ == 0) head_ = 0;
  retryMs_ = took ? kFirstRetryMs : std::min(retryMs_ * 2, kLastRetryMs);
  watch(used_ > 0);
}

void CLineOutput::handleEvents(uint32_t) { flush(); }

void CLineOutput::watch(bool on) {
  if (!loop_ || on == watching_) return;
  watching_ = on;
  if (!platform::loopWaitsOn(kind_)) {
    // A file is always "writable", and some outputs cannot be waited on: the
    // loop tries them again after a while instead.
    if (!on) {
      retryTimer_.cancel();
      return;
    }
    loop_->schedule(retryTimer_, retryMs_);
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
  const int64_t deadline = platform::monotonicMs() + timeoutMs;
  for (;;) {
    flush();
    if (kind_ == Kind::File) return;  // a full disk has no readiness to wait for
    const int64_t left = deadline - platform::monotonicMs();
    if (used_ == 0 || broken_ || left <= 0) return;
    if (!platform::waitWritable(out_, int(left))) return;
  }
}
