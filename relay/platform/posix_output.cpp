#include "relay/platform/output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "relay/platform/errors.h"

namespace platform {

static_assert(kAtomicWriteBytes == PIPE_BUF);

bool outputKindOf(int fd, COutputKind& kind) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return false;
  if (S_ISSOCK(st.st_mode))
    kind = COutputKind::Socket;
  else if (S_ISFIFO(st.st_mode) || (S_ISCHR(st.st_mode) && isatty(fd)))
    kind = COutputKind::Stream;
  else
    kind = COutputKind::File;
  return true;
}

// A full disk has no readiness to wait for; pipes, terminals and sockets have.
bool loopWaitsOn(COutputKind kind) { return kind != COutputKind::File; }

int reopenNonBlocking(int fd) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

bool setNonBlockingFlag(int fd, bool nonBlocking) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || bool(flags & O_NONBLOCK) == nonBlocking) return false;
  return fcntl(fd, F_SETFL, nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

long writeOutput(int fd, COutputKind kind, const char* data, size_t size) {
  for (;;) {
    const ssize_t n = kind == COutputKind::Socket ? send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL)
                                                  : ::write(fd, data, size);
    if (n >= 0) return long(n);
    if (errno == EINTR) continue;
    // A disk (or a quota, or a size limit) that is full now may have room later.
    if (kind == COutputKind::File) return isOutOfRoom(errno) ? 0 : -1;
    return isWouldBlock(errno) ? 0 : -1;
  }
}

bool waitWritable(int fd, int timeoutMs) {
  pollfd p{fd, POLLOUT, 0};
  return poll(&p, 1, timeoutMs) != 0;
}

}  // namespace platform
