#pragma once
// Descriptors as the system hands them out: closing, pipes, plain reads and
// writes, standard streams. One implementation per system; nothing above
// this layer calls the system for a descriptor.

#include <cstddef>

class CUniqueFd;

namespace platform {

// The close's result: 0, or -1 with lastSystemError() set.
int closeDescriptor(int fd);

// What a read or write of a non-blocking descriptor came to: bytes (> 0),
// the end (0, reads only), nothing for now, or a failure.
constexpr long kWouldBlock = -1;
constexpr long kFailed = -2;
long readSome(int fd, void* data, size_t size);
long writeSome(int fd, const void* data, size_t size);

// A pipe whose ends close on exec; each end non-blocking as asked.
bool makePipe(CUniqueFd& readEnd, CUniqueFd& writeEnd, bool readNonBlocking, bool writeNonBlocking);
// Asks the system for a pipe buffer of at least that size; false when it
// refuses (the pipe keeps the size it had).
bool growPipe(int fd, size_t bytes);

int standardOutput();
int standardError();
// Standard output and error pass every byte as written, as on every system:
// no line-end translation (Windows' C runtime would write CR LF).
void passStandardStreamsUnchanged();
bool isTerminal(int fd);
// Makes `fd` standard output (the old one is closed).
bool replaceStandardOutput(int fd);

}  // namespace platform
