// One port relaying end to end on 127.0.0.1; the test owns the destination.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "relay/hosts_file.h"
#include "relay/line_sink.h"
#include "relay/platform/socket.h"
#include "relay/trace.h"
#include "tests/process_probe.h"
#include "tests/relay_fixture.h"
#include "tests/test_system.h"

using namespace loopback;

namespace {

class RepeaterTest : public RelayFixture {
 protected:
  // relaySendBuffer: the size of the system's queue behind the relay (0: the system's choice).
  void expectNoCutWhileBytesWait(size_t size, int relaySendBuffer);
};

bool echoes(CEventLoop& loop, int client, int server, const std::string& up, const std::string& down) {
  std::string gotUp(up.size(), '\0'), gotDown(down.size(), '\0');
  if (!writeAll(client, up.data(), up.size()) || !writeAll(server, down.data(), down.size())) return false;
  std::atomic<bool> done{false}, ok{false};
  std::thread reader([&] {
    ok = readExact(server, gotUp.data(), gotUp.size(), 5000) && readExact(client, gotDown.data(), gotDown.size(), 5000);
    done = true;
  });
  pumpUntil(loop, [&] { return done.load(); });
  reader.join();
  return ok && gotUp == up && gotDown == down;
}

TEST_F(RepeaterTest, OneCallerRelaysBothWaysAndTheCountGoesOneThenZero) {
  CTcpRepeater& r = start();
  auto [client, server] = relayedConnection(r);
  EXPECT_TRUE(echoes(loop, client.get(), server.get(), "request", "answer"));
  EXPECT_EQ(counts.counts, std::vector<int>{1});
  // Sent and idle: the pair holds no buffer memory.
  EXPECT_EQ(r.connectionTable[0]->acceptStream->sendBuffer.get(), nullptr);
  EXPECT_EQ(r.connectionTable[0]->connectStream->sendBuffer.get(), nullptr);
  client = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return r.connectionTable.empty(); }));
  EXPECT_EQ(counts.counts, (std::vector<int>{1, 0}));
  EXPECT_TRUE(atEndOfStream(server.get(), 5000));
}

TEST_F(RepeaterTest, SlotsAreReusedLowestFirstAndTheTableEmptiesWithTheLastPair) {
  CTcpRepeater& r = start();
  auto [c0, s0] = relayedConnection(r);
  auto [c1, s1] = relayedConnection(r);
  EXPECT_EQ(r.connectionTable.size(), 2u);
  EXPECT_EQ(r.connectionTable[0]->acceptStream->peerPort, localPort(c0.get()));
  EXPECT_EQ(r.connectionTable[0]->connectStream->peerPort, int(destinationPort));
  c0 = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return r.connectionTable[0] == nullptr; }));
  EXPECT_EQ(r.connectionTable.size(), 2u);  // never compacted
  auto [c2, s2] = relayedConnection(r);
  ASSERT_NE(r.connectionTable[0], nullptr);
  EXPECT_EQ(r.connectionTable[0]->acceptStream->index, 0);
  EXPECT_EQ(r.connectionTable[0]->connectStream->index, 0);
  c1 = Fd();
  c2 = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return r.connectionTable.empty(); }));
  auto [c3, s3] = relayedConnection(r);
  EXPECT_EQ(r.connectionTable.size(), 1u);
}

TEST_F(RepeaterTest, CountRisesOnlyAsEachOutgoingConnectCompletes) {
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  names.hold("slow.quillex.test");
  CTcpRepeater& r = start("slow.quillex.test");
  Fd clients[3] = {connectTo(portOf(r)), connectTo(portOf(r)), connectTo(portOf(r))};
  ASSERT_TRUE(pumpUntil(loop, [&] { return pairs(r) == 3; }));
  EXPECT_TRUE(counts.counts.empty());  // nothing at acceptance

  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(r.connectionTable[size_t(i)]->connectStream->state, CTcpSockStream::STATE_CONNECTING);

  // Each caller's way to the destination opens in turn, as a slow one would.
  for (size_t heard = 1; heard <= 3; ++heard) {
    ASSERT_TRUE(pumpUntil(loop, [&] { return names.releaseOne("slow.quillex.test", "127.0.0.1"); }));
    ASSERT_TRUE(pumpUntil(loop, [&] { return counts.counts.size() == heard; }));
    EXPECT_EQ(counts.counts.back(), int(heard));
  }
  EXPECT_EQ(counts.counts, (std::vector<int>{1, 2, 3}));
}

TEST_F(RepeaterTest, RefusedCallerLeavesOnlyATraceLine) {
  CPortSetting refusing = portSetting();
  refusing.filter.mode = CIpFilter::FILTER_INDIVIDUAL;  // empty allowed list refuses all
  TraceCapture trace;
  CTcpRepeater& r = start(refusing);
  Fd client = connectTo(portOf(r));
  ASSERT_TRUE(pumpUntil(loop, [&] { return trace.count("★★接続を拒否★★ PeerAddress=127.0.0.1, port=") == 1; }));
  EXPECT_TRUE(atEndOfStream(client.get(), 5000));
  EXPECT_TRUE(r.connectionTable.empty());
  EXPECT_TRUE(counts.counts.empty());
  EXPECT_FALSE(acceptOne(destination.get(), 0));

  settingOf(r).filter.mode = CIpFilter::FILTER_LOCALHOST;  // the live filter is read per caller
  auto [c, s] = relayedConnection(r);
  EXPECT_TRUE(s);
}

