#pragma once
// A stream's byte buffer, reserved whole and never value-initialised, so
// pages no byte has touched cost no memory. Owns its memory.

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
};
