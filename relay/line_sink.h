#pragma once
// Where whole lines of text go: the trace, the connection log and the
// headless runner's reports write through one, so that none of them needs
// to know whether the lines reach a file, a pipe or a test's buffer.

#include <cstddef>

class CLineSink {
 public:
  // One or more whole lines, each with its line break.
  virtual void write(const char* data, size_t size) = 0;

 protected:
  ~CLineSink() = default;
};
