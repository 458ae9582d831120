#include "relay/stream_buffer.h"

#include <sys/mman.h>

bool CStreamBuffer::reserve(size_t size) {
  release();
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  data_ = static_cast<char*>(p);
  size_ = size;
  return true;
}

void CStreamBuffer::release() {
  if (data_) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}
