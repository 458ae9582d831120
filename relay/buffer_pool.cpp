#include "relay/buffer_pool.h"

#include <algorithm>

#include "relay/memory_reserve.h"
#include "relay/platform/memory.h"

namespace {

constexpr size_t kKeptBytes = 16u << 20;
constexpr int64_t kTrimPeriodMs = 1000;
// While memory is short, how often the pool tries to hold the reserve again.
constexpr int64_t kShortRetryMs = 1000;

}  // namespace

CBufferPool::~CBufferPool() {
  for (auto& [size, sizeClass] : classes_)
    for (char* buffer : sizeClass.free) platform::unmapPages(buffer, size);
}

bool CBufferPool::memoryShort() const { return reserve() && reserve()->isShort(); }

// Buffers are mapped and unmapped directly: the C library would serve them
// from its heap after the first large free, and keep that heap for good.
char* CBufferPool::take(size_t size) {
  CSizeClass& sizeClass = classes_[size];
  if (!sizeClass.free.empty()) {
    char* buffer = sizeClass.free.back();
    sizeClass.free.pop_back();
    sizeClass.lowWater = std::min(sizeClass.lowWater, sizeClass.free.size());
    keptBytes_ -= size;
    return buffer;
  }
  if (memoryShort()) {  // the reserve's room is for the rest of the program
    arm();
    return nullptr;
  }
  if (char* buffer = platform::mapPages(size)) return buffer;
  if (reserve()) reserve()->release();
  arm();
  return nullptr;
}

void CBufferPool::put(char* buffer, size_t size) {
  if (keptBytes_ + size > kKeptBytes || memoryShort()) {
    platform::unmapPages(buffer, size);
    return;
  }
  classes_[size].free.push_back(buffer);
  keptBytes_ += size;
  arm();
}

void CBufferPool::arm() {
  if (timer_.armed()) return;
  loop_.schedule(timer_, memoryShort() ? kShortRetryMs : kTrimPeriodMs);
}

void CBufferPool::onTimer() {
  if (memoryShort()) reserve()->hold();
  const size_t kept = keptBytes_;
  trim();
  // The burst is over: what its connections' small objects left in the C
  // library's heap goes back too.
  if (kept > 0 && keptBytes_ == 0) platform::trimHeap();
  // Nothing kept and memory back: no more wake-ups.
  if (keptBytes_ > 0 || memoryShort()) arm();
}

void CBufferPool::trim() {
  for (auto it = classes_.begin(); it != classes_.end();) {
    auto& [size, sizeClass] = *it;
    for (size_t unused = sizeClass.lowWater; unused > 0; --unused) {
      platform::unmapPages(sizeClass.free.back(), size);
      sizeClass.free.pop_back();
      keptBytes_ -= size;
    }
    sizeClass.lowWater = sizeClass.free.size();
    it = sizeClass.free.empty() ? classes_.erase(it) : std::next(it);
  }
}
