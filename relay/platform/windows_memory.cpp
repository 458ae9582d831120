#include "relay/platform/memory.h"

#include <windows.h>

#include <malloc.h>

namespace platform {

char* mapPages(size_t size) {
  return static_cast<char*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

// The whole region goes back at once: VirtualFree with MEM_RELEASE takes no size.
void unmapPages(char* pages, size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

// Windows refuses memory at its commit limit, not for want of address space:
// the reserve is committed, so giving it up makes room where allocations
// fail. Never touched, it takes no physical memory.
void* reserveAddressSpace(size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
}

void releaseAddressSpace(void* reserve, size_t) { VirtualFree(reserve, 0, MEM_RELEASE); }

void trimHeap() { _heapmin(); }

}  // namespace platform
