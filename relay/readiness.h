#pragma once
// Readiness in the loop's own words, the same whatever the backend: what a
// handler is told and what it asks to be told. A backend translates its own
// bits to and from these, and nothing else in the program sees its bits.

#include <cstdint>

namespace ready {

enum : uint32_t {
  kReadable = 1u << 0,
  kWritable = 1u << 1,
  kUrgent = 1u << 2,      // out-of-band data waits
  kPeerClosed = 1u << 3,  // the peer ended its sending side; a hint, the read of 0 is the proof
  kHangUp = 1u << 4,      // both directions are gone; reported whatever the interest
  kError = 1u << 5,       // an error waits; reported whatever the interest
};

}  // namespace ready
