#include "relay/platform/clock.h"

#include <chrono>

namespace platform {

int64_t monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

CLocalTime localTimeNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  CLocalTime local;
  localtime_r(&seconds, &local.fields);
  local.millis = int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  local.offsetMinutes = int(local.fields.tm_gmtoff / 60);
  return local;
}

}  // namespace platform
