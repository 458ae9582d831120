#include "relay/trace.h"

#include <cinttypes>
#include <cstdarg>
#include <string>

namespace trace {
namespace {
// The process's one trace, as standard output is the process's.
bool gEnabled = false;
CLineSink* gOutput = nullptr;
// Long enough for any line the program traces; a longer one is formatted
// on the heap.
constexpr size_t kLineBuffer = 4096;

void writeFormatted(const char* format, va_list args) {
  char line[kLineBuffer];
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(line, sizeof line, format, args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (size_t(length) < sizeof line) {
    gOutput->write(line, size_t(length));
  } else {
    std::string longLine(size_t(length) + 1, '\0');
    std::vsnprintf(longLine.data(), longLine.size(), format, again);
    gOutput->write(longLine.data(), size_t(length));
  }
  va_end(again);
}
}  // namespace

bool enabled() { return gEnabled; }
void setEnabled(bool on) { gEnabled = on; }
void setOutput(CLineSink* output) { gOutput = output; }

size_t droppedLine(char* buffer, size_t size, uint64_t dropped) {
  const int length =
      std::snprintf(buffer, size, "Trace: %" PRIu64 " lines dropped while nobody read the trace\n", dropped);
  return length < 0 ? 0 : size_t(length);
}

void write(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (gOutput) {
    writeFormatted(format, args);
    va_end(args);
    return;
  }
  std::vfprintf(stdout, format, args);
  va_end(args);
  // A trace line must be visible when the console shows it, not when a buffer fills.
  std::fflush(stdout);
}

}  // namespace trace
