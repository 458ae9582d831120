// The headless runner as a user starts it: a separate process beside its profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/reload_words.h"
#include "relay/platform/files.h"
#include "relay/platform/errors.h"
#include "relay/platform/socket.h"
#include "tests/headless_process.h"
#include "tests/loopback.h"
#include "tests/test_system.h"

using namespace loopback;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<CChildProcess> startRunner(const fs::path& dir, const std::string& profile) {
  return startHeadless(dir, profile);
}

// Sends five bytes each way through the relay.
void expectRelayed(uint16_t listenPort, int destination) {
  Fd client = connectTo(listenPort);
  Fd server = acceptOne(destination, 10000);
  ASSERT_TRUE(server);
  char got[5];
  ASSERT_TRUE(writeAll(client.get(), "hello", 5));
  ASSERT_TRUE(readExact(server.get(), got, 5, 10000));
  EXPECT_EQ(std::string(got, 5), "hello");
  ASSERT_TRUE(writeAll(server.get(), "world", 5));
  ASSERT_TRUE(readExact(client.get(), got, 5, 10000));
  EXPECT_EQ(std::string(got, 5), "world");
}

TEST(HeadlessRunnerTest, RelaysRefusesZeroPortsAndExitsCleanlyOnSignals) {
  TempDir temp;
  const fs::path dir = temp.path();
  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort);
  uint16_t listenPort = freePort();
  std::string profile = "[SYSTEM]\nPORTNUM=3\n"
                        "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(listenPort) +
                        "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" + std::to_string(destinationPort) + "\n"
                        "[TCP-PORT1]\nACT=1\nPORT=0\nFORWARDPORT=80\n"
                        "[TCP-PORT2]\nACT=1\nPORT=1\nFORWARDPORT=0\n";
  for (int signal : {SIGTERM, SIGINT}) {
    auto runner = startRunner(dir, profile);
    ASSERT_TRUE(runner->waitForOutput("TCP-PORT0: relaying 0.0.0.0:" + std::to_string(listenPort) + " -> 127.0.0.1:" +
                                     std::to_string(destinationPort) + " (filter mode 0)\n"))
        << runner->output;
    EXPECT_TRUE(runner->waitForOutput("TCP-PORT1: Listenポートが無効な設定です\n"));
    EXPECT_TRUE(runner->waitForOutput("TCP-PORT2: 転送先ポート番号が無効な設定です\n"));

    expectRelayed(listenPort, destination.get());
    Fd client = connectTo(listenPort);
    Fd server = acceptOne(destination.get(), 10000);
    EXPECT_EQ(runner->stop(signal), 0);
    EXPECT_TRUE(atEndOfStream(server.get(), 5000));
    EXPECT_EQ(readFile((dir / "Quillex.ini").string()), profile);  // the runner writes nothing
  }
}

TEST(HeadlessRunnerTest, PortThatCannotListenSaysWhy) {
  TempDir temp;
  const fs::path dir = temp.path();
  uint16_t takenPort = 0;
  Fd taken = listenAny(takenPort);
  auto runner = startRunner(dir, "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(takenPort) +
                          "\nISLISTENBIND=1\nIPLISTENBIND=127.0.0.1\nFORWARDPORT=9\n");
  EXPECT_TRUE(runner->waitForOutput("TCP-PORT0: cannot listen on 127.0.0.1:" + std::to_string(takenPort) +
                                   ": address already in use (error 10048)\n"))
      << runner->output;
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}