TEST_F(RepeaterTest, DestinationThatRefusesClosesTheClient) {
  uint16_t closedPort = 0;
  { Fd gone = listenAny(closedPort); }
  TraceCapture trace;
  CTcpRepeater& r = start("127.0.0.1", closedPort);
  Fd client = connectTo(portOf(r));
  EXPECT_TRUE(atEndOfStream(client.get(), 0) || pumpUntil(loop, [&] { return atEndOfStream(client.get(), 0); }));
  EXPECT_TRUE(r.connectionTable.empty());
  EXPECT_EQ(trace.count("kind=connectSocket, err=10061\n"), 1u);
  EXPECT_EQ(counts.counts, std::vector<int>{0});
}

TEST_F(RepeaterTest, LocalhostAndResolvedNamesConnect) {
  CTcpRepeater& local = start("localhost");
  auto [c1, s1] = relayedConnection(local);
  EXPECT_TRUE(echoes(loop, c1.get(), s1.get(), "to localhost", "back"));
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  names.answer("dest.quillex.test", "127.0.0.1");
  CTcpRepeater& named = start("dest.quillex.test");
  auto [c2, s2] = relayedConnection(named);
  EXPECT_TRUE(echoes(loop, c2.get(), s2.get(), "to a name", "back"));
  EXPECT_EQ(named.connectionTable[0]->connectStream->peerAddress, "127.0.0.1");
}

TEST_F(RepeaterTest, NameThatDoesNotResolveClosesTheClientWithInvalidArgument) {
  TraceCapture trace;
  CTcpRepeater& r = start("nowhere.quillex.test");
  Fd client = connectTo(portOf(r));
  ASSERT_TRUE(pumpUntil(loop, [&] { return atEndOfStream(client.get(), 0); }));
  EXPECT_EQ(trace.count("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=nowhere.quillex.test, port=" +
                        std::to_string(destinationPort) + " err=10022\n"),
            1u);
  EXPECT_TRUE(r.connectionTable.empty());
  EXPECT_EQ(counts.counts, std::vector<int>{0});
}

TEST_F(RepeaterTest, SlowNameServerDoesNotHoldUpAnotherPort) {
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  names.hold("slow.quillex.test");
  CCountLog slowCounts;
  CTcpRepeater& slow = start(portSetting("slow.quillex.test"), &slowCounts);
  Fd waiting = connectTo(portOf(slow));
  ASSERT_TRUE(pumpUntil(loop, [&] { return names.queries("slow.quillex.test") > 0; }));
  CTcpRepeater& fast = start();
  auto [client, server] = relayedConnection(fast);
  EXPECT_TRUE(echoes(loop, client.get(), server.get(), "not held up", "by the other port"));
  EXPECT_EQ(pairs(slow), 1);
  slow.stop();  // cancels the lookup in flight
  EXPECT_TRUE(slow.connectionTable.empty());
  pumpFor(loop, 50);  // a late answer must find nothing to call back
}

TEST(ResolverLimitsTest, SystemOptionsBoundedAsTheSystemResolverBoundsThem) {
  struct Case {
    const char* resolvConf;
    const char* resOptions;
    int timeoutMs, tries;
  } cases[] = {
      {"nameserver 10.0.0.1\n", nullptr, 5000, 2},
      {"options rotate timeout:3 attempts:4\n", nullptr, 3000, 4},
      {"options timeout:0 attempts:9\noptions timeout:99\n", nullptr, 30000, 5},
      {"# options timeout:1\noptions timeout:2\n", "attempts:1 timeout:7", 7000, 1},
  };
  for (const Case& c : cases) {
    CHostResolver::Limits limits = CHostResolver::systemLimits(c.resolvConf, c.resOptions);
    EXPECT_EQ(limits.timeoutMs, c.timeoutMs) << c.resolvConf;
    EXPECT_EQ(limits.tries, c.tries) << c.resolvConf;
  }
}

// A name server that answers IPv4 and drops IPv6 questions must not hold
// up a destination that has an IPv4 address.
TEST_F(RepeaterTest, AnIPv4AnswerIsNotHeldUpByAMissingIPv6One) {
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  testsys::setEnv("RES_OPTIONS", "timeout:3 attempts:1");
  names.answer("four.quillex.test", "127.0.0.1");
  names.dropIPv6("four.quillex.test");
  CTcpRepeater& r = start("four.quillex.test");
  Fd client = connectTo(portOf(r));
  EXPECT_TRUE(pumpUntil(loop, [&] { return !counts.counts.empty() && counts.counts.back() == 1; }, 1500));
  testsys::unsetEnv("RES_OPTIONS");
}

TEST_F(RepeaterTest, SilentNameServerClosesTheCallerWhenTheSystemTimeoutRunsOut) {
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  testsys::setEnv("RES_OPTIONS", "timeout:1 attempts:1");
  names.hold("silent.quillex.test");
  CTcpRepeater& r = start("silent.quillex.test");
  Fd client = connectTo(portOf(r));
  // One second of waiting, not the resolver library's own five and more.
  EXPECT_TRUE(pumpUntil(loop, [&] { return atEndOfStream(client.get(), 0); }, 3000));
  EXPECT_TRUE(r.connectionTable.empty());
  testsys::unsetEnv("RES_OPTIONS");
}

