#include "relay/memory_reserve.h"

#include <cstddef>

#include "relay/platform/memory.h"

namespace {

// Enough for thousands of connections' objects and lines while buffers are short.
constexpr size_t kReserveBytes = size_t(16) << 20;

// The new-handler takes no argument: the one reserve it gives up.
CMemoryReserve* gInstalled = nullptr;

}  // namespace

CMemoryReserve::CMemoryReserve() {
  hold();
  if (gInstalled) return;  // a second one holds memory but leaves the handler to the first
  gInstalled = this;
  previous_ = std::set_new_handler(&onOutOfMemory);
}

CMemoryReserve::~CMemoryReserve() {
  if (gInstalled == this) {
    std::set_new_handler(previous_);
    gInstalled = nullptr;
  }
  if (reserve_) platform::releaseAddressSpace(reserve_, kReserveBytes);
}

// Called by a failing operator new: give the reserve up and let it try
// again; with nothing left to give, what was there before decides.
void CMemoryReserve::onOutOfMemory() {
  if (gInstalled->release()) return;
  if (gInstalled->previous_) {
    gInstalled->previous_();
    return;
  }
  throw std::bad_alloc();
}

bool CMemoryReserve::hold() {
  if (reserve_) return true;
  reserve_ = platform::reserveAddressSpace(kReserveBytes);
  if (!reserve_) return false;
  short_ = false;
  return true;
}

bool CMemoryReserve::release() {
  if (!reserve_) return false;
  platform::releaseAddressSpace(reserve_, kReserveBytes);
  reserve_ = nullptr;
  short_ = true;
  return true;
}
