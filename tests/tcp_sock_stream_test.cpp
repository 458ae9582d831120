// Streams paired by a repeater, over real sockets on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "relay/pipe_pool.h"
#include "relay/platform/signals.h"
#include "relay/platform/socket.h"
#include "tests/relay_fixture.h"
#include "tests/test_system.h"

using namespace loopback;

namespace {

constexpr size_t kMiB = 1024 * 1024;

// A blocking transfer on its own thread while the test thread pumps the relay.
class Transfer {
 public:
  template <class F>
  explicit Transfer(F work) : thread_([this, work] { ok_ = work(); done_ = true; }) {}
  ~Transfer() { thread_.join(); }
  bool done() const { return done_; }
  bool ok() const { return ok_; }

 private:
  std::atomic<bool> done_{false};
  std::atomic<bool> ok_{false};
  std::thread thread_;
};

// Every end, and what both streams of the table's first pair still held
// when it was heard, just before the pair went.
class CRemainsAtEnd : public CEndLog {
 public:
  void connectionEnded(const CConnectionRecord& record) override {
    CEndLog::connectionEnded(record);
    const CTcpStreamPair& pair = *repeater->connectionTable.at(0);
    remainUp = pair.connectStream->sRemainCount;
    remainDown = pair.acceptStream->sRemainCount;
  }
  CTcpRepeater* repeater = nullptr;
  unsigned remainUp = 0, remainDown = 0;
};

// Each test's one pair of streams, made by a repeater started as the
// product starts one. A pair whose destination is "slow.quillex.test"
// connects only once the test releases the name.
class StreamTest : public RelayFixture {
 protected:
  void SetUp() override {
    RelayFixture::SetUp();
    names.hold("slow.quillex.test");
  }

  CTcpRepeater& startRelay(int kbytes, const std::string& host = "127.0.0.1") {
    CPortSetting s = portSetting(host);
    s.bufferSize = kbytes;
    relay = ends.repeater = &start(s, nullptr, &ends);
    return *relay;
  }
  CTcpStreamPair& pair() { return *relay->connectionTable.at(0); }
  bool pairGone() const { return relay->connectionTable.empty(); }

  // A relay whose pair is connected: the client and the destination's end.
  // A small socketSendBuffer (on both relay sockets) forces partial sends.
  std::pair<Fd, Fd> connectedPair(int kbytes, int socketSendBuffer = 0, int clientReceiveBuffer = 0) {
    auto fds = relayedConnection(startRelay(kbytes), clientReceiveBuffer);
    if (socketSendBuffer)
      for (CTcpSockStream* s : {pair().acceptStream.get(), pair().connectStream.get()})
        setSendBuffer(s->m_hSocket.get(), socketSendBuffer);
    return fds;
  }

  // A client whose ten bytes wait in the outgoing stream, not yet connected.
  Fd clientWithTenBytesWaiting() {
    startRelay(128, "slow.quillex.test");
    Fd client = connectTo(portOf(*relay));
    EXPECT_TRUE(pumpUntil(loop, [&] { return pairs(*relay) == 1; }));
    EXPECT_TRUE(writeAll(client.get(), "0123456789", 10));
    return client;
  }

  void connectOutgoing() {
    EXPECT_TRUE(pumpUntil(loop, [&] { return names.releaseOne("slow.quillex.test", "127.0.0.1"); }));
  }

  // Connects the outgoing stream, waits for the pair to go and returns what
  // the destination received before its end of stream.
  std::string connectAndCollect() {
    connectOutgoing();
    EXPECT_TRUE(pumpUntil(loop, [&] { return pairGone(); }));
    Fd server = acceptOne(destination.get(), 5000);
    std::string got;
    EXPECT_TRUE(readToEnd(server.get(), got, 5000));
    return got;
  }

