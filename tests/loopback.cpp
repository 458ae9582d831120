#include "tests/loopback.h"

#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "relay/event_loop.h"
#include "relay/trace.h"
#include "tests/test_system.h"

namespace loopback {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? int(left) : 0;
}

using testsys::waitReadable;

}  // namespace

sockaddr_in loopbackAddress(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

Fd listenAny(uint16_t& port, int backlog) {
  Fd fd(testsys::openSocket(AF_INET, SOCK_STREAM));
  sockaddr_in sa = loopbackAddress(0);
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd.get(), backlog) != 0)
    return Fd();
  socklen_t length = sizeof sa;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &length);
  port = ntohs(sa.sin_port);
  return fd;
}

// Free on every address of both families where there is IPv6: a test may
// listen on ::1 or both at once, and parallel tests take ports of either.
uint16_t freePort() {
  Fd fd(testsys::openSocket(AF_INET6, SOCK_STREAM));
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  socklen_t length = sizeof sa;
  if (fd && testsys::setIntOption(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, 0) &&
      bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &length) == 0)
    return ntohs(sa.sin6_port);  // closed again at once
  uint16_t port = 0;
  listenAny(port);
  return port;
}

namespace {

// The port of an end of either family: it sits at the same place in both.
int portOf(const sockaddr_storage& sa) { return ntohs(reinterpret_cast<const sockaddr_in&>(sa).sin_port); }

}  // namespace

int localPort(int fd) {
  sockaddr_storage sa{};
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  return portOf(sa);
}

int peerPort(int fd) {
  sockaddr_storage sa{};
  socklen_t length = sizeof sa;
  getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  return portOf(sa);
}

Fd connectTo(uint16_t port, int receiveBuffer) {
  Fd fd(testsys::openSocket(AF_INET, SOCK_STREAM));
  if (receiveBuffer) setReceiveBuffer(fd.get(), receiveBuffer);
  testsys::boundSends(fd.get(), 20);
  sockaddr_in sa = loopbackAddress(port);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return Fd();
  return fd;
}

namespace {

sockaddr_in6 loopbackAddress6(uint16_t port) {
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_addr = in6addr_loopback;
  sa.sin6_port = htons(port);
  return sa;
}

}  // namespace

Fd listenIPv6(uint16_t& port) {
  Fd fd(testsys::openSocket(AF_INET6, SOCK_STREAM));
  sockaddr_in6 sa = loopbackAddress6(0);
  socklen_t length = sizeof sa;
  if (!fd || bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd.get(), 64) != 0 ||
      getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sa), &length) != 0)
    return Fd();
  port = ntohs(sa.sin6_port);
  return fd;
}

Fd connectToIPv6(uint16_t port) {
  Fd fd(testsys::openSocket(AF_INET6, SOCK_STREAM));
  testsys::boundSends(fd.get(), 20);
  const sockaddr_in6 sa = loopbackAddress6(port);
  if (!fd || connect(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return Fd();
  return fd;
}

Fd acceptOne(int listenFd, int timeoutMs) {
  if (!waitReadable(listenFd, timeoutMs)) return Fd();
  Fd fd(testsys::acceptCaller(listenFd));
  if (fd) testsys::boundSends(fd.get(), 20);
  return fd;
}

void setSendBuffer(int fd, int bytes) { testsys::setIntOption(fd, SOL_SOCKET, SO_SNDBUF, bytes); }
void setReceiveBuffer(int fd, int bytes) { testsys::setIntOption(fd, SOL_SOCKET, SO_RCVBUF, bytes); }

void resetOnClose(int fd) { testsys::resetOnClose(fd); }

bool writeAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const long n = testsys::sendBytes(fd, p, size);
    if (n < 0 && testsys::interrupted()) continue;
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
    const long n = testsys::receiveBytes(fd, p, size);
    if (n < 0 && testsys::interrupted()) continue;
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
    const long n = testsys::receiveBytes(fd, chunk, sizeof chunk);
    if (n < 0 && testsys::interrupted()) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(chunk, size_t(n));
  }
}

bool atEndOfStream(int fd, int timeoutMs) {
  if (!waitReadable(fd, timeoutMs)) return false;
  char byte;
  return testsys::receiveBytes(fd, &byte, 1, true) == 0;
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

TempDir::TempDir() : path_(testsys::makeTempDirectory()) {}

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
