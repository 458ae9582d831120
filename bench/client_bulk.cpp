// Bulk throughput: every stream runs for the same wall-clock window; the
// client checks every byte it receives, the server every byte it sinks.
#include "bench_client.h"
#include "client_net.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <latch>
#include <thread>
#include <vector>

namespace bench {

namespace {

const Pattern gPattern;
constexpr size_t kChunk = Pattern::kMaxSpan;  // as large as the server's
constexpr int kIoTimeoutMs = 10000;

struct StreamStats {
  uint64_t bytes = 0;
  int64_t firstNs = 0, lastNs = 0;
  bool ok = false;
};

StreamStats pushStream(const Options& o, std::latch& go) {
  StreamStats s;
  const uint64_t id = newId();
  int fd = connectLoopback(o.targetPort, kIoTimeoutMs);
  bool ok = fd >= 0 && sendHello(fd, Mode::Sink, 0, id);
  go.arrive_and_wait();
  if (!ok) {
    if (fd >= 0) close(fd);
    gFaults.loss("bulk up: could not open a stream");
    return s;
  }
  const int64_t end = nowNs() + int64_t(o.bulkSeconds * 1e9);
  uint64_t sent = 0;
  while (ok && nowNs() < end) {
    ok = sendAll(fd, gPattern.at(id, sent), kChunk);
    if (ok) sent += kChunk;
  }
  close(fd);
  SinkResult r = querySink(o.serverPort, id, kIoTimeoutMs);
  s.ok = ok && r.state == uint32_t(SinkState::Done) && r.intact && r.bytes == sent;
  if (!s.ok) {
    char msg[160];
    std::snprintf(msg, sizeof msg, "bulk up: sent %llu bytes, server got %llu, intact=%u",
                  (unsigned long long)sent, (unsigned long long)r.bytes, r.intact);
    gFaults.loss(msg);
  }
  s.bytes = r.bytes;
  s.firstNs = r.firstNs;
  s.lastNs = r.lastNs;
  return s;
}

StreamStats pullStream(const Options& o, std::latch& go) {
  StreamStats s;
  const uint64_t id = newId();
  int fd = connectLoopback(o.targetPort, kIoTimeoutMs);
  go.arrive_and_wait();
  if (fd < 0 || !sendHello(fd, Mode::Source, 0, id)) {
    if (fd >= 0) close(fd);
    gFaults.loss("bulk down: could not open a stream");
    return s;
  }
  std::vector<char> buf(kChunk);
  const int64_t end = nowNs() + int64_t(o.bulkSeconds * 1e9);
  s.ok = true;
  while (s.ok) {
    ssize_t r = recv(fd, buf.data(), buf.size(), 0);
    int64_t t = nowNs();
    if (r <= 0) {
      s.ok = false;  // an endless source never ends by itself
      gFaults.loss("bulk down: stream ended early");
      break;
    }
    if (!gPattern.matches(id, s.bytes, buf.data(), size_t(r))) {
      s.ok = false;
      gFaults.loss("bulk down: corrupted bytes");
    }
    if (s.bytes == 0) s.firstNs = t;
    s.bytes += uint64_t(r);
    s.lastNs = t;
    if (t >= end) break;
  }
  close(fd);
  return s;
}

}  // namespace

Bulk runBulk(const Options& o, Direction dir, int streams) {
  std::vector<StreamStats> stats(static_cast<size_t>(streams));
  std::latch go(streams);
  const int64_t cpuAtStart = o.relayPid > 0 ? treeCpuNs(o.relayPid) : 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < streams; ++i)
    threads.emplace_back([&, i] {
      stats[size_t(i)] = dir == Direction::Up ? pushStream(o, go) : pullStream(o, go);
    });
  for (auto& t : threads) t.join();

  Bulk b;
  uint64_t total = 0;
  int64_t first = INT64_MAX, last = 0;
  for (const auto& s : stats) {
    if (s.bytes == 0) continue;
    total += s.bytes;
    first = std::min(first, s.firstNs);
    last = std::max(last, s.lastNs);
  }
  if (total > 0 && last > first) b.mibPerSec = double(total) / (1 << 20) / ((last - first) / 1e9);
  if (total > 0 && o.relayPid > 0) b.relayCpuSPerGiB = double(treeCpuNs(o.relayPid) - cpuAtStart) / 1e9 / (double(total) / (1 << 30));
  return b;
}

}  // namespace bench
