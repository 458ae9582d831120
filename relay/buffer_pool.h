#pragma once
// The send buffers of one loop's streams: taken when bytes arrive, put back
// when they are all sent. What a burst of busy connections leaves behind is
// kept for the next burst; what stays unused for a whole trim period goes
// back to the system, and so, once the pool is empty, does what the burst's
// small objects left in the C library's heap. While the process's memory
// reserve is given up, no new buffer is mapped.
//
// Owned by its loop; owns every buffer it keeps.

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "relay/event_loop.h"

class CBufferPool {
 public:
  explicit CBufferPool(CEventLoop& loop) : loop_(loop) {}
  ~CBufferPool();
  CBufferPool(const CBufferPool&) = delete;
  CBufferPool& operator=(const CBufferPool&) = delete;

  // Null when memory is short; the pool then tries again on its timer.
  char* take(size_t size);
  void put(char* buffer, size_t size);

 private:
  // Free buffers of one size, and the fewest there were since the last
  // trim: those were not needed all that time.
  struct CSizeClass {
    std::vector<char*> free;
    size_t lowWater = 0;
  };

  // The process's reserve, as the loop was given it.
  CMemoryReserve* reserve() const { return loop_.memoryReserve(); }
  bool memoryShort() const;
  void onTimer();
  void trim();
  void arm();

  CEventLoop& loop_;
  std::unordered_map<size_t, CSizeClass> classes_;
  size_t keptBytes_ = 0;
  CTimer timer_{[this] { onTimer(); }};
};
