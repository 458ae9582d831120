#pragma once
// Lines written to a descriptor whose reader may stop reading (a pipe, a
// terminal, a journal's socket, a FIFO) or that may be full (a file on a
// full disk) without ever blocking the relay's one thread. What cannot be
// written at once waits in a ring of fixed size, in order; when the ring is
// full, whole lines are dropped and counted, and once everything that waited
// is out, one line says how many went, in the output's own format. A line is
// never written in part: the rest of a short write waits for its turn.
//
// Owns the ring and, where it had to open the output anew to make it
// non-blocking, that descriptor; not the descriptor it was given, nor the loop.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "relay/event_loop.h"
#include "relay/line_sink.h"
#include "relay/platform/output.h"
#include "relay/platform/unique_fd.h"

class CLineOutput : public CLineSink, private CEventHandler {
 public:
  // Writes the line that says how many lines were dropped (with its line
  // break) into buffer and returns its length.
  using DroppedLine = size_t (*)(char* buffer, size_t size, uint64_t dropped);
  static constexpr size_t kDefaultCapacity = size_t(1) << 20;  // about a mebibyte waits; beyond it lines are dropped

  explicit CLineOutput(int fd, DroppedLine droppedLine, size_t capacity = kDefaultCapacity);
  ~CLineOutput();
  CLineOutput(const CLineOutput&) = delete;
  CLineOutput& operator=(const CLineOutput&) = delete;

  // With a loop, what waits goes out as soon as the descriptor takes it;
  // without one, at the next write or drain. Null detaches.
  void attach(CEventLoop* loop);
  // One or more whole lines.
  void write(const char* data, size_t size) override;
  // Waits at most timeoutMs for everything queued to go out; for the end of
  // the program, when no loop runs any more.
  void drain(int timeoutMs);
  uint64_t droppedLines() const { return droppedTotal_; }  // since the start
  size_t queuedBytes() const { return used_; }

 private:
  using Kind = platform::COutputKind;

  void handleEvents(uint32_t events) override;
  // Writes what waits, as far as the descriptor takes it without waiting.
  void flush();
  // Copies the next piece to write into chunk (kAtomicWriteBytes); its length.
  size_t takeChunk(char* chunk) const;
  void append(const char* data, size_t size);
  void appendDroppedLine();
  bool fits(size_t size) const { return capacity_ - used_ >= size; }
  // Takes the ring the first time something must wait; false when memory is short.
  bool haveRing() {
    if (!ring_) ring_.reset(new (std::nothrow) char[capacity_]);
    return ring_ != nullptr;
  }
  void watch(bool on);

  Kind kind_ = Kind::File;
  int fd_;           // the descriptor given
  CUniqueFd ownFd_;  // the same output opened anew, non-blocking
  int out_;          // the one written to: fd_ or ownFd_
  bool restoreBlocking_ = false;  // fd_ itself was made non-blocking
  DroppedLine droppedLine_;
  size_t capacity_;
  std::unique_ptr<char[]> ring_;  // taken the first time something must wait
  size_t head_ = 0;
  size_t used_ = 0;
  uint64_t dropped_ = 0;       // lines dropped since the last notice
  uint64_t droppedTotal_ = 0;
  bool broken_ = false;        // the reader is gone: nothing is queued any more
  CEventLoop* loop_ = nullptr;
  CEventLoop::Registration registration_ = 0;
  // An output the loop cannot wait on (a full file, a pipe on Windows) is
  // tried again when this fires: soon while it takes something (a reader is
  // there), less and less often while it takes nothing.
  static constexpr int kFirstRetryMs = 10, kLastRetryMs = 1000;
  CTimer retryTimer_{[this] {
    watching_ = false;
    flush();
  }};
  int retryMs_ = kFirstRetryMs;
  bool watching_ = false;
};
