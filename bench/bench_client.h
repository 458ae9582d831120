// The load generator's measurements. Each one runs against `targetPort`
// (the relay's listen port, or the server itself for the direct row), checks
// every byte it gets back, and counts what went missing in the Faults.
#pragma once

#include <atomic>
#include <string>

namespace bench {

struct Options {
  int targetPort = 0;
  int serverPort = 0;       // queries go straight to the server
  int relayPid = 0;         // 0: no relay process to measure
  double bulkSeconds = 1.0;
  double cpsSeconds = 1.0;
  int rttRounds = 1000;
  int idleConnections = 1000;
  double idleSeconds = 1.0;
  int closeRepeats = 3;
  int repeats = 1;             // bulk and connection rate: median of this many
  bool integrityOnly = false;  // only the checks that carry data
  bool ipv6 = false;           // the target listens on ::1
  std::string only;            // one phase alone; empty: every phase
};

// Lost or corrupted bytes (the run fails) versus connections the target would
// not take or dropped without data at stake (reported, never a failure).
struct Faults {
  std::atomic<int> lost{0};
  std::atomic<int> refused{0};
  void loss(const std::string& what);
};
extern Faults gFaults;

struct Bulk {
  double mibPerSec = 0;
  double relayCpuSPerGiB = -1;  // the relay's CPU per GiB moved, when its pid is known
};
enum class Direction { Up, Down };  // client to server, server to client
Bulk runBulk(const Options& o, Direction dir, int streams);

struct Rtt {
  double p50Us = 0, p99Us = 0;
  double relayCpuUs = -1;  // the relay's CPU per round trip, when its pid is known
  bool ok = false;
};
Rtt runRtt(const Options& o, size_t msgSize);

double runCps(const Options& o, int clients);  // connections per second

struct Idle {
  int held = 0;
  double kibPerConn = -1;  // -1: no relay process to measure
  double cpuPercent = -1;  // the relay's CPU while all of them sit idle
};
Idle runIdle(const Options& o);

struct CloseTest {
  int upOk = 0, downOk = 0;
};
CloseTest runCloseTest(const Options& o);

// A client sends a request, shuts down its sending side and waits for the
// answer: how many of the repeats got it whole. A relay that tears the
// connection down instead is not a loss; a corrupted answer is.
int runHalfClose(const Options& o);

// Relay process tree (the process and every descendant, e.g. forked children).
long treePssKib(int pid);
long treeCpuTicks(int pid);
int64_t treeCpuNs(int pid);

}  // namespace bench
