#include "relay/stream_buffer.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <unordered_map>
#include <vector>

#include "relay/memory_reserve.h"

namespace {

// What a burst of busy connections leaves behind is kept up to this many
// bytes for the next burst; what stays unused for a whole trim period is
// given back to the system.
constexpr size_t kKeptBytes = 16u << 20;
constexpr int64_t kTrimPeriodMs = 1000;
// While memory is short, how often the pool tries to hold its reserve again.
constexpr int64_t kShortRetryMs = 1000;

size_t pageRounded(size_t size) {
  static const size_t page = size_t(sysconf(_SC_PAGESIZE));
  return (size + page - 1) / page * page;
}

// Buffers are mapped and unmapped directly: the C library would serve them
// from its heap after the first large free, and keep that heap for good.
char* mapBuffer(size_t size) {
  void* memory = mmap(nullptr, pageRounded(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : static_cast<char*>(memory);
}

void unmapBuffer(char* buffer, size_t size) { munmap(buffer, pageRounded(size)); }

// Free buffers of one size, and the fewest there were since the last trim:
// those were not needed all that time.
struct CSizeClass {
  std::vector<char*> free;
  size_t lowWater = 0;
};

class CBufferPool {
 public:
  ~CBufferPool() {
    for (auto& [size, sizeClass] : classes_)
      for (char* buffer : sizeClass.free) unmapBuffer(buffer, size);
  }
  char* take(size_t size, CEventLoop& loop);
  void put(char* buffer, size_t size, CEventLoop& loop);

 private:
  void onTimer();
  void trim();
  // On the loop of the buffer at hand, remembered only while the timer is
  // armed there: a loop that goes away disarms the timers it holds.
  void arm(CEventLoop& loop);

  std::unordered_map<size_t, CSizeClass> classes_;
  size_t keptBytes_ = 0;
  CEventLoop* armedOn_ = nullptr;
  CTimer timer_{[](CTimer&, void* pool) { static_cast<CBufferPool*>(pool)->onTimer(); }, this};
};

char* CBufferPool::take(size_t size, CEventLoop& loop) {
  CSizeClass& sizeClass = classes_[size];
  if (!sizeClass.free.empty()) {
    char* buffer = sizeClass.free.back();
    sizeClass.free.pop_back();
    sizeClass.lowWater = std::min(sizeClass.lowWater, sizeClass.free.size());
    keptBytes_ -= size;
    return buffer;
  }
  if (memory::isShort()) {  // the reserve's room is for the rest of the program
    arm(loop);
    return nullptr;
  }
  if (char* buffer = mapBuffer(size)) return buffer;
  memory::releaseReserve();
  arm(loop);
  return nullptr;
}

void CBufferPool::put(char* buffer, size_t size, CEventLoop& loop) {
  if (keptBytes_ + size > kKeptBytes || memory::isShort()) {
    unmapBuffer(buffer, size);
    return;
  }
  classes_[size].free.push_back(buffer);
  keptBytes_ += size;
  arm(loop);
}

void CBufferPool::arm(CEventLoop& loop) {
  if (timer_.armed()) return;
  armedOn_ = &loop;
  loop.schedule(timer_, memory::isShort() ? kShortRetryMs : kTrimPeriodMs);
}

void CBufferPool::onTimer() {
  if (memory::isShort()) memory::holdReserve();
  const size_t kept = keptBytes_;
  trim();
  // The burst is over: what its connections' small objects left in the C
  // library's heap goes back too.
  if (kept > 0 && keptBytes_ == 0) malloc_trim(0);
  // Nothing kept and memory back: no more wake-ups.
  if (keptBytes_ > 0 || memory::isShort()) arm(*armedOn_);
}

void CBufferPool::trim() {
  for (auto it = classes_.begin(); it != classes_.end();) {
    auto& [size, sizeClass] = *it;
    for (size_t unused = sizeClass.lowWater; unused > 0; --unused) {
      unmapBuffer(sizeClass.free.back(), size);
      sizeClass.free.pop_back();
      keptBytes_ -= size;
    }
    sizeClass.lowWater = sizeClass.free.size();
    it = sizeClass.free.empty() ? classes_.erase(it) : std::next(it);
  }
}

// The relay runs on one thread; the pool lives as long as the process.
CBufferPool gPool;

}  // namespace

void CStreamBuffer::setSize(size_t size, CEventLoop& loop) {
  giveBack();
  size_ = size;
  loop_ = &loop;
}

char* CStreamBuffer::acquire() {
  if (data_ || size_ == 0) return data_;
  data_ = gPool.take(size_, *loop_);
  return data_;
}

void CStreamBuffer::giveBack() {
  if (!data_) return;
  gPool.put(data_, size_, *loop_);
  data_ = nullptr;
}
