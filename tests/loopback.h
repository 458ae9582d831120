#pragma once
// Plain blocking sockets on 127.0.0.1 for the far ends of relay tests, and
// bounded waits that pump the relay's event loop.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "relay/line_sink.h"
#include "relay/platform/net.h"
#include "relay/platform/unique_fd.h"

class CEventLoop;

namespace loopback {

// The far ends hold their descriptors as the relay does.
using Fd = CUniqueFd;

sockaddr_in loopbackAddress(uint16_t port);
// A listener on 127.0.0.1 with a port the kernel chose.
Fd listenAny(uint16_t& port, int backlog = 64);
uint16_t freePort();  // one nobody listens on right now
int localPort(int fd);
int peerPort(int fd);
Fd connectTo(uint16_t port, int receiveBuffer = 0);  // blocking connect
// The same on ::1; invalid where the system has no IPv6 loopback.
Fd listenIPv6(uint16_t& port);
Fd connectToIPv6(uint16_t port);
Fd acceptOne(int listenFd, int timeoutMs);   // invalid on timeout
void setSendBuffer(int fd, int bytes);
void setReceiveBuffer(int fd, int bytes);
void resetOnClose(int fd);                   // close() then sends a reset

bool writeAll(int fd, const void* data, size_t size);
// Reads exactly size bytes, or fails on end of stream, error or timeout.
bool readExact(int fd, void* data, size_t size, int timeoutMs);
// Reads until end of stream; false on error or timeout.
bool readToEnd(int fd, std::string& out, int timeoutMs);
// True when the peer has closed and nothing is left to read.
bool atEndOfStream(int fd, int timeoutMs);

// Deterministic bytes that differ with position and seed, so a lost,
// repeated or reordered chunk shows.
std::vector<char> pattern(size_t size, uint32_t seed);

// Runs the loop until done() holds or the time runs out; returns done().
bool pumpUntil(CEventLoop& loop, const std::function<bool()>& done, int timeoutMs = 10000);
// Runs the loop for the given time and returns how many events it dispatched.
int pumpFor(CEventLoop& loop, int millis);

// The whole file; "" when it cannot be read.
std::string readFile(const std::string& path);

// A fresh directory under the system's temporary one, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Captures the debug trace, in memory, for the life of the object.
class TraceCapture : public CLineSink {
 public:
  TraceCapture();
  ~TraceCapture();
  void write(const char* data, size_t size) override { text_.append(data, size); }
  const std::string& text() const { return text_; }
  size_t count(const std::string& line) const;

 private:
  std::string text_;
};

}  // namespace loopback