TEST_F(RepeaterTest, StopVisitsEverySlotAndFreesThePort) {
  CTcpRepeater& r = start();
  auto [c0, s0] = relayedConnection(r);
  auto [c1, s1] = relayedConnection(r);
  auto [c2, s2] = relayedConnection(r);
  c1 = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return r.connectionTable[1] == nullptr; }));
  counts.counts.clear();

  int position = 0;
  EXPECT_EQ(r.getNextConnection(position), r.connectionTable[0].get());
  EXPECT_EQ(position, 1);
  EXPECT_EQ(r.getNextConnection(position), r.connectionTable[2].get());
  EXPECT_EQ(position, 3);
  EXPECT_EQ(r.getNextConnection(position), nullptr);
  EXPECT_EQ(position, -1);
  EXPECT_EQ(r.getNextConnection(position), nullptr);

  uint16_t port = portOf(r);
  r.stop();
  EXPECT_EQ(counts.counts, (std::vector<int>{1, 1, 0}));  // one call per slot visited
  EXPECT_TRUE(atEndOfStream(c0.get(), 5000));
  EXPECT_TRUE(atEndOfStream(s2.get(), 5000));
  counts.counts.clear();
  r.stop();
  EXPECT_TRUE(counts.counts.empty());

  settingOf(r).port = port;  // the same port again, at once
  applyPortSetting(r, settingOf(r));
  EXPECT_TRUE(r.isListening());
  position = 0;
  EXPECT_EQ(r.getNextConnection(position), nullptr);
  EXPECT_EQ(position, -1);
}

// A client that sends its request, shuts down its sending side and waits
// for the answer gets it only when the port passes half-closes on.
TEST_F(RepeaterTest, HalfCloseIsPassedOnOnlyWhenAskedFor) {
  const std::vector<char> request = pattern(100 * 1024, 7), answer = pattern(64 * 1024, 8);
  for (bool halfClose : {true, false}) {
    SCOPED_TRACE(halfClose ? "HALFCLOSE=1" : "HALFCLOSE absent");
    CPortSetting s = portSetting();
    s.halfClose = halfClose;
    CTcpRepeater& r = start(s);
    auto [client, server] = relayedConnection(r);
    std::string gotRequest, gotAnswer;
    std::atomic<bool> done{false};
    std::thread peers([&] {
      writeAll(client.get(), request.data(), request.size());
      testsys::shutDownSending(client.get());
      readToEnd(server.get(), gotRequest, 10000);  // the request, then its end
      writeAll(server.get(), answer.data(), answer.size());
      server = Fd();
      readToEnd(client.get(), gotAnswer, 10000);
      done = true;
    });
    EXPECT_TRUE(pumpUntil(loop, [&] { return done.load(); }, 20000));
    peers.join();
    EXPECT_EQ(gotRequest, std::string(request.begin(), request.end()));
    EXPECT_EQ(gotAnswer, halfClose ? std::string(answer.begin(), answer.end()) : std::string());
    EXPECT_TRUE(pumpUntil(loop, [&] { return r.connectionTable.empty(); }));
  }
}

// Records each end and, from inside the handler that removed the pair (its
// count report), reads the streams it ended: a pair destroyed there instead
// of by the loop once the handler has returned is a use after free.
class CReadingEndLog : public CEndLog, public CTcpRepeaterListener {
 public:
  CReadingEndLog(CEventLoop& loop, CTcpRepeater*& repeater, CCountLog& counts)
      : loop_(loop), repeater_(repeater), counts_(counts) {}
  void connectionEnded(const CConnectionRecord& record) override {
    CEndLog::connectionEnded(record);
    for (const auto& pair : repeater_->connectionTable)
      if (pair) ended_ = {pair->acceptStream.get(), pair->connectStream.get()};
  }
  void notifyConnectionCount(int count) override {
    if (loop_.dispatching())
      for (CTcpSockStream* stream : ended_) readKinds += stream->kind.size();
    ended_.clear();
    counts_.notifyConnectionCount(count);
  }
  size_t readKinds = 0;

 private:
  CEventLoop& loop_;
  CTcpRepeater*& repeater_;
  CCountLog& counts_;
  std::vector<CTcpSockStream*> ended_;
};

