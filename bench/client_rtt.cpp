// Round trips on one connection, and connection rate with concurrent clients.
#include "bench_client.h"
#include "client_net.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace bench {

namespace {

const Pattern gPattern;
constexpr int kIoTimeoutMs = 5000;
constexpr int kWarmupRounds = 50;
constexpr double kRttMaxSeconds = 10.0;  // bounds a pathologically slow target

double percentile(std::vector<int64_t>& v, double p) {
  size_t k = size_t(p * double(v.size() - 1));
  std::nth_element(v.begin(), v.begin() + long(k), v.end());
  return double(v[k]) / 1000.0;
}

// One echo round trip of `len` pattern bytes at stream offset `off`.
bool roundTrip(int fd, uint64_t id, uint64_t off, size_t len, char* buf) {
  if (!sendAll(fd, gPattern.at(id, off), len) || !recvAll(fd, buf, len)) return false;
  if (gPattern.matches(id, off, buf, len)) return true;
  gFaults.loss("echo: corrupted bytes");
  return false;
}

}  // namespace

Rtt runRtt(const Options& o, size_t msgSize) {
  Rtt out;
  const uint64_t id = newId();
  int fd = connectLoopback(o.targetPort, kIoTimeoutMs);
  if (fd < 0 || !sendHello(fd, Mode::Echo, 0, id)) {
    if (fd >= 0) close(fd);
    gFaults.refused++;
    return out;
  }
  std::vector<char> buf(msgSize);
  std::vector<int64_t> samples;
  samples.reserve(size_t(o.rttRounds));
  uint64_t off = 0;
  bool ok = true;
  const int64_t stop = nowNs() + int64_t(kRttMaxSeconds * 1e9);
  int64_t cpuAtStart = 0;
  for (int i = 0; ok && i < kWarmupRounds + o.rttRounds && nowNs() < stop; ++i) {
    if (i == kWarmupRounds && o.relayPid > 0) cpuAtStart = treeCpuNs(o.relayPid);
    int64_t t0 = nowNs();
    ok = roundTrip(fd, id, off, msgSize, buf.data());
    off += msgSize;
    if (ok && i >= kWarmupRounds) samples.push_back(nowNs() - t0);
  }
  if (o.relayPid > 0 && !samples.empty())
    out.relayCpuUs = double(treeCpuNs(o.relayPid) - cpuAtStart) / 1000.0 / double(samples.size());
  close(fd);
  if (!ok) gFaults.loss("round trip: echo connection broke");
  if (samples.empty()) return out;
  out.p50Us = percentile(samples, 0.50);
  out.p99Us = percentile(samples, 0.99);
  out.ok = ok;
  return out;
}

namespace {

// connect, 32 bytes echoed, close; false when the target would not serve it.
bool oneShortConnection(const Options& o) {
  int fd = connectLoopback(o.targetPort, kIoTimeoutMs);
  if (fd < 0) return false;
  const uint64_t id = newId();
  char msg[sizeof(Hello) + 32];
  Hello h;
  h.mode = uint32_t(Mode::Echo);
  h.id = id;
  std::memcpy(msg, &h, sizeof h);
  std::memcpy(msg + sizeof h, gPattern.at(id, 0), 32);
  char back[32];
  bool ok = sendAll(fd, msg, sizeof msg) && recvAll(fd, back, sizeof back);
  close(fd);
  if (ok && !gPattern.matches(id, 0, back, sizeof back)) {
    gFaults.loss("connection rate: corrupted echo");
    return false;
  }
  return ok;
}

}  // namespace

double runCps(const Options& o, int clients) {
  std::vector<long> done(size_t(clients), 0), failed(size_t(clients), 0);
  const int64_t t0 = nowNs();
  const int64_t end = t0 + int64_t(o.cpsSeconds * 1e9);
  const long perClientCap = long(o.cpsSeconds * 20000);  // bounds the count too
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i)
    threads.emplace_back([&, i] {
      for (long n = 0; n < perClientCap && nowNs() < end; ++n)
        (oneShortConnection(o) ? done : failed)[size_t(i)]++;
    });
  for (auto& t : threads) t.join();
  const double secs = double(nowNs() - t0) / 1e9;
  long total = 0, bad = 0;
  for (int i = 0; i < clients; ++i) {
    total += done[size_t(i)];
    bad += failed[size_t(i)];
  }
  gFaults.refused += int(bad);
  return double(total) / secs;
}

}  // namespace bench
