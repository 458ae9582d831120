#include "relay/platform/memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {
namespace {

size_t pageRounded(size_t size) {
  static const size_t page = size_t(sysconf(_SC_PAGESIZE));
  return (size + page - 1) / page * page;
}

}  // namespace

char* mapPages(size_t size) {
  void* memory = mmap(nullptr, pageRounded(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : static_cast<char*>(memory);
}

void unmapPages(char* pages, size_t size) { munmap(pages, pageRounded(size)); }

void* reserveAddressSpace(size_t size) {
  void* reserve = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return reserve == MAP_FAILED ? nullptr : reserve;
}

void releaseAddressSpace(void* reserve, size_t size) { munmap(reserve, size); }

void trimHeap() { malloc_trim(0); }

}  // namespace platform
