// The relay's memory as the system sees it: buffer memory goes back after a
// burst, and when an address-space limit runs out, connections that did
// nothing wrong go on. The relay runs without the sanitizers (PLAIN_RELAY),
// which reserve more address space than any limit leaves.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "tests/child_process.h"
#include "tests/loopback.h"
#include "tests/process_probe.h"

using namespace loopback;

namespace {

using Clock = std::chrono::steady_clock;

// Enough to fill each caller's 1 MiB relay buffer behind the kernel's own
// socket buffers.
constexpr size_t kPushed = 4u << 20;

// Echoes every connection it accepts, on its own thread.
class CEchoServer {
 public:
  CEchoServer() : listener_(listenAny(port)), thread_([this] { serve(); }) {}
  ~CEchoServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port = 0;

 private:
  void serve() {
    std::vector<Fd> peers;
    char chunk[65536];
    while (!stop_) {
      std::vector<pollfd> fds{{listener_.get(), POLLIN, 0}};
      for (const Fd& peer : peers) fds.push_back({peer.get(), POLLIN, 0});
      if (poll(fds.data(), fds.size(), 20) <= 0) continue;
      for (size_t i = fds.size() - 1; i > 0; --i) {
        if (!fds[i].revents) continue;
        const ssize_t n = recv(fds[i].fd, chunk, sizeof chunk, 0);
        if (n <= 0 || !writeAll(fds[i].fd, chunk, size_t(n))) peers.erase(peers.begin() + long(i) - 1);
      }
      if (fds[0].revents) peers.push_back(acceptOne(listener_.get(), 0));
    }
  }
  Fd listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A relay with two ports: 0 to an echo server, 1 to a destination that
// reads only when told to. Each caller of port 1 sends its number and then
// the same pattern, so that the far side can tell whose bytes it got.
class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);  // a connection the relay dropped fails the test, not the process
    // The buffers are what these bursts fill: bytes moved through kernel
    // pipes never reach them.
    setenv("QUILLEX_ZEROCOPY", "0", 1);
    destination = Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    setReceiveBuffer(destination.get(), 4096);  // the relay's buffers fill, not the kernel's
    sockaddr_in sa{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof sa;
    bind(destination.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(destination.get(), 4096);
    getsockname(destination.get(), reinterpret_cast<sockaddr*>(&sa), &length);
    echoPort = freePort();
    pushPort = freePort();
    std::ofstream(temp.path() + "/Quillex.ini")
        << "[SYSTEM]\nPORTNUM=5\n[TCP-PORT0]\nACT=1\nPORT=" << echoPort << "\nFORWARDPORT=" << echo.port
        << "\n[TCP-PORT1]\nACT=1\nPORT=" << pushPort << "\nFORWARDPORT=" << ntohs(sa.sin_port)
        << "\nBUFFERSIZE=1024\n";
    relay = std::make_unique<CChildProcess>(PLAIN_RELAY, std::vector<std::string>{temp.path() + "/Quillex.ini"});
    ASSERT_TRUE(relay->waitForOutput("TCP-PORT1: relaying")) << relay->output;
    bytes = pattern(kPushed, 11);
  }
  void TearDown() override { unsetenv("QUILLEX_ZEROCOPY"); }

  // Connects the callers and pushes until no byte goes through any more and
  // the relay's memory has grown as far as full (in KiB of the status key).
  void push(int count, const char* key, long full) {
    callers.clear();
    sent.assign(count, 0);
    for (int i = 0; i < count; ++i) {
      callers.push_back(connectTo(pushPort));
      setSendBuffer(callers.back().get(), 65536);
      ASSERT_TRUE(writeAll(callers.back().get(), &i, sizeof i));
    }
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    do fill(); while (statusKiB(relay->pid(), key) < full && Clock::now() < deadline);
  }
  void fill() {
    const int kCallers = int(callers.size());
    for (bool moved = true; moved;) {
      moved = false;
      for (int i = 0; i < kCallers; ++i) moved |= sendMore(i);
      if (!moved) moved = poll(nullptr, 0, 300) < 0;  // a last look after a pause
      for (int i = 0; i < kCallers && !moved; ++i) moved = sent[i] < kPushed && waitWritable(callers[i].get(), 0);
    }
  }
  // Whether more of caller i's bytes went; a caller the relay cut off
  // fails the test.
  bool sendMore(int i) {
    if (sent[i] >= kPushed) return false;
    const ssize_t n = send(callers[i].get(), bytes.data() + sent[i], kPushed - sent[i], MSG_DONTWAIT);
    if (n < 0 && errno != EAGAIN) {
      ADD_FAILURE() << "caller " << i << " was cut off: " << std::strerror(errno);
      sent[i] = kPushed;
    }
    if (n <= 0) return false;
    sent[i] += size_t(n);
    return true;
  }
  static bool waitWritable(int fd, int timeoutMs) {
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, timeoutMs) == 1;
  }

