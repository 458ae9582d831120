#pragma once
// The debug trace: one printf-formatted line per event, to standard output,
// exactly as the caller formats it. Without the debug switch the trace is
// disabled and QTRACE does not even format its arguments.

#include <cstdint>
#include <cstdio>

#include "relay/line_sink.h"

namespace trace {

bool enabled();
void setEnabled(bool on);
// Lines go to this output, which never blocks (not owned; null: standard
// output, written at once).
void setOutput(CLineSink* output);
// The line an output writes in place of trace lines it had to drop.
size_t droppedLine(char* buffer, size_t size, uint64_t dropped);

void write(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace trace

#define QTRACE(...)                   \
  do {                                \
    if (::trace::enabled())           \
      ::trace::write(__VA_ARGS__);    \
  } while (0)