// A hand-edited profile must never open a port wider than asked or announce
// a port that cannot relay: each such port is refused with one line.
TEST(HeadlessRunnerTest, PortsThatCannotRelayAreRefusedWithOneLineEach) {
  TempDir temp;
  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort);
  const std::string dest = "FORWARDPORT=" + std::to_string(destinationPort) + "\n";
  const std::pair<std::string, std::string> rows[] = {
      {"ISLISTENBIND=1\nIPLISTENBIND=\n", "IPLISTENBIND=\"\" is not an IPv4 or IPv6 address: not started"},
      {"ISLISTENBIND=1\nIPLISTENBIND=localhost\n",
       "IPLISTENBIND=\"localhost\" is not an IPv4 or IPv6 address: not started"},
      {"PORT=70000\n", "Listenポートが無効な設定です"},
      {"FORWARDPORT=-5\n", "転送先ポート番号が無効な設定です"},
      {"ISCONNECTBIND=1\nIPCONNECTBIND=gateway\n",
       "IPCONNECTBIND=\"gateway\" is not an IPv4 or IPv6 address: not started"},
      {"ISCONNECTBIND=1\nIPCONNECTBIND=::1\n",
       "IPCONNECTBIND=::1 is an IPv6 address and cannot reach FORWARDHOST=127.0.0.1, an IPv4 one: not started"},
      {"FORWARDHOST=" + std::string(254, 'h') + "\n",
       "FORWARDHOST is 254 bytes long; a host name has at most 253: not started"},
      {"FILTERMODE=4\n", "FILTERMODE=4 is not a filter mode (0 to 3): not started"},
      {"FILTERMODE=-1\n", "FILTERMODE=-1 is not a filter mode (0 to 3): not started"},
      {"ISCONNECTBIND=1\nIPCONNECTBIND=192.0.2.1\n",
       "warning: IPCONNECTBIND=192.0.2.1 is not an address of this machine now; connections will fail until it is"},
      {"FORWARDHOST=\n", "ON, but no destination host is set: not started"},
  };
  // The byte-order mark an editor may write must not hide [SYSTEM].
  std::string profile = "\xEF\xBB\xBF[SYSTEM]\nPORTNUM=" + std::to_string(std::size(rows)) + "\n";
  for (size_t i = 0; i < std::size(rows); ++i)
    profile += "[TCP-PORT" + std::to_string(i) + "]\nACT=1\n" + rows[i].first +  // the first key counts
               "PORT=" + std::to_string(freePort()) + "\n" + dest;
  auto runner = startRunner(temp.path(), profile);
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_TRUE(runner->waitForOutput("TCP-PORT" + std::to_string(i) + ": " + rows[i].second + "\n", 5000))
        << rows[i].second << "\n" << runner->output;
  EXPECT_TRUE(runner->waitForOutput("TCP-PORT9: relaying"));
  EXPECT_EQ(runner->stop(SIGTERM), 0);
  const std::string& out = runner->output;
  EXPECT_EQ(out.find(": relaying"), out.rfind(": relaying")) << "only TCP-PORT9 starts:\n" << out;
}

// A destination that is one of the relay's own listening ports is refused
// at the start; one that only looks alike (another address or family, an OFF
// port) starts.
TEST(HeadlessRunnerTest, PortsThatWouldRelayToTheRelayAreRefused) {
  TempDir temp;
  uint16_t p[10];
  for (uint16_t& port : p) port = freePort();
  const auto to = [](const std::string& host, uint16_t port) {
    return "FORWARDHOST=" + host + "\nFORWARDPORT=" + std::to_string(port) + "\n";
  };
  const std::string bound = "ISLISTENBIND=1\nIPLISTENBIND=127.0.0.1\n";
  std::vector<std::pair<std::string, std::string>> rows = {
      {to("127.0.0.1", p[0]), "relays to its own listening port (127.0.0.1:" + std::to_string(p[0]) + ")"},
      {to("LocalHost", p[2]), "relays to the listening port of TCP-PORT2 (LocalHost:" + std::to_string(p[2]) + ")"},
      {to("0.0.0.0", p[1]), "relays to the listening port of TCP-PORT1 (0.0.0.0:" + std::to_string(p[1]) + ")"},
      {bound + to("127.0.0.2", p[3]), "relaying"},  // it listens on 127.0.0.1 alone
      {to("::ffff:127.0.0.1", p[3]), "relays to the listening port of TCP-PORT3 ([::ffff:127.0.0.1]:"},
      {"ACT=0\n" + to("192.0.2.1", 9), ""},
      {to("127.0.0.1", p[5]), "relaying"},  // TCP-PORT5 is OFF
  };
  uint16_t probe = 0;
  if (listenIPv6(probe)) {
    const std::string v6 = "ISLISTENBIND=1\nIPLISTENBIND=";
    rows.push_back({v6 + "::1\n" + to("::1", p[7]), "relays to its own listening port ([::1]:" + std::to_string(p[7]) + ")"});
    rows.push_back({v6 + "::\n" + to("127.0.0.1", p[8]), "relaying"});  // IPv6 alone: IPv4 cannot reach it
    rows.push_back({"LISTENDUAL=1\n" + to("::1", p[9]), "relays to its own listening port ([::1]:" + std::to_string(p[9]) + ")"});
  }
  std::string profile = "[SYSTEM]\nPORTNUM=10\n";
  for (size_t i = 0; i < rows.size(); ++i)
    profile += "[TCP-PORT" + std::to_string(i) + "]\n" + rows[i].first + "ACT=1\nPORT=" + std::to_string(p[i]) + "\n";
  auto runner = startRunner(temp.path(), profile);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].second.empty()) continue;
    EXPECT_TRUE(runner->waitForOutput("TCP-PORT" + std::to_string(i) + ": " + rows[i].second, 5000))
        << rows[i].second << "\n" << runner->output;
  }
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}