  // The far side reads every caller's bytes, which must be whole and in order.
  void drainAndCheck() {
    const int kCallers = int(callers.size());
    for (int i = 0; i < kCallers; ++i) {
      Fd far = acceptOne(destination.get(), 10000);
      ASSERT_TRUE(far) << i;
      setReceiveBuffer(far.get(), 1 << 20);  // reading may be quick
      int who = -1;
      ASSERT_TRUE(readExact(far.get(), &who, sizeof who, 10000));
      ASSERT_TRUE(who >= 0 && who < kCallers);
      std::vector<char> got(kPushed);
      const auto deadline = Clock::now() + std::chrono::seconds(20);
      for (size_t at = 0; at < kPushed;) {  // what is still unsent goes out as the far side reads
        ASSERT_LT(Clock::now(), deadline) << "caller " << who << " stalled at " << at;
        sendMore(who);
        const size_t want = std::min<size_t>(1 << 20, sent[who] - at);
        if (want == 0) {
          waitWritable(callers[who].get(), 1000);
          continue;
        }
        ASSERT_TRUE(readExact(far.get(), got.data() + at, want, 10000)) << "caller " << who << " at " << at;
        at += want;
      }
      ASSERT_EQ(std::memcmp(got.data(), bytes.data(), kPushed), 0) << "caller " << who;
    }
    callers.clear();
  }

  // Echoes text over an established connection through port 0.
  static bool echoes(int fd, const std::string& text) {
    std::string back(text.size(), '\0');
    return writeAll(fd, text.data(), text.size()) && readExact(fd, back.data(), back.size(), 3000) && back == text;
  }

  // Waits until the relay's resident memory is at most limitKiB.
  bool rssFallsTo(long limitKiB) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (statusKiB(relay->pid(), "VmRSS") > limitKiB) {
      if (Clock::now() > deadline) return false;
      relay->waitForOutput("\x01", 100);  // reads its log meanwhile
    }
    return true;
  }

  TempDir temp;
  CEchoServer echo;
  Fd destination;
  uint16_t echoPort = 0, pushPort = 0;
  std::unique_ptr<CChildProcess> relay;
  std::vector<char> bytes;
  std::vector<Fd> callers;
  std::vector<size_t> sent;
};

// Two bursts of callers whose 1 MiB buffers fill while the far side does not
// read: afterwards the memory is back where it started, within 10 %.
TEST_F(MemoryTest, BufferMemoryGoesBackAfterEachBurst) {
  const long start = statusKiB(relay->pid(), "VmRSS");
  for (int burst = 0; burst < 2; ++burst) {
    push(100, "VmRSS", start + 90 * 1024);
    EXPECT_GT(statusKiB(relay->pid(), "VmRSS"), start + 90 * 1024) << "the buffers did not fill";
    drainAndCheck();
    EXPECT_TRUE(rssFallsTo(start + start / 10))
        << "burst " << burst << ": " << statusKiB(relay->pid(), "VmRSS") << " KiB, " << start << " at the start";
  }
}

// With an address-space limit the pushing callers run into, an idle echo
// connection on the other port still echoes, a new caller there is served,
// nothing crashes, and the callers that met the limit lose no byte.
TEST_F(MemoryTest, ConnectionsGoOnWhenAnAddressSpaceLimitRunsOut) {
  Fd idle = connectTo(echoPort);  // established, and never yet needed a buffer
  const long limitKiB = statusKiB(relay->pid(), "VmSize") + 100 * 1024;
  const rlimit room{rlim_t(limitKiB) * 1024, rlim_t(limitKiB) * 1024};
  ASSERT_EQ(prlimit(relay->pid(), RLIMIT_AS, &room, nullptr), 0);
  push(160, "VmSize", limitKiB - 8 * 1024);  // more 1 MiB buffers than the limit leaves room for
  EXPECT_GT(statusKiB(relay->pid(), "VmSize"), limitKiB - 8 * 1024) << "the limit was not reached";
  EXPECT_TRUE(echoes(idle.get(), "in the squeeze"));
  EXPECT_TRUE(echoes(idle.get(), std::string(300000, 'e')));  // more than one piece without a buffer
  Fd fresh = connectTo(echoPort);
  EXPECT_TRUE(echoes(fresh.get(), "a new caller"));
  drainAndCheck();
  EXPECT_TRUE(echoes(idle.get(), "after"));
  EXPECT_TRUE(relay->running()) << relay->output;
}

}  // namespace
