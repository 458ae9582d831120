#include "client_net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace bench {

int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

namespace {
int gIPv6Port = -1;
}  // namespace

void setIPv6Port(int port) { gIPv6Port = port; }

int connectLoopback(int port, int timeoutMs) {
  const bool v6 = port == gIPv6Port;
  int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);  // bounds connect too
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_storage a{};
  socklen_t length = sizeof(sockaddr_in);
  if (v6) {
    auto& a6 = reinterpret_cast<sockaddr_in6&>(a);
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(uint16_t(port));
    a6.sin6_addr = in6addr_loopback;
    length = sizeof a6;
  } else {
    auto& a4 = reinterpret_cast<sockaddr_in&>(a);
    a4.sin_family = AF_INET;
    a4.sin_port = htons(uint16_t(port));
    a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), length) != 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const void* data, size_t len) {
  auto* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t w = send(fd, p, len, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    len -= size_t(w);
  }
  return true;
}

bool recvAll(int fd, void* data, size_t len) {
  auto* p = static_cast<char*>(data);
  while (len > 0) {
    ssize_t r = recv(fd, p, len, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    len -= size_t(r);
  }
  return true;
}

bool sendHello(int fd, Mode mode, uint64_t length, uint64_t id) {
  Hello h;
  h.mode = uint32_t(mode);
  h.length = length;
  h.id = id;
  return sendAll(fd, &h, sizeof h);
}

SinkResult querySink(int serverPort, uint64_t id, int waitMs) {
  const int64_t deadline = nowNs() + int64_t(waitMs) * 1000000;
  SinkResult r;
  do {
    int fd = connectLoopback(serverPort, 2000);
    if (fd >= 0) {
      if (!sendHello(fd, Mode::Query, 0, id) || !recvAll(fd, &r, sizeof r)) r = SinkResult{};
      close(fd);
    }
    if (r.state == uint32_t(SinkState::Done)) return r;
    usleep(5000);
  } while (nowNs() < deadline);
  return r;
}

uint64_t newId() {
  static std::atomic<uint64_t> next{1};
  // Spread ids so consecutive connections start at distant pattern phases.
  return (uint64_t(getpid()) << 32) + next.fetch_add(1) * 7919;
}

}  // namespace bench