// How the system words the failure to read a directory as a file.
std::string directoryReadError(const fs::path& directory) {
  std::string bytes;
  int error = 0;
  platform::readFile(directory.string(), bytes, error);
  return platform::systemErrorText(error);
}

TEST(HeadlessRunnerTest, ProfileThatCannotBeReadIsReportedAsSuch) {
  TempDir temp;
  const fs::path profile = fs::path(temp.path()) / "Quillex.ini";
  fs::create_directory(profile);
  auto runner = startRunner(temp.path(), "");
  EXPECT_EQ(runner->waitForExit(), 1);
  EXPECT_NE(runner->output.find("Quillex: cannot read the profile " + profile.string() + ": " +
                                directoryReadError(profile) + "\n"),
            std::string::npos)
      << runner->output;
}

// A profile in a folder named in Japanese is read from the command line:
// Windows hands the arguments over in its own UTF-16, which a code page
// cannot always hold.
TEST(HeadlessRunnerTest, AProfileWhosePathIsNotAsciiIsReadFromTheCommandLine) {
  TempDir temp;
  const fs::path dir = fs::path(temp.path()) / fs::path(u8"設定");
  fs::create_directory(dir);
  uint16_t d = 0;
  Fd destination = listenAny(d);
  std::ofstream(dir / "Quillex.ini", std::ios::binary)
      << "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(freePort()) + "\nFORWARDPORT=" + std::to_string(d) + "\n";
  const std::u8string path = (dir / "Quillex.ini").u8string();
  auto runner = startHeadless(temp.path(), "", {"--profile", std::string(path.begin(), path.end())});
  EXPECT_TRUE(runner->waitForOutput("TCP-PORT0: relaying")) << runner->output;
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}

// Echoes a few bytes over a connection that the relay carries.
void expectFlowing(int client, int server, const std::string& text) {
  std::string got(text.size(), '\0');
  ASSERT_TRUE(writeAll(client, text.data(), text.size()));
  ASSERT_TRUE(readExact(server, got.data(), got.size(), 5000));
  EXPECT_EQ(got, text);
}

std::string portSection(int index, uint16_t listen, uint16_t destination, const std::string& extra = "") {
  return "[TCP-PORT" + std::to_string(index) + "]\nACT=1\n" + extra + "PORT=" + std::to_string(listen) +
         "\nFORWARDPORT=" + std::to_string(destination) + "\n";
}

