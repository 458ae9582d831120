// Idle connections held open (memory and CPU of the relay meanwhile),
// "send 1 MiB and close" in both directions, and a half-closed request.
#include "bench_client.h"
#include "client_net.h"

#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace bench {

namespace {

const Pattern gPattern;
constexpr int kIoTimeoutMs = 5000;
constexpr size_t kCloseBytes = 1 << 20;
constexpr int kGiveUpAfterFailures = 20;

// An echo connection proven to reach the server, or -1.
int openEchoConnection(const Options& o, uint64_t id) {
  int fd = connectLoopback(o.targetPort, kIoTimeoutMs);
  if (fd < 0) return -1;
  char back = 0;
  if (sendHello(fd, Mode::Echo, 0, id) && sendAll(fd, gPattern.at(id, 0), 1) &&
      recvAll(fd, &back, 1)) {
    if (back == char(*gPattern.at(id, 0))) return fd;
    gFaults.loss("idle: corrupted echo");
  }
  close(fd);
  return -1;
}

// A last round trip on every held connection: each must still work.
void checkHeld(const std::vector<std::pair<int, uint64_t>>& held) {
  char buf[4];
  for (auto [fd, id] : held) {
    if (!sendAll(fd, gPattern.at(id, 1), 4) || !recvAll(fd, buf, 4)) {
      gFaults.refused++;
    } else if (!gPattern.matches(id, 1, buf, 4)) {
      gFaults.loss("idle: corrupted echo after the idle time");
    }
  }
}

}  // namespace

Idle runIdle(const Options& o) {
  Idle out;
  const long before = o.relayPid ? treePssKib(o.relayPid) : 0;
  std::vector<std::pair<int, uint64_t>> held;
  int failures = 0;
  for (int i = 0; i < o.idleConnections && failures < kGiveUpAfterFailures; ++i) {
    uint64_t id = newId();
    int fd = openEchoConnection(o, id);
    if (fd < 0) {
      failures++;
      gFaults.refused++;
      continue;
    }
    held.emplace_back(fd, id);
  }
  out.held = int(held.size());
  usleep(200 * 1000);  // let the relay settle before reading its memory
  if (o.relayPid && !held.empty()) {
    out.kibPerConn = double(treePssKib(o.relayPid) - before) / double(held.size());
    const long t0 = treeCpuTicks(o.relayPid);
    const int64_t w0 = nowNs();
    usleep(useconds_t(o.idleSeconds * 1e6));
    const double wall = double(nowNs() - w0) / 1e9;
    const double ticks = double(treeCpuTicks(o.relayPid) - t0);
    out.cpuPercent = 100.0 * ticks / double(sysconf(_SC_CLK_TCK)) / wall;
  }
  checkHeld(held);
  for (auto [fd, id] : held) close(fd);
  return out;
}

namespace {

bool sendAndClose(const Options& o) {
  const uint64_t id = newId();
  int fd = connectLoopback(o.targetPort, kIoTimeoutMs);
  if (fd < 0) return false;
  bool sent = sendHello(fd, Mode::Sink, 0, id);
  for (size_t off = 0; sent && off < kCloseBytes; off += Pattern::kMaxSpan)
    sent = sendAll(fd, gPattern.at(id, off), Pattern::kMaxSpan);
  close(fd);
  SinkResult r = querySink(o.serverPort, id, 10000);
  return sent && r.state == uint32_t(SinkState::Done) && r.intact && r.bytes == kCloseBytes;
}

// Reads the pattern of connection `id` until the end of the stream, then
// closes: whether exactly `expected` bytes came, every one of them intact.
// *corrupted says whether a byte was wrong.
bool receiveWholeThenClose(int fd, uint64_t id, uint64_t expected, bool* corrupted = nullptr) {
  std::vector<char> buf(64 * 1024);
  uint64_t got = 0;
  bool intact = true;
  ssize_t r;
  while ((r = recv(fd, buf.data(), buf.size(), 0)) > 0 && got <= expected) {
    intact = intact && gPattern.matches(id, got, buf.data(), size_t(r));
    got += uint64_t(r);
  }
  close(fd);
  if (corrupted) *corrupted = !intact;
  return r == 0 && intact && got == expected;
}

bool receiveUntilClose(const Options& o) {
  const uint64_t id = newId();
  int fd = connectLoopback(o.targetPort, kIoTimeoutMs);
  if (fd < 0 || !sendHello(fd, Mode::Source, kCloseBytes, id)) {
    if (fd >= 0) close(fd);
    return false;
  }
  return receiveWholeThenClose(fd, id, kCloseBytes);
}

}  // namespace

CloseTest runCloseTest(const Options& o) {
  static_assert(kCloseBytes % Pattern::kMaxSpan == 0);
  CloseTest out;
  for (int i = 0; i < o.closeRepeats; ++i) {
    if (sendAndClose(o)) out.upOk++;
    else gFaults.loss("send 1 MiB and close (client to server): not delivered whole");
    if (receiveUntilClose(o)) out.downOk++;
    else gFaults.loss("send 1 MiB and close (server to client): not delivered whole");
  }
  return out;
}

namespace {

constexpr size_t kRequestBytes = 100 * 1024;
constexpr size_t kAnswerBytes = 64 * 1024;

bool requestThenAnswer(const Options& o) {
  const uint64_t id = newId();
  int fd = connectLoopback(o.targetPort, kIoTimeoutMs);
  if (fd < 0) return false;
  bool sent = sendHello(fd, Mode::Respond, kAnswerBytes, id);
  for (size_t off = 0; sent && off < kRequestBytes; off += 4096) sent = sendAll(fd, gPattern.at(id, off), 4096);
  shutdown(fd, SHUT_WR);
  bool corrupted = false;
  const bool whole = receiveWholeThenClose(fd, id, kAnswerBytes, &corrupted);
  if (corrupted) gFaults.loss("half-close: corrupted answer");
  return sent && whole;
}

}  // namespace

int runHalfClose(const Options& o) {
  static_assert(kRequestBytes % 4096 == 0);
  int ok = 0;
  for (int i = 0; i < o.closeRepeats; ++i) ok += requestThenAnswer(o) ? 1 : 0;
  return ok;
}

}  // namespace bench
