#include "relay/trace.h"

#include <cstdarg>

namespace trace {
namespace {
bool gEnabled = false;
std::FILE* gStream = nullptr;
}  // namespace

bool enabled() { return gEnabled; }
void setEnabled(bool on) { gEnabled = on; }
void setStream(std::FILE* s) { gStream = s; }
std::FILE* stream() { return gStream ? gStream : stdout; }

void write(const char* format, ...) {
  std::FILE* out = stream();
  va_list args;
  va_start(args, format);
  std::vfprintf(out, format, args);
  va_end(args);
  // A trace line must be visible when the console shows it, not when a buffer fills.
  std::fflush(out);
}

}  // namespace trace