  CTcpRepeater* relay = nullptr;
  CRemainsAtEnd ends;
};

TEST_F(StreamTest, BulkBothWaysArrivesIntactThroughPartialSendsAndFullBuffers) {
  auto [client, server] = connectedPair(16, 4096);  // a small send buffer forces partial sends
  ASSERT_TRUE(server);
  TraceCapture trace;

  const std::vector<char> up = pattern(8 * kMiB, 1), down = pattern(8 * kMiB, 2);
  std::vector<char> gotUp(up.size()), gotDown(down.size());
  {
    Transfer sendUp([&] { return writeAll(client.get(), up.data(), up.size()); });
    Transfer sendDown([&] { return writeAll(server.get(), down.data(), down.size()); });
    Transfer readUp([&] { return readExact(server.get(), gotUp.data(), gotUp.size(), 60000); });
    Transfer readDown([&] { return readExact(client.get(), gotDown.data(), gotDown.size(), 60000); });
    EXPECT_TRUE(pumpUntil(loop, [&] { return readUp.done() && readDown.done(); }, 60000));
    EXPECT_TRUE(sendUp.ok() && sendDown.ok() && readUp.ok() && readDown.ok());
  }
  EXPECT_TRUE(gotUp == up);
  EXPECT_TRUE(gotDown == down);
  EXPECT_GT(trace.count("SEND BLOCK kind="), 0u);
  EXPECT_GT(trace.count("Error:CTcpSockStream::OnReceive() SendBuffer FULL PairSocket\n"), 0u);
  EXPECT_EQ(pair().connectStream->usedBuffPeak, 16u * 1024);
}

TEST_F(StreamTest, DestinationThatDoesNotReadHoldsTheSenderBackWithoutSpinning) {
  setReceiveBuffer(destination.get(), 4096);
  auto [client, server] = connectedPair(64, 4096);
  ASSERT_TRUE(server);

  const std::vector<char> data = pattern(2 * kMiB, 3);
  std::vector<char> got(data.size());
  Transfer send([&] { return writeAll(client.get(), data.data(), data.size()); });
  CTcpSockStream* out = pair().connectStream.get();
  ASSERT_TRUE(pumpUntil(loop, [&] { return out->sRemainCount == unsigned(out->sendBufferSize); }));
  EXPECT_EQ(out->usedBuffPeak, 64u * 1024);

  // Reading has stopped: the loop sleeps instead of polling the full buffer.
  long cpuBefore = testsys::processCpuMillis();
  int events = pumpFor(loop, 300);
  EXPECT_LT(events, 10);
  EXPECT_LT(testsys::processCpuMillis() - cpuBefore, 60);
  EXPECT_EQ(out->sRemainCount, unsigned(out->sendBufferSize));

  Transfer receive([&] { return readExact(server.get(), got.data(), got.size(), 30000); });
  EXPECT_TRUE(pumpUntil(loop, [&] { return receive.done(); }, 30000));
  EXPECT_TRUE(receive.ok());
  EXPECT_TRUE(got == data);
  EXPECT_LE(out->usedBuffPeak, unsigned(out->sendBufferSize));
}

TEST_F(StreamTest, ClientCloseWithBytesPendingWaitsForTheFlush) {
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  TraceCapture trace;
  Fd client = clientWithTenBytesWaiting();
  client = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return pair().acceptStream->closePending == 1; }));
  EXPECT_EQ(trace.count("■■■■■CTcpSockStream::OnClose() SendRemain=10\n"), 1u);
  EXPECT_TRUE(ends.records.empty());

  EXPECT_EQ(connectAndCollect(), "0123456789");
  ASSERT_EQ(ends.records.size(), 1u);
  EXPECT_EQ(ends.records[0].end, CConnectionRecord::End::ClosedByCaller);
  EXPECT_EQ(trace.count("☆☆☆☆CTcpSockStream::OnSend() Close Pendig End \n"), 1u);
}

TEST_F(StreamTest, SecondCloseWithBytesInBothBuffersClosesThePairAtOnce) {
  setReceiveBuffer(destination.get(), 4096);
  auto [client, server] = connectedPair(4096, 4096, 4096);
  ASSERT_TRUE(server);

  const std::vector<char> data = pattern(2 * kMiB, 4);
  {
    Transfer send([&] { return writeAll(client.get(), data.data(), data.size()) && testsys::shutDownSending(client.get()); });
    ASSERT_TRUE(pumpUntil(loop, [&] { return pair().acceptStream->closePending == 1; }));
  }
  EXPECT_GT(pair().connectStream->sRemainCount, 0u);
  {
    Transfer send([&] { return writeAll(server.get(), data.data(), data.size()) && testsys::shutDownSending(server.get()); });
    ASSERT_TRUE(pumpUntil(loop, [&] { return pairGone(); }));
  }
  ASSERT_EQ(ends.records.size(), 1u);
  EXPECT_EQ(ends.records[0].end, CConnectionRecord::End::ClosedByDestination);
  EXPECT_GT(ends.remainUp, 0u);
  EXPECT_GT(ends.remainDown, 0u);
}

