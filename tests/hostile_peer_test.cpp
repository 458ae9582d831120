// The headless relay as a hostile network meets it: one row per scenario,
// each followed by the same checks on the relay process: every byte that
// flowed arrived intact, its descriptors are back to where they were, it uses
// no CPU at rest, and its port still serves a new caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/headless_process.h"
#include "tests/loopback.h"
#include "tests/process_probe.h"
#include "tests/test_system.h"

using namespace loopback;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Reads until the peer ends the stream, by close or by reset; false when it
// has not within the time.
bool readUntilEnded(int fd, std::string* got, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char chunk[65536];
  for (;;) {
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left <= 0 || !testsys::waitReadable(fd, left)) return false;
    const long n = testsys::receiveBytes(fd, chunk, sizeof chunk, false, true);
    if (n == 0 || (n < 0 && !testsys::wouldBlock() && !testsys::interrupted())) return true;
    if (n > 0 && got) got->append(chunk, size_t(n));
  }
}

// Writes the pattern until the whole path to a reader that does not read is
// full: no write has gone through for 300 ms. The count sent; the socket
// does not wait from then on.
size_t fillUntilBlocked(int fd, const std::vector<char>& bytes) {
  size_t sent = 0;
  testsys::setNonBlocking(fd);
  while (sent < bytes.size()) {
    const long n = testsys::sendBytes(fd, bytes.data() + sent, std::min<size_t>(65536, bytes.size() - sent));
    if (n > 0) {
      sent += size_t(n);
      continue;
    }
    if (!testsys::waitWritable(fd, 300)) break;
  }
  return sent;
}

bool isPrefix(const std::string& got, const std::vector<char>& sent) {
  return got.size() <= sent.size() && std::equal(got.begin(), got.end(), sent.begin());
}

void resetNow(Fd& fd) {
  resetOnClose(fd.get());
  fd = Fd();
}

constexpr size_t kFill = 64u << 20;

