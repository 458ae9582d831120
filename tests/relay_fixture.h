#pragma once
// A live repeater on 127.0.0.1 relaying to a destination the test owns; names
// are answered by a fake name server, so no test needs the network.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "relay/event_loop.h"
#include "relay/tcp_repeater.h"
#include "tests/fake_name_server.h"
#include "tests/loopback.h"

// Every count a repeater reports, in order.
class CCountLog : public CTcpRepeaterListener {
 public:
  void notifyConnectionCount(int count) override { counts.push_back(count); }
  std::vector<int> counts;
};

// Every connection end a repeater reports, in order.
class CEndLog : public CConnectionObserver {
 public:
  void connectionEnded(const CConnectionRecord& record) override { records.push_back(record); }
  std::vector<CConnectionRecord> records;
};

class RelayFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    CHostResolver::setNameServer("127.0.0.1", names.port());
    destination = loopback::listenAny(destinationPort);
    ASSERT_TRUE(destination);
  }
  void TearDown() override {
    repeaters.clear();
    CHostResolver::setNameServer("", 0);
  }

  // A started repeater listening on 127.0.0.1 with a kernel-chosen port.
  CTcpRepeater& start(const std::string& host, int port, CIpFilter* filter = nullptr, CCountLog* log = nullptr) {
    repeaters.push_back(std::make_unique<CTcpRepeater>(loop));
    CTcpRepeater& r = *repeaters.back();
    r.setListener(log ? log : &counts);
    r.setBufferSize(128);
    r.setListenBind(1, "127.0.0.1");
    r.setConnectBind(0, "");
    r.setIpFilter(filter);
    if (configure) configure(r);
    r.start(0, host, port);
    EXPECT_TRUE(r.isListening());
    return r;
  }
  CTcpRepeater& start(const std::string& host = "127.0.0.1") { return start(host, destinationPort); }

  static uint16_t portOf(CTcpRepeater& r) {
    std::string address;
    unsigned port = 0;
    r.listenSocket.GetSockName(address, port);
    return uint16_t(port);
  }

  static int pairs(CTcpRepeater& r) {
    int n = 0, position = 0;
    while (r.getNextConnection(position)) ++n;
    return n;
  }

  // Connects a client and accepts its relayed connection at the destination.
  std::pair<loopback::Fd, loopback::Fd> relayedConnection(CTcpRepeater& r) {
    size_t heard = counts.counts.size();
    loopback::Fd client = loopback::connectTo(portOf(r));
    EXPECT_TRUE(loopback::pumpUntil(loop, [&] { return counts.counts.size() > heard; }));
    loopback::Fd server = loopback::acceptOne(destination.get(), 5000);
    EXPECT_TRUE(server);
    return {std::move(client), std::move(server)};
  }

  CFakeNameServer names;
  CEventLoop loop;
  loopback::Fd destination;
  uint16_t destinationPort = 0;
  CCountLog counts;
  std::vector<std::unique_ptr<CTcpRepeater>> repeaters;
  std::function<void(CTcpRepeater&)> configure;  // runs before each start
};
