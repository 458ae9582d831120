#pragma once
// A stream's send buffer, held only while bytes wait in it: the memory comes
// from its loop's pool (relay/buffer_pool.h) when bytes arrive and goes back when
// they are all sent, so an idle connection holds no buffer at all and a busy
// one takes the same, already touched, memory again and again. What the
// pool keeps and nobody takes for a while goes back to the system.
// Owns its memory while it holds some.

#include <cstddef>

#include "relay/event_loop.h"

class CStreamBuffer {
 public:
  CStreamBuffer() = default;
  ~CStreamBuffer() { giveBack(); }
  CStreamBuffer(const CStreamBuffer&) = delete;
  CStreamBuffer& operator=(const CStreamBuffer&) = delete;

  // The size the next acquire takes; memory already held is given back. The
  // loop's timers give memory the pool keeps back to the system.
  void setSize(size_t size, CEventLoop& loop);
  // The memory, taken from the pool if none is held; null when memory is
  // short, and then until the pool has room again.
  char* acquire();
  char* get() const { return data_; }  // null while none is held
  // Returns the memory to the pool; the bytes in it are gone.
  void giveBack();

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  CEventLoop* loop_ = nullptr;
};
