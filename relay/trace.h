#pragma once
// The debug trace: one printf-formatted line per event, to standard output,
// exactly as the caller formats it. Without the debug switch the trace is
// disabled and QTRACE does not even format its arguments.

#include <cstdio>

namespace trace {

bool enabled();
void setEnabled(bool on);
// Where lines go; standard output unless a test or the console says otherwise.
void setStream(std::FILE* stream);
std::FILE* stream();

void write(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace trace

#define QTRACE(...)                   \
  do {                                \
    if (::trace::enabled())           \
      ::trace::write(__VA_ARGS__);    \
  } while (0)