class CHarness {
 public:
  explicit CHarness(int openFiles) {
    destination = Fd(testsys::openSocket(AF_INET, SOCK_STREAM));
    sockaddr_in sa = loopbackAddress(0);
    socklen_t length = sizeof sa;
    bind(destination.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    getsockname(destination.get(), reinterpret_cast<sockaddr*>(&sa), &length);
    destinationPort = ntohs(sa.sin_port);
    listenPort = freePort();
    const std::string profile = "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(listenPort) +
                                "\nFORWARDPORT=" + std::to_string(destinationPort) + "\nBUFFERSIZE=16\n";
    runner = startHeadless(temp.path(), profile, {}, CChildProcess::Limits{openFiles, false});
  }

  bool started() {
    if (!runner->waitForOutput("TCP-PORT0: relaying")) return false;
    baseline = openDescriptors(runner->pid());
    return true;
  }
  void listenDestination(int backlog = 64) { listen(destination.get(), backlog); }
  Fd caller() { return connectTo(listenPort); }
  Fd acceptRelayed(int timeoutMs = 5000) { return acceptOne(destination.get(), timeoutMs); }

  // The checks that follow every row, made while the other side of a reset
  // connection still does not read, so nothing it does can end a stalled pair.
  void expectSettled() {
    EXPECT_TRUE(descriptorsBackToBaseline()) << openDescriptors(runner->pid()) << " open, " << baseline
                                             << " at the start";
    EXPECT_LT(cpuTicksOverOneSecond(), 5) << "CPU used at rest (ticks of 10 ms)";
  }
  bool descriptorsBackToBaseline() {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (openDescriptors(runner->pid()) != baseline) {
      if (Clock::now() > deadline) return false;
      runner->waitForOutput("\x01", 20);  // reads what it printed meanwhile
    }
    return true;
  }
  long cpuTicksOverOneSecond() {
    long before = cpuTicks(runner->pid());
    runner->waitForOutput("\x01", 1000);
    return cpuTicks(runner->pid()) - before;
  }
  // A new caller is relayed both ways; connections a scenario left in the
  // destination's queue are accepted and dropped on the way.
  bool stillServes() {
    listenDestination();
    Fd client = caller();
    if (!client || !writeAll(client.get(), "ping", 4)) return false;
    for (int i = 0; i < 100; ++i) {
      Fd server = acceptRelayed();
      if (!server) return false;
      char got[4];
      if (!readExact(server.get(), got, 4, 2000) || std::string(got, 4) != "ping") continue;
      char back[4];
      return writeAll(server.get(), "pong", 4) && readExact(client.get(), back, 4, 5000) &&
             std::string(back, 4) == "pong";
    }
    return false;
  }

  TempDir temp;
  Fd destination;  // bound; a scenario decides whether and how it listens
  uint16_t destinationPort = 0;
  uint16_t listenPort = 0;
  std::unique_ptr<CChildProcess> runner;
  int baseline = 0;
};

// A scenario drives callers and the destination and says whether every byte
// that flowed arrived intact.
using Scenario = std::function<bool(CHarness&)>;

// One side fills the path to the other, which does not read, then resets.
template <bool kCallerResets>
bool resetWhileTheOtherSideDoesNotRead(CHarness& h) {
  h.listenDestination();
  Fd client = connectTo(h.listenPort, kCallerResets ? 0 : 4096);
  Fd server = h.acceptRelayed();
  Fd& writer = kCallerResets ? client : server;
  std::vector<char> bytes = pattern(kFill, kCallerResets ? 1 : 2);
  if (fillUntilBlocked(writer.get(), bytes) == 0) return false;
  resetNow(writer);
  h.expectSettled();
  std::string got;
  return readUntilEnded((kCallerResets ? server : client).get(), &got, 5000) && isPrefix(got, bytes);
}

// A destination whose accept queue is full drops the relay's handshake, so
// the outgoing connection never completes.
bool callerResetsWhileTheConnectNeverCompletes(CHarness& h) {
  h.listenDestination(0);
  Fd queued = connectTo(h.destinationPort);
  Fd client = h.caller();
  std::vector<char> bytes = pattern(kFill, 3);
  size_t sent = fillUntilBlocked(client.get(), bytes);
  resetNow(client);
  return sent > 16 * 1024;  // more than the pair's buffer holds
}

bool callerResetsBeforeTheDestinationAccepts(CHarness& h) {
  h.listenDestination();
  Fd client = h.caller();
  if (!writeAll(client.get(), "early", 5)) return false;
  resetNow(client);
  return true;
}

bool destinationResetsRightAfterAccepting(CHarness& h) {
  h.listenDestination();
  Fd client = h.caller();
  Fd server = h.acceptRelayed();
  resetNow(server);
  return readUntilEnded(client.get(), nullptr, 5000);
}

// A destination that refuses, or accepts and closes at once: the caller
// hears the end and nothing else.
template <bool kListens>
bool destinationServesNothing(CHarness& h) {
  if (kListens) h.listenDestination();
  Fd client = h.caller();
  if (kListens) Fd server = h.acceptRelayed();
  std::string got;
  return readUntilEnded(client.get(), &got, 5000) && got.empty();
}

// The caller sends and closes; a destination that reads only later still
// gets every byte, then the end of the stream.
bool destinationReadsOnlyAfterTheCallerClosed(CHarness& h) {
  h.listenDestination();
  Fd client = h.caller();
  Fd server = h.acceptRelayed();
  std::vector<char> bytes = pattern(1u << 20, 4);
  std::promise<void> closed;
  std::thread writer([&] {
    writeAll(client.get(), bytes.data(), bytes.size());
    client = Fd();
    closed.set_value();
  });
  // Unread until the caller has closed, or at most two seconds should the
  // path hold less than the whole.
  closed.get_future().wait_for(std::chrono::seconds(2));
  std::string got;
  bool ended = readUntilEnded(server.get(), &got, 10000);
  writer.join();
  return ended && got == std::string(bytes.begin(), bytes.end());
}

// Urgent bytes are not relayed (a later one may turn an earlier one into
// plain data), and plain bytes keep flowing between them.
bool urgentDataFlood(CHarness& h) {
  h.listenDestination();
  Fd client = h.caller();
  Fd server = h.acceptRelayed();
  std::string plain;
  for (int i = 0; i < 2000; ++i) {
    std::string chunk = "abc" + std::to_string(i % 10);
    if (!writeAll(client.get(), chunk.data(), chunk.size()) || !testsys::sendUrgentByte(client.get(), '!')) return false;
    plain += chunk;
  }
  client = Fd();
  std::string got;
  if (!readUntilEnded(server.get(), &got, 10000)) return false;
  got.erase(std::remove(got.begin(), got.end(), '!'), got.end());
  return got == plain;
}

// With 32 descriptors the relay holds a few pairs and sheds the rest of 30
// callers; every caller is either relayed intact or closed.
bool descriptorLimit(CHarness& h) {
  h.listenDestination();
  // The sanitizers need a descriptor to check a type they meet for the first
  // time: one whole connection first lets them meet every type on the way.
  if (!h.stillServes() || !h.descriptorsBackToBaseline()) return false;
  constexpr int kCallers = 30;
  std::vector<Fd> clients;
  for (int i = 0; i < kCallers; ++i) {
    clients.push_back(h.caller());
    uint32_t tag = uint32_t(i);
    if (!clients.back() || !writeAll(clients.back().get(), &tag, sizeof tag)) return false;
  }
  std::vector<bool> relayed(kCallers, false);
  std::vector<Fd> servers;
  while (Fd server = h.acceptRelayed(1000)) {
    uint32_t tag = 0;
    if (!readExact(server.get(), &tag, sizeof tag, 5000) || tag >= kCallers || relayed[tag]) return false;
    relayed[tag] = true;
    servers.push_back(std::move(server));
  }
  for (int i = 0; i < kCallers; ++i)
    if (!relayed[size_t(i)] && !readUntilEnded(clients[size_t(i)].get(), nullptr, 5000)) return false;
  return std::count(relayed.begin(), relayed.end(), true) > 0;
}

struct Row {
  const char* name;
  Scenario scenario;
  int openFiles = 0;
  std::optional<testsys::CFacility> needs = std::nullopt;  // what the system must offer
};

const Row kRows[] = {
    {"CallerResetsWhileTheDestinationDoesNotRead", resetWhileTheOtherSideDoesNotRead<true>, 0,
     testsys::CFacility::ResetReadAsReset},
    {"DestinationResetsWhileTheCallerDoesNotRead", resetWhileTheOtherSideDoesNotRead<false>, 0,
     testsys::CFacility::ResetReadAsReset},
    {"CallerResetsWhileTheConnectNeverCompletes", callerResetsWhileTheConnectNeverCompletes, 0,
     testsys::CFacility::SilentListener},
    {"CallerResetsBeforeTheDestinationAccepts", callerResetsBeforeTheDestinationAccepts},
    {"DestinationResetsRightAfterAccepting", destinationResetsRightAfterAccepting},
    {"DestinationRefuses", destinationServesNothing<false>},
    {"DestinationClosesAtOnce", destinationServesNothing<true>},
    {"DestinationReadsOnlyAfterTheCallerClosed", destinationReadsOnlyAfterTheCallerClosed},
    {"UrgentDataFlood", urgentDataFlood},
    {"ThirtyCallersWithThirtyTwoDescriptors", descriptorLimit, 32, testsys::CFacility::DescriptorLimit},
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class HostilePeerTest : public ::testing::TestWithParam<Row> {};

TEST_P(HostilePeerTest, BytesIntactNothingLeftBehindNoSpinAndThePortServes) {
  const Row& row = GetParam();
  if (row.needs) SKIP_WITHOUT(*row.needs);
  CHarness h(row.openFiles);
  ASSERT_TRUE(h.started()) << h.runner->output;
  EXPECT_TRUE(row.scenario(h)) << "bytes lost or corrupted";
  h.expectSettled();
  EXPECT_TRUE(h.stillServes());
  EXPECT_EQ(h.runner->stop(SIGTERM), 0) << h.runner->output;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, HostilePeerTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
