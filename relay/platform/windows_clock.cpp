#include "relay/platform/clock.h"

#include <windows.h>

#include <chrono>

namespace platform {

int64_t monotonicUs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return int64_t(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  // Whole seconds and the remainder apart: counter * 1000000 would overflow after days of uptime.
  const int64_t ticks = now.QuadPart;
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

// The offset is the one in force at that moment: summer time included.
CLocalTime localTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  CLocalTime local;
  std::tm utc{};
  localtime_s(&local.fields, &seconds);
  gmtime_s(&utc, &seconds);
  local.millis = int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  // Both broken down as if they were UTC: their difference is the offset.
  local.offsetMinutes = int((_mkgmtime(&local.fields) - _mkgmtime(&utc)) / 60);
  return local;
}

}  // namespace platform
