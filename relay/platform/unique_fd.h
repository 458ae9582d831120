#pragma once
// Owns one descriptor and closes it on destruction, so no descriptor the
// program opens is left to a hand-written close. Move-only.

#include "relay/platform/descriptor.h"

#include <utility>

class CUniqueFd {
 public:
  CUniqueFd() = default;
  explicit CUniqueFd(int fd) : fd_(fd) {}
  CUniqueFd(CUniqueFd&& other) noexcept : fd_(other.release()) {}
  CUniqueFd& operator=(CUniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  CUniqueFd(const CUniqueFd&) = delete;
  CUniqueFd& operator=(const CUniqueFd&) = delete;
  ~CUniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the held descriptor (if any) and takes fd; the close's result,
  // which only a caller that wrote through the descriptor needs.
  int reset(int fd = -1) {
    int result = fd_ >= 0 ? platform::closeDescriptor(fd_) : 0;
    fd_ = fd;
    return result;
  }

 private:
  int fd_ = -1;
};
