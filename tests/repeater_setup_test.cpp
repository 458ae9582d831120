// The one function that starts a port's repeater from its settings record,
// as the window's panels and the headless runner both do.
#include "port/repeater_setup.h"

#include <tuple>

#include "port/port_setting.h"
#include "relay/platform/socket.h"
#include "tests/relay_fixture.h"
#include "tests/test_system.h"

using namespace loopback;

namespace {

using RepeaterSetupTest = RelayFixture;

// The idle seconds before keepalive probes, 0 while keepalive is off.
int keepAliveOf(const CAsyncSocket& socket) {
  const int fd = socket.m_hSocket.get();
  return testsys::intOption(fd, SOL_SOCKET, SO_KEEPALIVE) == 1 ? testsys::keepAliveIdleSeconds(fd) : 0;
}

// One record with every field away from its default reaches the repeater
// whole; a keepalive longer than the system takes is clamped, not dropped. A pair whose destination's name is never answered waits on the
// connect timeout; a connected one, on the idle timeout.
TEST_F(RepeaterSetupTest, EveryFieldOfTheRecordReachesTheRepeater) {
  names.hold("held.quillex.test");
  // What a system lacks (a name the test holds, a keepalive time it says) is not looked at there.
  const bool holdsNames = !testsys::lacking(testsys::CFacility::TestNameServer);
  const bool saysKeepAlive = !testsys::lacking(testsys::CFacility::KeepAliveQuery);
  for (const auto& [host, connects] : {std::pair{"held.quillex.test", false}, std::pair{"127.0.0.1", true}}) {
    SCOPED_TRACE(host);
    if (!connects && !holdsNames) continue;
    CPortSetting s;
    s.act = 1;
    s.port = freePort();
    s.forwardHost = host;
    s.forwardPort = destinationPort;
    s.bufferSize = 7;
    s.isListenBind = 1;
    s.ipListenBind = "127.0.0.1";
    s.isConnectBind = 1;
    s.ipConnectBind = "127.0.0.1";
    s.filter.mode = CIpFilter::FILTER_LOCALHOST;
    s.halfClose = 1;
    s.connectTimeout = 30;
    s.idleTimeout = 60;
    s.keepAlive = connects ? 40000 : 45;  // beyond what the system takes: as much as it takes
    CTcpRepeater r(loop);
    r.setListener(&counts);
    applyPortSetting(r, s);
    ASSERT_TRUE(r.isListening());
    EXPECT_EQ(std::tie(r.listenPort, r.forwardHost, r.forwardPort, r.bufferSize),
              std::tie(s.port, s.forwardHost, s.forwardPort, s.bufferSize));
    EXPECT_EQ(std::tie(r.isListenBind, r.ipListenBind, r.isConnectBind, r.ipConnectBind),
              std::tie(s.isListenBind, s.ipListenBind, s.isConnectBind, s.ipConnectBind));
    EXPECT_EQ(r.ipFilter, &s.filter);
    if (saysKeepAlive) {
      EXPECT_EQ(keepAliveOf(r.listenSocket), connects ? std::min(40000, platform::maxKeepAliveIdleSeconds()) : 45);
    }
    Fd client, server;
    if (connects) {
      std::tie(client, server) = relayedConnection(r);
    } else {
      client = connectTo(uint16_t(s.port));
      ASSERT_TRUE(pumpUntil(loop, [&] { return pairs(r) == 1; }));
    }
    const CTcpStreamPair& pair = *r.connectionTable.at(0);
    EXPECT_TRUE(pair.acceptStream->halfClose && pair.connectStream->halfClose);
    const int timeoutSeconds = connects ? s.idleTimeout : s.connectTimeout;
    EXPECT_NEAR(double(pair.timer.deadlineMs() - loop.nowMs()), timeoutSeconds * 1000.0, 1000.0);
  }
}

}  // namespace