// SIGHUP reads the profile again and touches only what changed; a first
// start without any port ON says how to add one.
TEST(HeadlessRunnerTest, HangUpReloadsOnlyWhatChanged) {
  TempDir temp;
  const fs::path profile = fs::path(temp.path()) / "Quillex.ini";
  uint16_t d1 = 0, d2 = 0;
  Fd destination1 = listenAny(d1), destination2 = listenAny(d2);
  const uint16_t p[4] = {freePort(), freePort(), freePort(), freePort()};
  auto runner = startHeadless(temp.path(), "[SYSTEM]\nPORTNUM=5\n");
  ASSERT_TRUE(runner->waitForOutput("then " + reloadHowTo(runner->pid()) + " or start Quillex again.\n"))
      << runner->output;
  EXPECT_NE(runner->output.find("Quillex: no port is ON in " + profile.string() +
                                "\nAdd a section like this one to it (listen on port 8080, relay to 192.0.2.10 "
                                "port 80):\n\n[TCP-PORT0]\nACT=1\nPORT=8080\n"),
            std::string::npos);

  const std::string head = "[SYSTEM]\nPORTNUM=5\n";
  std::ofstream(profile) << head + portSection(0, p[0], d1) + portSection(1, p[1], d1) + portSection(2, p[2], d1);
  profileChanged(*runner);
  ASSERT_TRUE(runner->waitForOutput("TCP-PORT2: started; relaying")) << runner->output;
  Fd c0 = connectTo(p[0]), s0 = acceptOne(destination1.get(), 5000);
  Fd c2 = connectTo(p[2]), s2 = acceptOne(destination1.get(), 5000);
  ASSERT_TRUE(s0 && s2);

  std::ofstream(profile) << head + portSection(0, p[0], d1) + portSection(1, p[1], d2) +
                                portSection(2, p[2], d1, "FILTERMODE=1\n") + portSection(3, p[3], d2);
  profileChanged(*runner);
  for (const char* line : {"TCP-PORT0: unchanged\n", "TCP-PORT2: filter changed (filter mode 1); connections kept\n",
                           "TCP-PORT1: restarted; relaying", "TCP-PORT3: started; relaying"})
    EXPECT_TRUE(runner->waitForOutput(line)) << line << "\n" << runner->output;
  expectFlowing(c0.get(), s0.get(), "still here");
  expectFlowing(c2.get(), s2.get(), "and here");
  for (uint16_t moved : {p[1], p[3]}) {
    Fd client = connectTo(moved), server = acceptOne(destination2.get(), 5000);
    ASSERT_TRUE(server);
    expectFlowing(client.get(), server.get(), "to the new destination");
  }

  fs::remove(profile);
  fs::create_directory(profile);
  profileChanged(*runner);
  EXPECT_TRUE(runner->waitForOutput(directoryReadError(profile) + "; every port goes on as it was\n")) << runner->output;
  expectFlowing(c0.get(), s0.get(), "unreadable changes nothing");
  fs::remove(profile);
  profileChanged(*runner);
  EXPECT_TRUE(runner->waitForOutput(" is missing; every port goes on as it was\n")) << runner->output;
  expectFlowing(c0.get(), s0.get(), "missing changes nothing");

  std::ofstream(profile) << head + portSection(2, p[2], d1, "FILTERMODE=1\n");
  profileChanged(*runner);
  EXPECT_TRUE(runner->waitForOutput("TCP-PORT0: now OFF; stopped\n")) << runner->output;
  EXPECT_TRUE(atEndOfStream(s0.get(), 5000));
  expectFlowing(c2.get(), s2.get(), "the kept port");
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}

// A profile caught half-written by a burst of SIGHUPs is never acted on:
// the burst is one reload, made once the file has settled, and the
// unchanged ports keep their connections. A port's start line names the
// timeouts it takes, with a line for a value it cannot read as written.
TEST(HeadlessRunnerTest, AProfileBeingWrittenIsAppliedOnlyOnceItHasSettled) {
  TempDir temp;
  const fs::path profile = fs::path(temp.path()) / "Quillex.ini";
  uint16_t d = 0;
  Fd destination = listenAny(d);
  const uint16_t p0 = freePort(), p1 = freePort();
  const std::string whole = "[SYSTEM]\nPORTNUM=5\n" + portSection(0, p0, d) +
                            portSection(1, p1, d, "IDLETIMEOUT=2s\nKEEPALIVE=40\n");
  auto runner = startHeadless(temp.path(), whole);
  ASSERT_TRUE(runner->waitForOutput("TCP-PORT1: relaying")) << runner->output;
  EXPECT_TRUE(runner->waitForOutput("TCP-PORT1: warning: IDLETIMEOUT=2s is not a whole number of seconds; read as 2\n"
                                    "TCP-PORT1: relaying"));
  EXPECT_TRUE(runner->waitForOutput("(filter mode 0); idle timeout 2 s, keepalive 40 s\n")) << runner->output;
  Fd c0 = connectTo(p0), s0 = acceptOne(destination.get(), 5000);
  ASSERT_TRUE(s0);
  {
    std::ofstream out(profile, std::ios::trunc);
    out << whole.substr(0, whole.size() / 2) << std::flush;
    for (int i = 0; i < 20; ++i) profileChanged(*runner);
    ASSERT_TRUE(runner->waitForOutput(reloadCause() + ": reading")) << runner->output;
    out << whole.substr(whole.size() / 2);
  }
  EXPECT_TRUE(runner->waitForOutput("TCP-PORT0: unchanged\nTCP-PORT1: unchanged\n")) << runner->output;
  size_t reloads = 0;
  const std::string reading = reloadCause() + ": reading";
  for (size_t at = 0; (at = runner->output.find(reading, at)) != std::string::npos; ++at) ++reloads;
  EXPECT_EQ(reloads, 1u) << runner->output;
  EXPECT_EQ(runner->output.find("stopped"), std::string::npos) << runner->output;
  expectFlowing(c0.get(), s0.get(), "kept");
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}