// Who ended each connection, as an observer hears it (the log line built
// from it is checked end to end by the headless runner's test); each end
// closes the pair from inside one of its streams' notifications.
TEST_F(RepeaterTest, ObserverHearsHowEachConnectionEnded) {
  CTcpRepeater* current = nullptr;
  CReadingEndLog log(loop, current, counts);
  using End = CConnectionRecord::End;
  uint16_t closedPort = 0;
  { Fd gone = listenAny(closedPort); }
  CTcpRepeater& r = start(portSetting(), &log, &log);
  CTcpRepeater& unreachable = start(portSetting("127.0.0.1", closedPort), &log, &log);
  current = &r;
  const auto heard = [&](size_t n) { return pumpUntil(loop, [&] { return log.records.size() == n; }); };

  auto [c1, s1] = relayedConnection(r);
  c1 = Fd();
  ASSERT_TRUE(heard(1));
  auto [c2, s2] = relayedConnection(r);
  s2 = Fd();
  ASSERT_TRUE(heard(2));
  // Where a reset reads as an end (Wine), the row cannot be shown.
  const bool resets = !testsys::lacking(testsys::CFacility::ResetReadAsReset);
  if (resets) {
    auto [c3, s3] = relayedConnection(r);
    resetOnClose(s3.get());
    s3 = Fd();
    ASSERT_TRUE(heard(3));
  }
  current = &unreachable;
  Fd c4 = connectTo(portOf(unreachable));
  ASSERT_TRUE(heard(resets ? 4 : 3));
  EXPECT_EQ(log.readKinds, (resets ? 4 : 3) * std::string("acceptSocketconnectSocket").size());
  current = &r;
  auto [c5, s5] = relayedConnection(r);
  r.stop();

  std::vector<std::pair<End, int>> ends = {{End::ClosedByCaller, 0}, {End::ClosedByDestination, 0},
                                           {End::ResetByDestination, 10054}, {End::ConnectFailed, 10061},
                                           {End::Stopped, 0}};
  if (!resets) ends.erase(ends.begin() + 2);
  ASSERT_EQ(log.records.size(), std::size(ends));
  for (size_t i = 0; i < std::size(ends); ++i) {
    EXPECT_EQ(log.records[i].end, ends[i].first) << i;
    EXPECT_EQ(log.records[i].error, ends[i].second) << i;
  }
}

// A listener of each kind, and which callers it takes: a literal takes its
// family alone, LISTENDUAL's wildcard both on one socket, where an IPv4
// caller is its IPv4 address to the filter and the trace. An IPv6 caller's
// trace line writes it in brackets; the filter judges it by the port's mode.
TEST_F(RepeaterTest, IPv6ListenersTakeTheirFamiliesAndNameTheirCallersWhole) {
  uint16_t probe = 0;
  if (!listenIPv6(probe)) GTEST_SKIP() << "no IPv6 loopback here";
  struct Case {
    const char* bind;  // null: the wildcard
    int dual, mode;
    bool v4, v6;  // whether a caller of each family is relayed
  } cases[] = {{"::1", 0, 0, false, true},      {"[::1%1]", 0, 0, false, true},  {"::", 0, 0, false, true},
               {nullptr, 1, 0, true, true},     {nullptr, 0, 0, true, false},    {nullptr, 1, 1, true, true},
               {nullptr, 1, 3, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.bind ? c.bind : "wildcard") + (c.dual ? ", dual" : "") + ", mode " +
                 std::to_string(c.mode));
    CPortSetting s = portSetting();
    s.port = freePort();  // a wildcard listener is bound by its port
    s.isListenBind = c.bind ? 1 : 0;
    s.ipListenBind = c.bind ? c.bind : "127.0.0.1";
    s.listenDual = c.dual;
    s.filter.mode = c.mode;
    s.filter.enableIpCount = 1;
    s.filter.enableIp[0] = "127.0.0.0/8";  // mode 3: IPv4 callers of loopback alone
    CTcpRepeater& r = start(s);
    for (const bool v6 : {false, true}) {
      TraceCapture trace;
      const size_t heard = counts.counts.size();
      Fd client = v6 ? connectToIPv6(portOf(r)) : connectTo(portOf(r));
      if (!(v6 ? c.v6 : c.v4)) {
        EXPECT_TRUE(!client || pumpUntil(loop, [&] { return atEndOfStream(client.get(), 0); })) << "v6 " << v6;
        continue;
      }
      ASSERT_TRUE(pumpUntil(loop, [&] { return counts.counts.size() > heard; })) << "v6 " << v6;
      Fd server = acceptOne(destination.get(), 5000);
      EXPECT_TRUE(echoes(loop, client.get(), server.get(), "up", "down")) << "v6 " << v6;
      const std::string caller = v6 ? "[::1]" : "127.0.0.1";
      EXPECT_EQ(trace.count("PeerAddress=" + caller + ", port=" + std::to_string(localPort(client.get())) + "\n"), 1u)
          << trace.text();
    }
    ports.clear();
  }
}

