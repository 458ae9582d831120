#pragma once
// A stream's byte buffer, reserved whole at creation as its own anonymous
// mapping. No allocator header is written into it, so pages no byte has
// touched cost no memory: an idle connection holds almost nothing of its
// four buffers. Owns its mapping.

#include <cstddef>

class CStreamBuffer {
 public:
  CStreamBuffer() = default;
  ~CStreamBuffer() { release(); }
  CStreamBuffer(const CStreamBuffer&) = delete;
  CStreamBuffer& operator=(const CStreamBuffer&) = delete;

  // False when the memory cannot be reserved; the buffer is then empty.
  bool reserve(size_t size);
  char* get() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  void release();

  char* data_ = nullptr;
  size_t size_ = 0;
};
