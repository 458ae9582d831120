#include "tests/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "relay/event_loop.h"
#include "relay/trace.h"

namespace loopback {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? int(left) : 0;
}

bool waitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

sockaddr_in loopbackAddress(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

}  // namespace

Fd listenAny(uint16_t& port, int backlog) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa = loopbackAddress(0);
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd.get(), backlog) != 0)
    return Fd();
  socklen_t length = sizeof sa;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &length);
  port = ntohs(sa.sin_port);
  return fd;
}

uint16_t freePort() {
  uint16_t port = 0;
  listenAny(port);  // closed again at once
  return port;
}

int localPort(int fd) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  return ntohs(sa.sin_port);
}

int peerPort(int fd) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  return ntohs(sa.sin_port);
}

// A blocked send gives up in the end, so a broken relay fails a test instead of hanging it.
void boundBlockingCalls(int fd) {
  timeval tv{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

Fd connectTo(uint16_t port, int receiveBuffer) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (receiveBuffer) setReceiveBuffer(fd.get(), receiveBuffer);
  boundBlockingCalls(fd.get());
  sockaddr_in sa = loopbackAddress(port);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return Fd();
  return fd;
}

Fd acceptOne(int listenFd, int timeoutMs) {
  if (!waitReadable(listenFd, timeoutMs)) return Fd();
  Fd fd(accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
  if (fd) boundBlockingCalls(fd.get());
  return fd;
}

void setSendBuffer(int fd, int bytes) { setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes); }
void setReceiveBuffer(int fd, int bytes) { setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

void resetOnClose(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

bool writeAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

bool readExact(int fd, void* data, size_t size, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char* p = static_cast<char*>(data);
  while (size > 0) {
    if (!waitReadable(fd, remainingMs(deadline))) return false;
    ssize_t n = recv(fd, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

bool readToEnd(int fd, std::string& out, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char chunk[65536];
  for (;;) {
    if (!waitReadable(fd, remainingMs(deadline))) return false;
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(chunk, size_t(n));
  }
}

bool atEndOfStream(int fd, int timeoutMs) {
  if (!waitReadable(fd, timeoutMs)) return false;
  char byte;
  return recv(fd, &byte, 1, MSG_PEEK) == 0;
}

std::vector<char> pattern(size_t size, uint32_t seed) {
  std::vector<char> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = char(x);
  }
  return bytes;
}

bool pumpUntil(CEventLoop& loop, const std::function<bool()>& done, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    int left = remainingMs(deadline);
    if (left == 0) return done();
    loop.runOnce(left < 5 ? left : 5);
  }
  return true;
}

int pumpFor(CEventLoop& loop, int millis) {
  auto deadline = Clock::now() + std::chrono::milliseconds(millis);
  int events = 0;
  for (int left = millis; left > 0; left = remainingMs(deadline)) events += loop.runOnce(left);
  return events;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TempDir::TempDir() {
  char pattern[] = "/tmp/quillex-test-XXXXXX";
  if (mkdtemp(pattern)) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

TraceCapture::TraceCapture() {
  trace::setOutput(this);
  trace::setEnabled(true);
}

TraceCapture::~TraceCapture() {
  trace::setEnabled(false);
  trace::setOutput(nullptr);
}

size_t TraceCapture::count(const std::string& line) const {
  size_t n = 0;
  for (size_t pos = text_.find(line); pos != std::string::npos; pos = text_.find(line, pos + line.size())) ++n;
  return n;
}

}  // namespace loopback
