#pragma once
// The monotonic clock the loop's timers and the pairs' stamps read.

#include <cstdint>

namespace platform {

int64_t monotonicUs();
inline int64_t monotonicMs() { return monotonicUs() / 1000; }

}  // namespace platform
