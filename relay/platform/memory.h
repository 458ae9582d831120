#pragma once
// Memory straight from the system, past the C library's heap: buffers that
// go back the moment they are freed, and address space held in reserve.

#include <cstddef>

namespace platform {

// Readable and writable pages for at least `size` bytes; nullptr when the
// system has none. Give them back with the same size.
char* mapPages(size_t size);
void unmapPages(char* pages, size_t size);
// Never touched, so it costs no physical memory, but it counts against the
// system's limit (the address space on POSIX systems, the commit charge on
// Windows) as the allocations it stands for will.
void* reserveAddressSpace(size_t size);
void releaseAddressSpace(void* reserve, size_t size);
// Gives what the C library's heap keeps unused back to the system.
void trimHeap();

}  // namespace platform
