#include "relay/platform/descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "relay/platform/unique_fd.h"

namespace platform {
namespace {

long outcome(ssize_t n) {
  if (n >= 0) return long(n);
  return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : kFailed;
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

int closeDescriptor(int fd) { return ::close(fd); }

long readSome(int fd, void* data, size_t size) {
  ssize_t n;
  do n = ::read(fd, data, size);
  while (n < 0 && errno == EINTR);
  return outcome(n);
}

long writeSome(int fd, const void* data, size_t size) {
  ssize_t n;
  do n = ::write(fd, data, size);
  while (n < 0 && errno == EINTR);
  return outcome(n);
}

bool makePipe(CUniqueFd& readEnd, CUniqueFd& writeEnd, bool readNonBlocking, bool writeNonBlocking) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.reset(fds[0]);
  writeEnd.reset(fds[1]);
  if (readNonBlocking) setNonBlocking(fds[0]);
  if (writeNonBlocking) setNonBlocking(fds[1]);
  return true;
}

bool growPipe(int fd, size_t bytes) { return fcntl(fd, F_SETPIPE_SZ, int(bytes)) >= int(bytes); }

int standardOutput() { return STDOUT_FILENO; }

int standardError() { return STDERR_FILENO; }
// Bytes pass as written here already.
void passStandardStreamsUnchanged() {}

bool isTerminal(int fd) { return isatty(fd) == 1; }
bool replaceStandardOutput(int fd) { return dup2(fd, STDOUT_FILENO) == STDOUT_FILENO; }

}  // namespace platform
