#pragma once
// A console, as an output that never makes its writer wait. A console cannot
// be written without waiting (a write waits while the user selects text in
// its window), so its lines go to a thread of its own through a bounded
// buffer: the caller's thread hands bytes over, as to a pipe that is full
// or not, and never waits for the console.

#include <windows.h>

#include <cstddef>

namespace platform {

// Bytes taken now (0 when the buffer is full), or -1 once the console is gone.
long writeConsoleSoon(HANDLE console, const char* data, size_t size);
// Waits up to timeoutMs for the console to take everything handed over; false when it has not.
bool waitConsoleWritten(HANDLE console, int timeoutMs);

}  // namespace platform
