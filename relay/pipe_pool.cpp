#include "relay/pipe_pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "relay/platform/descriptor.h"
#include "relay/platform/signals.h"
#include "relay/platform/socket.h"
#include "relay/trace.h"

namespace {

// Enough for a burst of busy connections; each idle pipe is two descriptors
// and no memory.
constexpr size_t kKeptPipes = 64;
constexpr int64_t kTrimPeriodMs = 1000;

// QUILLEX_ZEROCOPY=0 copies every byte through the buffers, as the relay
// does where the system cannot move them: for comparing the two paths.
bool movingAsked() {
  const char* asked = std::getenv("QUILLEX_ZEROCOPY");
  return !asked || std::strcmp(asked, "0") != 0;
}

// Descriptors come lowest number first: a pipe whose ends are this near the
// limit means the table is nearly full, and what is left is for callers.
bool nearTheLimit(int fd) {
  const int limit = platform::descriptorLimit();
  return fd >= limit - limit / 4;
}

}  // namespace

CPipePool::CPipePool(CEventLoop& loop) : loop_(loop), enabled_(platform::zeroCopyAvailable() && movingAsked() && platform::brokenPipeIsHarmless()) {}

CPipe CPipePool::take(size_t bytes) {
  if (!enabled_ || trace::enabled()) return {};
  if (free_.empty()) return open(bytes);
  CPipe pipe = std::move(free_.back());
  free_.pop_back();
  lowWater_ = std::min(lowWater_, free_.size());
  if (pipe.capacity >= bytes) return pipe;
  if (!platform::growPipe(pipe.writeEnd.get(), bytes)) {
    put(std::move(pipe), true);  // fits the next stream, with a smaller buffer
    return {};
  }
  pipe.capacity = bytes;
  return pipe;
}

CPipe CPipePool::open(size_t bytes) {
  CPipe pipe;
  if (!platform::makePipe(pipe.readEnd, pipe.writeEnd, true, true)) return {};
  if (nearTheLimit(pipe.writeEnd.get())) return {};
  // A size the system refuses (beyond what it lets a process ask) is copied.
  if (!platform::growPipe(pipe.writeEnd.get(), bytes)) return {};
  pipe.capacity = bytes;
  return pipe;
}

void CPipePool::put(CPipe pipe, bool empty) {
  if (!pipe || !empty || free_.size() >= kKeptPipes) return;
  free_.push_back(std::move(pipe));
  if (!timer_.armed()) loop_.schedule(timer_, kTrimPeriodMs);
}

bool CPipePool::dropKept() {
  if (free_.empty()) return false;
  free_.clear();
  lowWater_ = 0;
  return true;
}

void CPipePool::trim() {
  free_.erase(free_.begin(), free_.begin() + std::ptrdiff_t(lowWater_));
  lowWater_ = free_.size();
  if (!free_.empty()) loop_.schedule(timer_, kTrimPeriodMs);
}