// A keepalive longer than the system takes is as much as it takes, and the
// start line says so.
TEST(HeadlessRunnerTest, AKeepaliveLongerThanTheSystemTakesIsClampedAndSaidSo) {
  SKIP_WITHOUT(testsys::CFacility::KeepAliveAsAsked);
  TempDir temp;
  uint16_t d = 0;
  Fd destination = listenAny(d);
  const int asked = 40000, taken = std::min(asked, platform::maxKeepAliveIdleSeconds());
  auto runner = startHeadless(temp.path(), portSection(0, freePort(), d, "KEEPALIVE=" + std::to_string(asked) + "\n"));
  EXPECT_TRUE(runner->waitForOutput("(filter mode 0); keepalive " + std::to_string(taken) + " s" +
                                    (taken < asked ? " (KEEPALIVE=40000 is more than this system takes)" : "") + "\n"))
      << runner->output;
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}

// An IPv6 listener and a dual-stack wildcard are named in their start lines;
// an IPv6 caller's trace and log lines write it in brackets, a refused one
// too, and an IPv4 caller of the dual-stack socket is its IPv4 address.
TEST(HeadlessRunnerTest, IPv6ListenersAndCallersAreNamedWhole) {
  uint16_t probe = 0;
  if (!listenIPv6(probe)) GTEST_SKIP() << "no IPv6 loopback here";
  TempDir temp;
  uint16_t d = 0;
  Fd destination = listenAny(d);
  const uint16_t p[3] = {freePort(), freePort(), freePort()};
  auto runner = startHeadless(temp.path(),
                              "[SYSTEM]\nPORTNUM=3\n" + portSection(0, p[0], d, "ISLISTENBIND=1\nIPLISTENBIND=::1\n") +
                                  portSection(1, p[1], d, "LISTENDUAL=1\n") +
                                  portSection(2, p[2], d, "ISLISTENBIND=1\nIPLISTENBIND=[::1]\nFILTERMODE=3\n"),
                              {"-D563"});
  const std::string to = " -> 127.0.0.1:" + std::to_string(d) + " (filter mode ";
  for (const std::string& line : {"TCP-PORT0: relaying [::1]:" + std::to_string(p[0]) + to + "0)\n",
                                  "TCP-PORT1: relaying [::]:" + std::to_string(p[1]) + " (IPv4 and IPv6)" + to + "0)\n",
                                  "TCP-PORT2: relaying [::1]:" + std::to_string(p[2]) + to + "3)\n"})
    ASSERT_TRUE(runner->waitForOutput(line)) << line << runner->output;
  // One caller at a time, each closing before the destination's end, so the
  // destination accepts the relay's connection for this caller and no other.
  const struct {
    bool ipv6;
    uint16_t port;
    std::string caller, end;
  } callers[] = {{true, p[0], "[::1]", "closed-by-caller"},
                 {false, p[1], "127.0.0.1", "closed-by-caller"},
                 {true, p[2], "[::1]", "refused-by-filter"}};
  for (const auto& c : callers) {
    Fd client = c.ipv6 ? connectToIPv6(c.port) : connectTo(c.port);
    ASSERT_TRUE(client);
    const std::string port = std::to_string(localPort(client.get()));
    Fd server;
    if (c.end == "closed-by-caller") {
      server = acceptOne(destination.get(), 5000);
      expectFlowing(client.get(), server.get(), "hello");
    }
    client = Fd();
    EXPECT_TRUE(runner->waitForOutput("PeerAddress=" + c.caller + ", port=" + port + "\n")) << runner->output;
    const std::string caller = " caller=" + c.caller + ":" + port + " ";
    ASSERT_TRUE(runner->waitForOutput(caller)) << runner->output;
    const size_t at = runner->output.find(caller);
    const std::string logLine = runner->output.substr(at, runner->output.find('\n', at) - at);
    EXPECT_NE(logLine.find(" end=" + c.end), std::string::npos) << logLine;
  }
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}

