#pragma once
// Where a line output writes: what kind of descriptor it is, how to write to
// it without ever waiting, and a bounded wait for room at exit.

#include <cstddef>

namespace platform {

// File: a regular file or a device, which takes a write at once or not now
// (a full disk). Stream: a pipe or a terminal. Socket: a connected socket.
enum class COutputKind { File, Stream, Socket };

// A write of at most this many bytes to a pipe goes in whole or not at all.
inline constexpr size_t kAtomicWriteBytes = 4096;

// False when the descriptor is nothing to write to.
bool outputKindOf(int fd, COutputKind& kind);
// Whether the event loop can wait for room on such an output.
bool loopWaitsOn(COutputKind kind);
// The same pipe or terminal opened once more, non-blocking, with a file
// description of its own, so the one shared with the parent (a shell's
// terminal) stays as it was; -1 where that cannot be done.
int reopenNonBlocking(int fd);
// Makes fd itself non-blocking (or blocking again); true when it changed.
bool setNonBlockingFlag(int fd, bool nonBlocking);
// Bytes written; 0 when nothing can be taken now (a pipe or a full disk);
// -1 when the reader or the medium is gone for good.
long writeOutput(int fd, COutputKind kind, const char* data, size_t size);
// Waits up to timeoutMs for room; false when none came.
bool waitWritable(int fd, int timeoutMs);

}  // namespace platform
