#include "relay/stream_buffer.h"

#include <cstdlib>
#include <unordered_map>
#include <vector>

namespace {

// Free buffers by size. What a burst of busy connections leaves behind is
// kept up to this many bytes and freed beyond it.
constexpr size_t kKeptBytes = 16u << 20;

struct CBufferPool {
  std::unordered_map<size_t, std::vector<char*>> free;
  size_t keptBytes = 0;

  ~CBufferPool() {
    for (auto& [size, buffers] : free)
      for (char* buffer : buffers) std::free(buffer);
  }
};

// The relay runs on one thread; the pool lives as long as the process.
CBufferPool gPool;

}  // namespace

void CStreamBuffer::setSize(size_t size) {
  giveBack();
  size_ = size;
}

char* CStreamBuffer::acquire() {
  if (data_ || size_ == 0) return data_;
  CBufferPool& p = gPool;
  auto it = p.free.find(size_);
  if (it != p.free.end() && !it->second.empty()) {
    data_ = it->second.back();
    it->second.pop_back();
    p.keptBytes -= size_;
    return data_;
  }
  // Never value-initialised: pages no byte has touched cost no memory.
  data_ = static_cast<char*>(std::malloc(size_));
  return data_;
}

void CStreamBuffer::giveBack() {
  if (!data_) return;
  CBufferPool& p = gPool;
  if (p.keptBytes + size_ <= kKeptBytes) {
    p.free[size_].push_back(data_);
    p.keptBytes += size_;
  } else {
    std::free(data_);
  }
  data_ = nullptr;
}
