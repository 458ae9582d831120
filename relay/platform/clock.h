#pragma once
// The monotonic clock the loop's timers and the pairs' stamps read, and the
// wall clock's local time for log lines.

#include <cstdint>
#include <ctime>

namespace platform {

int64_t monotonicUs();
inline int64_t monotonicMs() { return monotonicUs() / 1000; }

struct CLocalTime {
  std::tm fields{};  // date and time of day
  int millis = 0;
  int offsetMinutes = 0;  // from UTC, east of it positive
};
CLocalTime localTimeNow();

}  // namespace platform