TEST_F(StreamTest, SendOneMebibyteThenCloseDeliversEveryByte) {
  auto [client, server] = connectedPair(128);
  ASSERT_TRUE(server);
  const std::vector<char> data = pattern(kMiB, 5);
  std::string got;
  {
    Transfer send([&] {
      bool ok = writeAll(client.get(), data.data(), data.size());
      client = Fd();
      return ok;
    });
    Transfer receive([&] { return readToEnd(server.get(), got, 30000); });
    EXPECT_TRUE(pumpUntil(loop, [&] { return receive.done(); }, 30000));
    EXPECT_TRUE(receive.ok());
  }
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin(), got.end()));
}

TEST_F(StreamTest, ResetTearsThePairDownThroughNotifyOnError) {
  SKIP_WITHOUT(testsys::CFacility::ResetReadAsReset);
  auto [client, server] = connectedPair(128);
  ASSERT_TRUE(server);
  resetOnClose(client.get());
  client = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return pairGone(); }));
  ASSERT_EQ(ends.records.size(), 1u);
  EXPECT_EQ(ends.records[0].end, CConnectionRecord::End::ResetByCaller);
  EXPECT_EQ(ends.records[0].error, 10054);
  EXPECT_TRUE(atEndOfStream(server.get(), 5000));
}

TEST_F(StreamTest, UrgentDataOnlyTracesAndNormalDataKeepsFlowing) {
  auto [client, server] = connectedPair(128);
  ASSERT_TRUE(server);
  TraceCapture trace;
  ASSERT_TRUE(writeAll(client.get(), "abc", 3));
  ASSERT_TRUE(testsys::sendUrgentByte(client.get(), '!'));
  ASSERT_TRUE(writeAll(client.get(), "def", 3));
  char got[6];
  Transfer receive([&] { return readExact(server.get(), got, sizeof got, 5000); });
  EXPECT_TRUE(pumpUntil(loop, [&] { return receive.done(); }));
  EXPECT_TRUE(receive.ok());
  EXPECT_EQ(std::string(got, 6), "abcdef");
  EXPECT_EQ(trace.count("-----------OnOutOfBandData()\n"), 1u);
  EXPECT_LT(pumpFor(loop, 100), 5);  // the priority event does not repeat
}

