#include "relay/stream_buffer.h"

#include <cstdlib>

bool CStreamBuffer::reserve(size_t size) {
  release();
  data_ = static_cast<char*>(std::malloc(size));
  return data_ != nullptr;
}

void CStreamBuffer::release() {
  std::free(data_);
  data_ = nullptr;
}
