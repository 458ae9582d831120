// Load generator of the relay benchmark. Prints one "key value" line per
// figure; exits 2 when any byte was lost or corrupted, 1 on bad usage.
//
//   bench_client freeport                 a port free on 127.0.0.1 right now
//   bench_client wait PORT MS [--ipv6]    waits until PORT (on ::1) accepts connections
//   bench_client rest PID SECONDS         a process at rest: "rest_kib" its memory (PSS), "rest_cpu" % over SECONDS
//   bench_client run --target PORT --server PORT [--ipv6] [--pid PID] [--quick|--full|--integrity] [--repeats N] [--idle N] [--only idle|close|half|rtt|cps|bulk]
#include "bench_client.h"
#include "client_net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace bench {

Faults gFaults;

void Faults::loss(const std::string& what) {
  lost++;
  std::fprintf(stderr, "bench_client: LOST OR CORRUPTED: %s\n", what.c_str());
}

}  // namespace bench

namespace {

using namespace bench;

int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return -1;
  close(fd);
  return ntohs(a.sin_port);
}

// Memory and CPU of a process nobody talks to, over the seconds given.
int printRest(int pid, int seconds) {
  const int64_t cpuBefore = treeCpuNs(pid), start = nowNs();
  usleep(useconds_t(seconds) * 1000000);
  const double cpu = 100.0 * double(treeCpuNs(pid) - cpuBefore) / double(nowNs() - start);
  std::printf("rest_kib %ld\nrest_cpu %.2f\n", treePssKib(pid), cpu);
  return 0;
}

int waitListening(int port, int ms) {
  const int64_t end = nowNs() + int64_t(ms) * 1000000;
  do {
    int fd = connectLoopback(port, 500);
    if (fd >= 0) {
      close(fd);
      return 0;
    }
    usleep(20000);
  } while (nowNs() < end);
  return 1;
}

// Room for a thousand held connections and their spares.
void raiseFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
  }
}

bool parseRun(int argc, char** argv, Options& o) {
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--target" && hasValue) o.targetPort = std::atoi(argv[++i]);
    else if (a == "--ipv6") o.ipv6 = true;
    else if (a == "--server" && hasValue) o.serverPort = std::atoi(argv[++i]);
    else if (a == "--pid" && hasValue) o.relayPid = std::atoi(argv[++i]);
    else if (a == "--quick") {
      o.bulkSeconds = 0.5;
      o.cpsSeconds = 0.5;
      o.rttRounds = 500;
      o.idleSeconds = 0.5;
    } else if (a == "--integrity") {
      o.integrityOnly = true;
      o.bulkSeconds = 0.3;
      o.closeRepeats = 2;
    } else if (a == "--only" && hasValue) {
      o.only = argv[++i];
    } else if (a == "--idle" && hasValue) {
      o.idleConnections = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--repeats" && hasValue) {
      o.repeats = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--full") {
      o.bulkSeconds = 4;
      o.cpsSeconds = 2;  // longer runs mostly fill the port range with closed connections
      o.rttRounds = 20000;
      o.idleSeconds = 3;
      o.closeRepeats = 10;
      o.repeats = 3;
    } else return false;
  }
  return o.targetPort > 0 && o.serverPort > 0;
}

void print(const char* key, double v) { std::printf("%s %.6g\n", key, v); }

// The median of several runs, so one disturbance on a shared machine does not
// decide a figure.
template <class F>
double median(int runs, F f) {
  std::vector<double> v;
  for (int i = 0; i < runs; ++i) v.push_back(f());
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Only what carries data to check, for the self-test against faulty relays.
void runIntegrity(const Options& o) {
  CloseTest c = runCloseTest(o);
  std::printf("close_up %d/%d\nclose_down %d/%d\n", c.upOk, o.closeRepeats, c.downOk,
              o.closeRepeats);
  print("bulk1_up", runBulk(o, Direction::Up, 1).mibPerSec);
  print("bulk1_down", runBulk(o, Direction::Down, 1).mibPerSec);
  print("lost", gFaults.lost.load());
}

void runRtts(const Options& o) {
  Rtt r1 = runRtt(o, 1);
  print("rtt1_p50", r1.p50Us);
  print("rtt1_p99", r1.p99Us);
  if (r1.relayCpuUs >= 0) print("rtt1_cpu", r1.relayCpuUs);
  Rtt r4 = runRtt(o, 4096);
  print("rtt4k_p50", r4.p50Us);
  print("rtt4k_p99", r4.p99Us);
}

void runIdlePhase(const Options& o) {
  Idle idle = runIdle(o);
  print("idle_held", idle.held);
  print("idle_kib", idle.kibPerConn);
  print("idle_cpu", idle.cpuPercent);
}

void runClosePhase(const Options& o) {
  CloseTest c = runCloseTest(o);
  std::printf("close_up %d/%d\nclose_down %d/%d\n", c.upOk, o.closeRepeats, c.downOk,
              o.closeRepeats);
}

void runHalfClosePhase(const Options& o) {
  std::printf("halfclose %d/%d\n", runHalfClose(o), o.closeRepeats);
}

void runBulkPhase(const Options& o) {
  for (int streams : {1, 8}) {
    for (auto [dir, name] : {std::pair{Direction::Up, "up"}, std::pair{Direction::Down, "down"}}) {
      const std::string key = "bulk" + std::to_string(streams) + "_" + name;
      std::vector<double> cpu;
      print(key.c_str(), median(o.repeats, [&] {
              const Bulk b = runBulk(o, dir, streams);
              if (b.relayCpuSPerGiB >= 0) cpu.push_back(b.relayCpuSPerGiB);
              return b.mibPerSec;
            }));
      if (cpu.empty()) continue;
      std::sort(cpu.begin(), cpu.end());
      print((key + "_cpu").c_str(), cpu[cpu.size() / 2]);
    }
  }
}

// One phase (--only) or all of them; the faults counted come last.
void runPhases(const Options& o) {
  auto want = [&](const char* phase) { return o.only.empty() || o.only == phase; };
  if (want("idle")) runIdlePhase(o);
  if (want("close")) runClosePhase(o);
  if (want("half")) runHalfClosePhase(o);
  if (want("rtt")) runRtts(o);
  if (want("cps")) print("cps", median(o.repeats, [&] { return runCps(o, 16); }));
  if (want("bulk")) runBulkPhase(o);
  print("refused", gFaults.refused.load());
  print("lost", gFaults.lost.load());
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "freeport") {
    int p = freePort();
    if (p < 0) return 1;
    std::printf("%d\n", p);
    return 0;
  }
  if (cmd == "wait" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "--ipv6"))) {
    if (argc == 5) setIPv6Port(std::atoi(argv[2]));
    return waitListening(std::atoi(argv[2]), std::atoi(argv[3]));
  }
  if (cmd == "rest" && argc == 4) return printRest(std::atoi(argv[2]), std::atoi(argv[3]));
  Options o;
  if (cmd != "run" || !parseRun(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: bench_client freeport | wait PORT MS [--ipv6] | rest PID SECONDS | "
                 "run --target PORT --server PORT [--ipv6] [--pid PID] [--quick|--full|--integrity] [--repeats N] [--idle N] [--only idle|close|half|rtt|cps|bulk]\n");
    return 1;
  }
  raiseFileLimit();
  if (o.ipv6) setIPv6Port(o.targetPort);
  if (o.integrityOnly) runIntegrity(o);
  else runPhases(o);
  std::fflush(stdout);
  return gFaults.lost > 0 ? 2 : 0;
}