// Bytes sent while the outgoing side still connects wait in its buffer.
TEST_F(StreamTest, TraceOfAWholeConnectionLifeWithBytesSentWhileConnecting) {
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  startRelay(128, "slow.quillex.test");
  TraceCapture trace;
  Fd client = connectTo(portOf(*relay));
  ASSERT_TRUE(pumpUntil(loop, [&] { return trace.count("ONSEND START kind = acceptSocket") == 1; }));
  ASSERT_TRUE(writeAll(client.get(), std::string(100, 'u').data(), 100));
  ASSERT_TRUE(pumpUntil(loop, [&] { return pair().connectStream->sRemainCount == 100; }));
  EXPECT_EQ(pair().connectStream->state, CTcpSockStream::STATE_CONNECTING);
  const int callerPort = localPort(client.get());
  connectOutgoing();
  ASSERT_TRUE(pumpUntil(loop, [&] { return pair().connectStream->state == CTcpSockStream::STATE_CONNECTED; }));
  Fd server = acceptOne(destination.get(), 5000);
  ASSERT_TRUE(pumpUntil(loop, [&] { return pair().connectStream->sRemainCount == 0; }));
  char up[100];
  ASSERT_TRUE(readExact(server.get(), up, 100, 5000));
  EXPECT_EQ(std::string(up, 100), std::string(100, 'u'));
  ASSERT_TRUE(writeAll(server.get(), std::string(50, 'd').data(), 50));
  char down[50];
  Transfer receive([&] { return readExact(client.get(), down, 50, 5000); });
  ASSERT_TRUE(pumpUntil(loop, [&] { return receive.done(); }));
  client = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return pairGone(); }));

  EXPECT_EQ(trace.text(),
            "CTcpSockStream::CTcpSockStream() STREAM を生成\n"
            "接続を受け付けました。PeerAddress=127.0.0.1, port=" + std::to_string(callerPort) + "\n"
            "CTcpSockStream::CTcpSockStream() STREAM を生成\n"
            "★★★★★ONSEND START kind = acceptSocket, nErrorCode=0\n"
            "CTcpSockStream::writeSendBuffer2Socket() sRemainCount=0\n"
            "CTcpRepeater::notifyOnAccept()-Connect() WSAEWOULDBLOCK  host=slow.quillex.test, port=" +
                std::to_string(destinationPort) + " \n"
            "CTcpRepeater::notifyOnConnect()\n"
            "★★★★★ONSEND START kind = connectSocket, nErrorCode=0\n"
            "CTcpSockStream::writeSendBuffer2Socket() sRemainCount=100\n"
            "★SEND reqSize=100, sendSize=100\n"
            "●--●SEND BUFFER SendSize=100\n"
            "CTcpSockStream::writeSendBuffer2Socket() sRemainCount=50\n"
            "★SEND reqSize=50, sendSize=50\n"
            "●--●SEND BUFFER SendSize=50\n"
            "CTcpRepeater::notifyOnClose()\n"
            "CTcpSockStream::~CTcpSockStream() STREAM を破棄\n"
            "CTcpSockStream::~CTcpSockStream() STREAM を破棄\n");
  ASSERT_EQ(ends.records.size(), 1u);
  EXPECT_EQ(ends.records[0].end, CConnectionRecord::End::ClosedByCaller);
}

TEST_F(StreamTest, EndOfStreamIsAnOrderlyCloseThatKeepsPendingBytes) {
  SKIP_WITHOUT(testsys::CFacility::TestNameServer);
  TraceCapture trace;
  Fd client = clientWithTenBytesWaiting();
  ASSERT_TRUE(pumpUntil(loop, [&] { return pair().connectStream->sRemainCount == 10; }));
  client = Fd();
  // The end of stream reaches the stream through a receive of 0 bytes.
  ASSERT_TRUE(testsys::waitReadable(pair().acceptStream->m_hSocket.get(), 5000));
  pair().acceptStream->OnReceive(0);
  EXPECT_EQ(trace.count("SIZE ZERO Error:CTcpSockStream::OnReceive() err=0\n"), 1u);
  ASSERT_FALSE(pairGone());
  EXPECT_EQ(pair().acceptStream->closePending, 1);
  EXPECT_EQ(connectAndCollect(), "0123456789");
}

}  // namespace

// Where the system moves bytes socket to pipe to socket, bulk goes through
// pipes, and the buffer size bounds what waits in a pipe as it bounds the
// buffer.
class MovedStreamTest : public StreamTest {
 protected:
  void SetUp() override {
    if (!platform::zeroCopyAvailable()) GTEST_SKIP() << "this system copies every byte";
    StreamTest::SetUp();
  }
  // Pumps until done, noting the most bytes waiting in either direction.
  bool pumpWatching(const std::function<bool()>& done, int timeoutMs = 30000) {
    return pumpUntil(loop, [&] {
      for (CTcpSockStream* s : {pair().acceptStream.get(), pair().connectStream.get()})
        mostWaiting = std::max(mostWaiting, s->sRemainCount);
      return done();
    }, timeoutMs);
  }
  // Small system queues, so the relay's own hold fills.
  void holdBackTheSystemsQueues() {
    for (CTcpSockStream* s : {pair().acceptStream.get(), pair().connectStream.get()})
      setSendBuffer(s->m_hSocket.get(), 4096);
  }
  unsigned mostWaiting = 0;
};