// IPv4 stays first; a destination reachable only over IPv6 is reached so.
TEST_F(RepeaterTest, IPv6DestinationsAreReachedWhenNoIPv4AddressIsGiven) {
  uint16_t port6 = 0;
  Fd destination6 = listenIPv6(port6);
  if (!destination6) GTEST_SKIP() << "no IPv6 loopback here";
  names.answer("six.quillex.test", "::1");
  names.answer("both.quillex.test", "::1");
  names.answer("both.quillex.test", "127.0.0.1");
  // A name the hosts file lists with an IPv6 address alone is that address,
  // whatever the name server says.
  TempDir hostsDir;
  std::ofstream(hostsDir.path() + "/hosts") << "127.0.0.1 localhost\n::1 listed.quillex.test # only IPv6\n";
  testsys::setEnv("QUILLEX_HOSTS_FILE", hostsDir.path() + "/hosts");
  names.answer("listed.quillex.test", "127.0.0.1");
  struct Case {
    const char* host;
    bool overIPv6;
    bool needsNames = false;  // answered by the test's name server, or Linux's name of the loopback interface
  } cases[] = {{"::1", true},      {"[::1]", true},          {"::1%1", true},
               {"[::1%1]", true},  {"::1%lo", true, true},   {"[::1%lo]", true, true},
               {"six.quillex.test", true, true}, {"both.quillex.test", false, true}, {"LISTED.quillex.test", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    if (c.needsNames && testsys::lacking(testsys::CFacility::TestNameServer)) continue;
    CTcpRepeater& r = start(c.host, c.overIPv6 ? port6 : destinationPort);
    Fd client = connectTo(portOf(r));
    ASSERT_TRUE(pumpUntil(loop, [&] { return !counts.counts.empty() && counts.counts.back() == 1; }));
    Fd server = acceptOne(c.overIPv6 ? destination6.get() : destination.get(), 5000);
    EXPECT_TRUE(server);  // on the listener of the family chosen
    EXPECT_EQ(r.connectionTable[0]->connectStream->peerAddress.substr(0, 3), c.overIPv6 ? "::1" : "127");
    r.stop();
  }
  EXPECT_EQ(names.queries("::1%1") + names.queries("[::1%1]") + names.queries("::1%lo"), 0);  // no names
  EXPECT_EQ(names.queries("listed.quillex.test") + names.queries("LISTED.quillex.test"), 0);
  testsys::unsetEnv("QUILLEX_HOSTS_FILE");
  // An IPv4 bind address cannot reach an IPv6 destination: a failed connect.
  TraceCapture trace;
  CPortSetting bind = portSetting("::1", port6);
  bind.isConnectBind = 1;
  bind.ipConnectBind = "127.0.0.1";
  CTcpRepeater& bound = start(bind);
  Fd client = connectTo(portOf(bound));
  ASSERT_TRUE(pumpUntil(loop, [&] { return atEndOfStream(client.get(), 0); }));
  EXPECT_EQ(trace.count("CONNECT FAILE! hostname=::1, port=" + std::to_string(port6) + " err=10047\n"), 1u);
}

// A port that relays to itself, directly, through a name or through another
// port: the relay refuses its own outgoing connection as a caller, so the
// caller's pair ends within one hop, whether the caller sent a byte and
// closed, stays, or left at once (before the relay accepted its own
// connection), and the relay is at rest again with no descriptor left behind.
TEST_F(RepeaterTest, TheRelayCallingItselfIsRefusedAndComesToRest) {
  names.answer("me.quillex.test", "127.0.0.1");
  enum Caller { SendsAndCloses, Stays, LeavesAtOnce };
  struct Case {
    const char* host;
    bool throughAnother;
    Caller caller;
    const char* listen = nullptr;  // an IPv6 listen address, "" for the dual-stack wildcard
  } cases[] = {{"127.0.0.1", false, SendsAndCloses}, {"127.0.0.1", false, Stays},
               {"me.quillex.test", false, Stays},    {"127.0.0.1", true, SendsAndCloses},
               {"me.quillex.test", true, Stays},     {"127.0.0.1", false, LeavesAtOnce},
               {"127.0.0.1", true, LeavesAtOnce},    {"::1", false, SendsAndCloses, "::1"},
               {"::1", true, Stays, "::1"},          {"::1", false, Stays, ""},
               {"127.0.0.1", true, SendsAndCloses, ""}};
  uint16_t probe = 0;
  const bool ipv6 = bool(listenIPv6(probe));
  start().stop();  // the first listener opens the process's spare descriptor for good
  const bool namesAnswered = !testsys::lacking(testsys::CFacility::TestNameServer);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.host) + (c.throughAnother ? ", through another port" : "") + ", caller " +
                 std::to_string(c.caller));
    if (c.host == std::string("me.quillex.test") && !namesAnswered) continue;
    if (c.listen && !ipv6) continue;
    const bool callsOverIPv6 = c.listen && *c.listen;
    TraceCapture trace;
    const int baseline = openDescriptors(testsys::processId());
    CEndLog log;
    const uint16_t first = freePort(), second = c.throughAnother ? freePort() : first;
    for (uint16_t port : std::set<uint16_t>{first, second}) {
      CPortSetting s = portSetting(c.host, port == first ? second : first);
      s.port = port;
      if (c.listen) {
        s.isListenBind = *c.listen ? 1 : 0;
        s.ipListenBind = *c.listen ? c.listen : "127.0.0.1";
        s.listenDual = !*c.listen;
      }
      start(s, nullptr, &log);
    }
    Fd caller = callsOverIPv6 ? connectToIPv6(first) : connectTo(first);
    if (c.caller == SendsAndCloses) {
      ASSERT_TRUE(writeAll(caller.get(), "x", 1));
    }
    if (c.caller != Stays) caller = Fd();
    const auto refused = [&] {
      return std::count_if(log.records.begin(), log.records.end(),
                           [](const CConnectionRecord& r) { return r.end == CConnectionRecord::End::RefusedAsLoop; });
    };
    ASSERT_TRUE(pumpUntil(loop, [&] {
      return refused() == 1 && (caller ? atEndOfStream(caller.get(), 0) : log.records.size() >= 2);
    }));
    EXPECT_LT(pumpFor(loop, 300), 10) << "the relay comes to rest";
    EXPECT_EQ(refused(), 1);
    EXPECT_LE(log.records.size(), 3u) << "one caller, one refused loop";
    const bool refusedOverIPv6 = std::string(c.host) == "::1";
    EXPECT_EQ(trace.count(std::string("★★接続を拒否★★ PeerAddress=") + (refusedOverIPv6 ? "[::1]" : "127.0.0.1")), 1u);
    caller = Fd();
    ports.clear();
    EXPECT_EQ(openDescriptors(testsys::processId()), baseline);
  }
}

