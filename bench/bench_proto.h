// What the load generator and the echo/sink server agree on: the opening
// record of every connection, the query answer, and the byte pattern that lets
// either side check every byte it receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

constexpr uint32_t kMagic = 0x51424e43;  // "QBNC"

enum class Mode : uint32_t {
  Echo = 1,    // echo every byte until the caller closes
  Sink = 2,    // check every byte until end of stream, keep the result by id
  Source = 3,  // send the pattern: `length` bytes then close, or until the caller goes (0)
  Query = 4,   // answer with the kept result of connection `id`, then close
  Respond = 5, // check every byte until end of stream, then send `length` bytes and close
};

// Both ends run on the same machine, so the records travel in host order.
struct Hello {
  uint32_t magic = kMagic;
  uint32_t mode = 0;
  uint64_t length = 0;
  uint64_t id = 0;
};
static_assert(sizeof(Hello) == 24);

enum class SinkState : uint32_t { Unknown = 0, Running = 1, Done = 2 };

struct SinkResult {
  uint32_t state = 0;     // SinkState
  uint32_t intact = 0;    // 1 while every byte matched the pattern
  uint64_t bytes = 0;     // bytes received after the hello
  int64_t firstNs = 0;    // CLOCK_MONOTONIC of the first and last data byte
  int64_t lastNs = 0;
};
static_assert(sizeof(SinkResult) == 32);

// The pattern repeats every kPeriod bytes; a prime period means a dropped,
// doubled or swapped run of bytes shows unless its length is a multiple of it.
// Each connection starts at its own phase (from its id), so bytes that cross
// into another connection show too.
class Pattern {
 public:
  static constexpr size_t kPeriod = 1000003;
  static constexpr size_t kMaxSpan = 256 * 1024;  // longest compare in one piece

  Pattern() : bytes_(kPeriod + kMaxSpan) {
    uint64_t x = 0x9e3779b97f4a7c15ull;
    for (size_t i = 0; i < kPeriod; ++i) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      bytes_[i] = static_cast<unsigned char>(x >> 24);
    }
    for (size_t i = 0; i < kMaxSpan; ++i) bytes_[kPeriod + i] = bytes_[i];
  }

  static size_t phaseOf(uint64_t id) { return static_cast<size_t>(id % kPeriod); }

  // Contiguous pattern bytes for stream offset `off` (at most kMaxSpan long).
  const unsigned char* at(uint64_t id, uint64_t off) const {
    return bytes_.data() + (phaseOf(id) + off % kPeriod) % kPeriod;
  }

  bool matches(uint64_t id, uint64_t off, const void* data, size_t len) const {
    auto* p = static_cast<const unsigned char*>(data);
    while (len > 0) {
      size_t n = len < kMaxSpan ? len : kMaxSpan;
      if (std::memcmp(p, at(id, off), n) != 0) return false;
      p += n;
      off += n;
      len -= n;
    }
    return true;
  }

 private:
  std::vector<unsigned char> bytes_;
};

}  // namespace bench
