#include "relay/memory_reserve.h"

#include <sys/mman.h>

#include <cstddef>
#include <new>

namespace memory {
namespace {

// Enough for thousands of connections' objects and lines while buffers are short.
constexpr size_t kReserveBytes = size_t(16) << 20;

void* gReserve = nullptr;
bool gShort = false;
bool gInstalled = false;
std::new_handler gPrevious = nullptr;

// Called by a failing operator new: give the reserve up and let it try
// again; with nothing left to give, what was there before decides.
void onOutOfMemory() {
  if (releaseReserve()) return;
  if (gPrevious) {
    gPrevious();
    return;
  }
  throw std::bad_alloc();
}

}  // namespace

bool holdReserve() {
  if (gReserve) return true;
  // Address space only: never touched, so it costs no memory, but it counts
  // against an address-space limit as the allocations it stands for will.
  void* reserve = mmap(nullptr, kReserveBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (reserve == MAP_FAILED) return false;
  gReserve = reserve;
  gShort = false;
  return true;
}

bool releaseReserve() {
  if (!gReserve) return false;
  munmap(gReserve, kReserveBytes);
  gReserve = nullptr;
  gShort = true;
  return true;
}

bool isShort() { return gShort; }

void installNewHandler() {
  if (gInstalled) return;
  gInstalled = true;
  holdReserve();
  gPrevious = std::set_new_handler(&onOutOfMemory);
}

}  // namespace memory