// The kernel gives a caller the local port of one of the relay's own
// outgoing connections when their destinations differ. Here the relay
// relays to another host's listener on its own port number, and a caller
// comes from the very address and port of the relay's outgoing connection:
// it is a caller like any other.
TEST_F(RepeaterTest, ACallerThatSharesAnOutgoingLocalEndIsNoLoop) {
  SKIP_WITHOUT(testsys::CFacility::LocalPortRange);
  const uint16_t port = freePort();
  Fd other(testsys::openSocket(AF_INET, SOCK_STREAM));
  sockaddr_in sa = loopbackAddress(port);
  inet_pton(AF_INET, "127.0.0.2", &sa.sin_addr);
  ASSERT_EQ(bind(other.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(other.get(), 16), 0);
  CPortSetting s = portSetting("127.0.0.2", port);
  s.port = port;
  start(s);
  Fd first = connectTo(port);
  ASSERT_TRUE(pumpUntil(loop, [&] { return counts.counts == std::vector<int>{1}; }));
  Fd farEnd = acceptOne(other.get(), 5000);
  ASSERT_TRUE(farEnd);
  // The next caller's local port is forced to the outgoing connection's.
  const int shared = peerPort(farEnd.get());
  constexpr int kLocalPortRange = 51;  // IP_LOCAL_PORT_RANGE: low and high port of this socket's connects
  const int range = int((uint32_t(shared) << 16) | uint32_t(shared));
  Fd caller(testsys::openSocket(AF_INET, SOCK_STREAM));
  if (!testsys::setIntOption(caller.get(), IPPROTO_IP, kLocalPortRange, range))
    GTEST_SKIP() << "no per-socket port range here";
  const sockaddr_in to = loopbackAddress(port);
  ASSERT_EQ(connect(caller.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
  ASSERT_EQ(localPort(caller.get()), shared);
  ASSERT_TRUE(pumpUntil(loop, [&] { return counts.counts.size() == 2; }));
  EXPECT_EQ(counts.counts.back(), 2) << "relayed, not refused";
  EXPECT_TRUE(acceptOne(other.get(), 5000));
}

// A destination that never completes the handshake (its accept queue is
// full, so its SYNs are dropped) and a name that is never answered both fail
// as the system's own connect timeout does, after the port's timeout.
TEST_F(RepeaterTest, ConnectTimeoutFailsAsTheSystemTimeoutDoes) {
  SKIP_WITHOUT(testsys::CFacility::SilentListener);
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  testsys::setEnv("RES_OPTIONS", "timeout:5 attempts:1");
  uint16_t silentPort = 0;
  Fd silent = listenAny(silentPort, 0);
  std::vector<Fd> queued;
  for (int i = 0; i < 4; ++i) queued.push_back(Fd(platform::openStreamSocket(AF_INET)));
  const sockaddr_in sa = loopbackAddress(silentPort);
  for (Fd& q : queued) platform::startConnect(q.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  names.hold("silent.quillex.test");
  for (const std::string host : {"127.0.0.1", "silent.quillex.test"}) {
    SCOPED_TRACE(host);
    TraceCapture trace;
    CEndLog log;
    CPortSetting s = portSetting(host, silentPort);
    s.connectTimeout = 1;
    CTcpRepeater& r = start(s, nullptr, &log);
    Fd caller = connectTo(portOf(r));
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(pumpUntil(loop, [&] { return atEndOfStream(caller.get(), 0); }, 4000));
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(900));
    EXPECT_EQ(trace.count("CTcpRepeater::notifyOnError() index=0, kind=connectSocket, err=10060\n"), 1u)
        << trace.text();
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].end, CConnectionRecord::End::ConnectFailed);
    EXPECT_EQ(log.records[0].error, ws::kWSAETIMEDOUT);
  }
  testsys::unsetEnv("RES_OPTIONS");
}

// A pair that moves bytes lives on; one silent for the idle timeout ends as
// idle-timeout, a half-closed health check too. Idle pairs with their timers
// armed cost no wake-up before they are due.
TEST_F(RepeaterTest, IdleTimeoutEndsOnlySilentPairs) {
  CEndLog log;
  CPortSetting s = portSetting();
  s.halfClose = 1;
  s.idleTimeout = 1;
  CTcpRepeater& r = start(s, nullptr, &log);
  auto [client, server] = relayedConnection(r);
  for (int i = 0; i < 3; ++i) {  // 1.5 s with a byte every half second
    pumpFor(loop, 500);
    ASSERT_TRUE(writeAll(client.get(), "k", 1));
    char byte;
    ASSERT_TRUE(pumpUntil(loop, [&] { return testsys::receiveBytes(server.get(), &byte, 1, false, true) == 1; }));
  }
  EXPECT_TRUE(log.records.empty());
  auto [checker, checked] = relayedConnection(r);
  testsys::shutDownSending(checker.get());  // connects and closes, and never reads the answer
  EXPECT_LT(pumpFor(loop, 300), 10) << "no wake-up before a timeout is due";
  ASSERT_TRUE(pumpUntil(loop, [&] { return log.records.size() == 2; }, 3000));
  for (const CConnectionRecord& record : log.records) EXPECT_EQ(record.end, CConnectionRecord::End::IdleTimeout);
  EXPECT_TRUE(atEndOfStream(client.get(), 1000));
}

TEST_F(RepeaterTest, KeepaliveIsOnBothSocketsWithThePortsTime) {
  SKIP_WITHOUT(testsys::CFacility::KeepAliveQuery);
  CPortSetting s = portSetting();
  s.keepAlive = 45;
  CTcpRepeater& r = start(s);
  auto [client, server] = relayedConnection(r);
  for (CTcpSockStream* s : {r.connectionTable[0]->acceptStream.get(), r.connectionTable[0]->connectStream.get()}) {
    const int on = testsys::intOption(s->m_hSocket.get(), SOL_SOCKET, SO_KEEPALIVE);
    EXPECT_EQ(std::make_pair(on, testsys::keepAliveIdleSeconds(s->m_hSocket.get())), std::make_pair(1, 45)) << s->kind;
  }
}

// Writes the bytes at one end while the other reads nothing for pauseMs
// (and then looks), then reads them as the loop relays; true when every
// byte arrived in order.
bool arrivesAfterAPause(CEventLoop& loop, int from, int to, const std::vector<char>& bytes, int pauseMs,
                        const std::function<void()>& whilePaused) {
  std::thread writer([&] { writeAll(from, bytes.data(), bytes.size()); });
  pumpFor(loop, pauseMs);
  whilePaused();
  std::vector<char> got(bytes.size());
  std::atomic<bool> read{false};
  std::thread reader([&] {
    readExact(to, got.data(), got.size(), 10000);
    read = true;
  });
  pumpUntil(loop, [&] { return read.load(); });
  reader.join();
  writer.join();
  return got == bytes;
}

// Bytes on their way to a reader that pauses keep a pair from being idle:
// everything arrives, and only then does a silence of the idle timeout end
// the pair.
void RepeaterTest::expectNoCutWhileBytesWait(size_t size, int relaySendBuffer) {
  CEndLog log;
  uint16_t slowPort = 0;
  Fd slow = listenAny(slowPort);
  setReceiveBuffer(slow.get(), 4096);  // its callers inherit a small window
  CPortSetting s = portSetting("127.0.0.1", slowPort);
  s.bufferSize = 4;
  s.idleTimeout = 1;
  CTcpRepeater& r = start(s, nullptr, &log);
  const size_t heard = counts.counts.size();
  Fd client = connectTo(portOf(r));
  ASSERT_TRUE(pumpUntil(loop, [&] { return counts.counts.size() > heard; }));
  Fd server = acceptOne(slow.get(), 5000);
  ASSERT_TRUE(server);
  if (relaySendBuffer) setSendBuffer(r.connectionTable[0]->connectStream->m_hSocket.get(), relaySendBuffer);
  // The reader pauses longer than the idle timeout.
  EXPECT_TRUE(arrivesAfterAPause(loop, client.get(), server.get(), pattern(size, 7), 1500, [&] {
    EXPECT_TRUE(log.records.empty()) << "cut while bytes were on their way";
  }));
  ASSERT_TRUE(pumpUntil(loop, [&] { return log.records.size() == 1; }, 3000));
  EXPECT_EQ(log.records[0].end, CConnectionRecord::End::IdleTimeout);
  EXPECT_EQ(log.records[0].bytesUp, size);
}

// The system's queues too small for the bytes: most of them wait in the relay.
TEST_F(RepeaterTest, AnIdleTimeoutNeverCutsBytesWaitingInTheRelay) { expectNoCutWhileBytesWait(size_t(2) << 20, 4096); }

// The bytes fit the system's queues: only the system knows they wait.
TEST_F(RepeaterTest, AnIdleTimeoutNeverCutsBytesWaitingInTheSystemsQueue) {
  SKIP_WITHOUT(testsys::CFacility::SendQueueQuery);
  expectNoCutWhileBytesWait(size_t(12) << 10, 0);
}

// A caller that answers but does not read (its window closed) for longer
// than keepalive's whole schedule stays connected, and gets every byte.
TEST_F(RepeaterTest, KeepaliveNeverEndsAPeerThatAnswersButDoesNotRead) {
  CEndLog log;
  CPortSetting s = portSetting();
  s.keepAlive = 1;
  CTcpRepeater& r = start(s, nullptr, &log);
  auto [client, server] = relayedConnection(r);
  const int pauseMs = CAsyncSocket::keepAliveFor(1).giveUpMs() + 1500;
  EXPECT_TRUE(arrivesAfterAPause(loop, server.get(), client.get(), pattern(size_t(8) << 20, 3), pauseMs,
                                 [&] { EXPECT_TRUE(log.records.empty()) << "a paused reader was cut"; }));
  EXPECT_TRUE(log.records.empty());
}

TEST_F(RepeaterTest, PortInUseIsReportedAsNotListening) {
  SKIP_WITHOUT(testsys::CFacility::AddressInUseReported);
  CTcpRepeater& first = start();
  CPortSetting s = portSetting();
  s.port = portOf(first);
  CTcpRepeater second(loop);
  applyPortSetting(second, s);
  EXPECT_FALSE(second.isListening());
  EXPECT_EQ(second.startError(), ws::kWSAEADDRINUSE);
  second.stop();
}

TEST_F(RepeaterTest, TwoHundredConcurrentConnectionsEachGetTheirOwnBytes) {
  constexpr int kConnections = 200;
  constexpr size_t kBytes = 3000;
  CTcpRepeater& r = start();
  std::atomic<bool> done{false}, ok{true};
  // The destination echoes each connection in turn and keeps all of them
  // open, so all 200 pairs stand at once.
  std::vector<Fd> servers;
  std::thread echo([&] {
    std::vector<char> chunk(kBytes);
    for (int i = 0; i < kConnections && ok; ++i) {
      servers.push_back(acceptOne(destination.get(), 10000));
      if (!readExact(servers.back().get(), chunk.data(), kBytes, 10000) ||
          !writeAll(servers.back().get(), chunk.data(), kBytes))
        ok = false;
    }
  });
  std::thread clients([&] {
    std::vector<Fd> fds;
    std::vector<std::vector<char>> sent;
    for (int i = 0; i < kConnections; ++i) {
      fds.push_back(connectTo(portOf(r)));
      sent.push_back(pattern(kBytes, uint32_t(i + 100)));
      if (!writeAll(fds.back().get(), sent.back().data(), kBytes)) ok = false;
    }
    for (int i = 0; i < kConnections && ok; ++i) {
      std::vector<char> got(kBytes);
      if (!readExact(fds[size_t(i)].get(), got.data(), kBytes, 10000) || got != sent[size_t(i)]) ok = false;
    }
    done = true;
  });
  EXPECT_TRUE(pumpUntil(loop, [&] { return done.load(); }, 30000));
  clients.join();
  echo.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(*std::max_element(counts.counts.begin(), counts.counts.end()), kConnections);
  ASSERT_TRUE(pumpUntil(loop, [&] { return r.connectionTable.empty(); }));
}

// A trace output that runs out of memory on the line that accepts a caller,
// once: the caller was taken from the queue by then.
class CFailingAcceptLine : public CLineSink {
 public:
  void write(const char* data, size_t size) override {
    if (!failed_ && std::string(data, size).find("接続を受け付けました") != std::string::npos) {
      failed_ = true;
      throw std::bad_alloc();
    }
  }

 private:
  bool failed_ = false;
};

// Memory that runs out once a caller was accepted closes that caller only;
// the caller queued behind it is relayed.
TEST_F(RepeaterTest, MemoryRefusedAfterAnAcceptClosesOnlyThatCaller) {
  CTcpRepeater& r = start();
  Fd first = connectTo(portOf(r)), second = connectTo(portOf(r));
  CFailingAcceptLine failing;
  trace::setOutput(&failing);
  trace::setEnabled(true);
  ASSERT_TRUE(pumpUntil(loop, [&] { return counts.counts.size() == 1; }));
  trace::setEnabled(false);
  trace::setOutput(nullptr);
  EXPECT_TRUE(atEndOfStream(first.get(), 5000));
  Fd server = acceptOne(destination.get(), 5000);
  ASSERT_TRUE(server);
  EXPECT_TRUE(echoes(loop, second.get(), server.get(), "still", "served"));
}

TEST_F(RepeaterTest, RunningOutOfDescriptorsShedsCallersWithoutSpinning) {
  SKIP_WITHOUT(testsys::CFacility::DescriptorLimit);
  CTcpRepeater& r = start();
  {
    // The sanitizers need a descriptor to check a type they meet for the
    // first time; let them meet every type of the relay path beforehand.
    auto [client, server] = relayedConnection(r);
    EXPECT_TRUE(echoes(loop, client.get(), server.get(), "before", "the shortage"));
    client = Fd();
    ASSERT_TRUE(pumpUntil(loop, [&] { return r.connectionTable.empty(); }));
  }
  loop.pipePool().dropKept();  // their descriptors would let a caller in
  Fd clients[3];
  for (Fd& c : clients) c = Fd(testsys::openSocket(AF_INET, SOCK_STREAM));
  {
    testsys::CDescriptorShortage exhausted;
    const sockaddr_in sa = loopbackAddress(portOf(r));
    for (Fd& c : clients) ASSERT_EQ(connect(c.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa), 0);
    EXPECT_LT(pumpFor(loop, 300), 20);  // each caller is shed once, then the loop sleeps
    for (Fd& c : clients) EXPECT_TRUE(atEndOfStream(c.get(), 0));
    EXPECT_TRUE(r.connectionTable.empty());
  }
  auto [client, server] = relayedConnection(r);  // and the port serves again
  EXPECT_TRUE(echoes(loop, client.get(), server.get(), "after", "the shortage"));
}

}  // namespace