// A destination that stops reading, reads again, and half-closes while the
// caller still sends: every byte arrives in order, and no more than the
// buffer size ever waits.
TEST_F(MovedStreamTest, BytesArriveIntactThroughAPauseAndAHalfCloseWithinTheBufferSize) {
  for (int kbytes : {4, 64}) {
    SCOPED_TRACE(kbytes);
    CPortSetting s = portSetting();
    s.bufferSize = kbytes;
    s.halfClose = 1;
    relay = ends.repeater = &start(s, nullptr, &ends);
    auto [client, server] = relayedConnection(*relay, 4096);
    ASSERT_TRUE(server);
    setReceiveBuffer(server.get(), 4096);
    holdBackTheSystemsQueues();
    const std::vector<char> up = pattern(kMiB / 4, 6), down = pattern(kMiB / 8, 7);
    std::vector<char> gotUp(up.size());
    std::string gotDown;
    Transfer sendUp([&] { return writeAll(client.get(), up.data(), up.size()); });
    CTcpSockStream* out = pair().connectStream.get();
    ASSERT_TRUE(pumpWatching([&] { return out->sRemainCount > 0 && pumpFor(loop, 50) == 0; }));  // held back
    {
      Transfer sendDown([&] { return writeAll(server.get(), down.data(), down.size()) &&
                                     testsys::shutDownSending(server.get()); });
      Transfer readDown([&] { return readToEnd(client.get(), gotDown, 30000); });
      Transfer readUp([&] { return readExact(server.get(), gotUp.data(), gotUp.size(), 30000); });
      EXPECT_TRUE(pumpWatching([&] { return readUp.done() && readDown.done(); }));
      EXPECT_TRUE(sendUp.ok() && sendDown.ok() && readUp.ok() && readDown.ok());
    }
    EXPECT_TRUE(gotUp == up);
    EXPECT_TRUE(std::equal(down.begin(), down.end(), gotDown.begin(), gotDown.end()));
    EXPECT_LE(mostWaiting, unsigned(kbytes) * 1024);
    EXPECT_LE(out->usedBuffPeak, unsigned(kbytes) * 1024);
    EXPECT_GT(out->usedBuffPeak, 0u);
    // Most of it: a receive smaller than both the room and a bulk piece
    // sends the next through the buffer.
    EXPECT_GT(out->pipedBytes, up.size() / 2) << "bulk went through the buffer";
    EXPECT_GT(pair().acceptStream->pipedBytes, down.size() / 2) << "bulk went through the buffer";
    ports.clear();
  }
}

// A destination that resets with bytes still waiting for it: the pipe that
// held them is not used again, so the next connection gets its own bytes only.
TEST_F(MovedStreamTest, APipeLeftWithBytesByAResetNeverServesAgain) {
  SKIP_WITHOUT(testsys::CFacility::ResetReadAsReset);
  CTcpRepeater& r = startRelay(64);
  for (int round = 0; round < 2; ++round) {
    auto [client, server] = relayedConnection(r, 4096);
    ASSERT_TRUE(server);
    if (round == 1) {
      ASSERT_TRUE(writeAll(client.get(), "fresh", 5));
      char got[5];
      Transfer receive([&] { return readExact(server.get(), got, sizeof got, 5000); });
      EXPECT_TRUE(pumpUntil(loop, [&] { return receive.done(); }));
      EXPECT_EQ(std::string(got, 5), "fresh");
      break;
    }
    setReceiveBuffer(server.get(), 4096);
    holdBackTheSystemsQueues();
    const std::vector<char> data = pattern(kMiB, 8);
    Transfer send([&] { return writeAll(client.get(), data.data(), data.size()); });
    ASSERT_TRUE(pumpUntil(loop, [&] { return pair().connectStream->sRemainCount > 0 && pumpFor(loop, 50) == 0; }));
    resetOnClose(server.get());
    server = Fd();
    ASSERT_TRUE(pumpUntil(loop, [&] { return pairGone(); }));
    client = Fd();
  }
}