// Every port a profile names runs, up to 1024, each on its own loopback
// address and one port number; a count beyond is cut with one line. A reload
// touches only the port that changed, and the last port relays.
TEST(HeadlessRunnerTest, AThousandPortsRunAndACountBeyondTheLimitIsSaidOnce) {
  TempDir temp;
  const fs::path profile = fs::path(temp.path()) / "Quillex.ini";
  uint16_t d = 0;
  Fd destination = listenAny(d, 1024);
  const uint16_t port = freePort();
  constexpr int kSections = 1030, kRun = 1024;
  const auto address = [](int i) { return "127.0." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250); };
  const auto sections = [&](int changed) {
    std::string text = "[SYSTEM]\nPORTNUM=" + std::to_string(kSections) + "\n";
    for (int i = 0; i < kSections; ++i)
      text += portSection(i, port, d, "ISLISTENBIND=1\nIPLISTENBIND=" + address(i) + "\n" +
                                           (i == changed ? "FILTERMODE=1\n" : ""));
    return text;
  };
  auto runner = startHeadless(temp.path(), sections(-1));
  ASSERT_TRUE(runner->waitForOutput("TCP-PORT1023: relaying " + address(1023) + ":", 20000)) << runner->output.substr(0, 2000);
  const auto count = [&](const std::string& text) {
    size_t n = 0;
    for (size_t at = 0; (at = runner->output.find(text, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(count(": relaying "), size_t(kRun));
  EXPECT_EQ(count("Quillex: PORTNUM=1030 is more than 1024 ports: TCP-PORT1024 and above are not started\n"), 1u);
  std::ofstream(profile, std::ios::binary) << sections(700);
  profileChanged(*runner);
  ASSERT_TRUE(runner->waitForOutput("TCP-PORT700: filter changed (filter mode 1); connections kept\n", 20000));
  EXPECT_TRUE(runner->waitForOutput("TCP-PORT1023: unchanged\n", 20000));
  EXPECT_EQ(count(": unchanged\n"), size_t(kRun - 1));
  const sockaddr_in last = [&] {
    sockaddr_in sa = loopbackAddress(port);
    inet_pton(AF_INET, address(1023).c_str(), &sa.sin_addr);
    return sa;
  }();
  Fd client(testsys::openSocket(AF_INET, SOCK_STREAM));
  ASSERT_EQ(connect(client.get(), reinterpret_cast<const sockaddr*>(&last), sizeof last), 0);
  Fd server = acceptOne(destination.get(), 5000);
  ASSERT_TRUE(server);
  expectFlowing(client.get(), server.get(), "through the last");
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}

// One log line per connection end, in the documented order of fields. A
// hang-up and a trace nobody reads any more (every step writes a line) do
// not end the relay.
TEST(HeadlessRunnerTest, EachConnectionEndsWithOneLogLineUnlessQuiet) {
  TempDir temp;
  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort);
  for (bool quiet : {false, true}) {
    uint16_t listenPort = freePort();
    std::vector<std::string> arguments{"-D563"};
    if (quiet) arguments.push_back("--quiet");
    auto runner = startHeadless(temp.path(), portSection(0, listenPort, destinationPort), arguments,
                                CChildLimits{0, true});
    ASSERT_TRUE(runner->waitForOutput("TCP-PORT0: relaying")) << runner->output;
    readProfileAgain(*runner, fs::path(temp.path()) / "Quillex.ini");
    ASSERT_TRUE(runner->waitForOutput("TCP-PORT0: unchanged\n")) << runner->output;
    Fd client = connectTo(listenPort), server = acceptOne(destination.get(), 5000);
    ASSERT_TRUE(server);
    expectFlowing(client.get(), server.get(), "12345");
    expectFlowing(server.get(), client.get(), "1234567");
    const std::string caller = "caller=127.0.0.1:" + std::to_string(localPort(client.get()));
    client = Fd();
    const std::string line = " port=TCP-PORT0 " + caller + " destination=127.0.0.1:" +
                             std::to_string(destinationPort) + " connected=127.0.0.1:" +
                             std::to_string(destinationPort) + " duration=";
    const std::string counts = " up=5 down=7 end=closed-by-caller error=0\n";
    EXPECT_EQ(runner->waitForOutput(counts, quiet ? 500 : 5000), !quiet) << runner->output;
    EXPECT_EQ(runner->output.find(line) != std::string::npos, !quiet) << runner->output;
    EXPECT_EQ(runner->stop(SIGTERM), 0) << runner->output;
  }
}

// The log and the trace on a pipe nobody reads: every connection is still
// relayed, the lines that could not wait are counted and said to be gone
// once the pipe is read again, and no line is ever cut. With the pipe full
// again, SIGTERM still ends the relay at once.
TEST(HeadlessRunnerTest, OutputsNobodyReadsNeverStallTheRelay) {
  TempDir temp;
  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort, 1024);
  const uint16_t listenPort = freePort(), refusingPort = freePort();
  auto runner = startHeadless(temp.path(),
                              "[SYSTEM]\nPORTNUM=5\n" + portSection(0, listenPort, destinationPort) +
                                  portSection(1, refusingPort, destinationPort, "FILTERMODE=3\n"),
                              {"-D563"});
  ASSERT_TRUE(runner->waitForOutput("TCP-PORT1: relaying")) << runner->output;
  const auto relayMany = [&](int count) {
    for (int i = 0; i < count; ++i) {
      Fd client = connectTo(listenPort), server = acceptOne(destination.get(), 5000);
      ASSERT_TRUE(server) << "connection " << i;
      expectFlowing(client.get(), server.get(), "x");
    }
  };
  // Far more lines than the pipe and the log's own queue hold: each refused
  // caller is a line of the log too.
  constexpr int kConnections = 500, kRefused = 6000;
  relayMany(kConnections);
  for (int i = 0; i < kRefused; ++i) ASSERT_TRUE(atEndOfStream(connectTo(refusingPort).get(), 5000));
  relayMany(1);
  ASSERT_TRUE(runner->waitForOutput(" dropped=", 10000));
  ASSERT_TRUE(runner->waitForOutput(" lines dropped while nobody read the trace\n", 10000));
  ASSERT_TRUE(runner->waitForOutput("\n", 2000));
  uint64_t ends = 0, dropped = 0;
  std::istringstream lines(runner->output.substr(0, runner->output.rfind('\n') + 1));
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find(" dropped=");
    if (line.find(" end=") != std::string::npos) ++ends;
    if (at != std::string::npos) dropped += std::stoull(line.substr(at + 9));
    EXPECT_TRUE(line.find("time=") == 0 || line.find("TCP-PORT0: ") == 0 || line.find("Trace: ") == 0 ||
                line.find("time=", 1) == std::string::npos)
        << "a cut line: " << line;
  }
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(ends + dropped, uint64_t(kConnections + kRefused + 1)) << "every log line is written or counted";

  relayMany(300);  // full again
  const auto stopped = std::chrono::steady_clock::now();
  runner->requestStop(SIGTERM);
  EXPECT_NE(runner->waitForExit(3000, CChildProcess::Output::LeftUnread), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
}

TEST(HeadlessRunnerTest, TheDebugSwitchStartsTheTraceAsTheWindowModeDoes) {
  TempDir temp;
  auto runner = startHeadless(temp.path(), "", {"-D563"});
  EXPECT_TRUE(runner->waitForOutput("********** Start QUILLEX DEBUG MODE  *******\nDEBUG_MODE ON\n"))
      << runner->output;
}

}  // namespace