// The system moves nothing past an urgent byte's mark: bulk on both sides of
// one still arrives whole, the urgent byte left out.
TEST_F(MovedStreamTest, BulkAroundAnUrgentByteArrivesWhole) {
  auto [client, server] = connectedPair(64);
  ASSERT_TRUE(server);
  const std::vector<char> data = pattern(kMiB / 2, 10);
  std::vector<char> got(2 * data.size());
  Transfer send([&] {
    return writeAll(client.get(), data.data(), data.size()) && testsys::sendUrgentByte(client.get(), '!') &&
           writeAll(client.get(), data.data(), data.size());
  });
  Transfer receive([&] { return readExact(server.get(), got.data(), got.size(), 30000); });
  EXPECT_TRUE(pumpUntil(loop, [&] { return receive.done() && send.done(); }));
  EXPECT_TRUE(send.ok() && receive.ok());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), got.begin()) &&
              std::equal(data.begin(), data.end(), got.begin() + std::ptrdiff_t(data.size())));
  EXPECT_GT(pair().connectStream->pipedBytes, data.size() / 2) << "bulk went through the buffer";
}

// With descriptors short, a stream copies through its buffer instead of
// holding a pipe, and the bytes still arrive.
TEST_F(MovedStreamTest, ShortOfDescriptorsAStreamCopiesInstead) {
  SKIP_WITHOUT(testsys::CFacility::DescriptorLimit);
  auto [client, server] = connectedPair(64);
  ASSERT_TRUE(server);
  const std::vector<char> data = pattern(kMiB, 9);
  std::vector<char> got(data.size());
  // Every byte goes during the shortage, but no thread starts or ends in it:
  // the sanitizers need a descriptor to check a type they meet first.
  std::atomic<int> started{0}, finished{0}, phase{0};
  const auto during = [&](const std::function<bool()>& work) {
    ++started;
    while (phase < 1) std::this_thread::yield();
    const bool ok = work();
    ++finished;
    while (phase < 2) std::this_thread::yield();
    return ok;
  };
  Transfer send([&] { return during([&] { return writeAll(client.get(), data.data(), data.size()); }); });
  Transfer receive([&] { return during([&] { return readExact(server.get(), got.data(), got.size(), 30000); }); });
  ASSERT_TRUE(pumpWatching([&] { return started == 2; }));
  {
    const testsys::CDescriptorShortage shortage;
    phase = 1;
    EXPECT_TRUE(pumpWatching([&] { return finished == 2; }));
  }
  phase = 2;
  EXPECT_TRUE(pumpWatching([&] { return receive.done() && send.done(); }));
  EXPECT_TRUE(send.ok() && receive.ok() && got == data);
}

// Pipes kept for the next bulk give their descriptors up to a caller who
// finds none left, rather than the caller being refused.
TEST_F(MovedStreamTest, KeptPipesMakeWayForACallerWhenDescriptorsRunOut) {
  SKIP_WITHOUT(testsys::CFacility::DescriptorLimit);
  CTcpRepeater& r = startRelay(64);
  {
    auto [client, server] = relayedConnection(r);
    const std::vector<char> data = pattern(kMiB / 4, 11);
    std::vector<char> got(data.size());
    Transfer receive([&] { return readExact(server.get(), got.data(), got.size(), 30000); });
    ASSERT_TRUE(writeAll(client.get(), data.data(), data.size()));
    ASSERT_TRUE(pumpUntil(loop, [&] { return receive.done(); }));
  }
  ASSERT_TRUE(pumpUntil(loop, [&] { return pairGone(); }));
  ASSERT_GT(loop.pipePool().kept(), 0u);
  Fd caller = connectTo(portOf(r));  // waits in the listener's queue until the loop runs
  {
    const testsys::CDescriptorShortage shortage;
    EXPECT_TRUE(pumpUntil(loop, [&] { return pairs(r) == 1; }, 5000)) << "the caller was refused";
  }
  EXPECT_TRUE(acceptOne(destination.get(), 5000)) << "its outgoing connection was refused";
}

// Moving bytes into a socket whose reader went raises the broken-pipe
// signal, which no flag can stop as a send's does: a program that has not
// set it aside copies instead of ending.
TEST_F(MovedStreamTest, WhereABrokenPipeWouldEndTheProgramNoPipeIsGiven) {
  testsys::letBrokenPipeEndTheProgram();
  CEventLoop other;
  EXPECT_FALSE(other.pipePool().take(64 * 1024));
  platform::ignoreBrokenPipe();
  CEventLoop another;
  EXPECT_TRUE(another.pipePool().take(64 * 1024));
}
