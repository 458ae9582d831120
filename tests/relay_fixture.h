#pragma once
// Live repeaters on 127.0.0.1 relaying to a destination the test owns, each
// started from a port's settings record as the product starts it; names are
// answered by a fake name server, so no test needs the network.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "port/port_setting.h"
#include "port/repeater_setup.h"
#include "relay/event_loop.h"
#include "relay/pipe_pool.h"
#include "relay/platform/signals.h"
#include "relay/tcp_repeater.h"
#include "tests/fake_name_server.h"
#include "tests/loopback.h"
#include "tests/test_system.h"

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
  // A running port: the record outlives its repeater, which reads the
  // filter through it.
  struct CPort {
    CPort(CEventLoop& loop, const CPortSetting& s) : setting(s), repeater(loop) {}
    CPortSetting setting;
    CTcpRepeater repeater;
  };

  void SetUp() override {
    platform::ignoreBrokenPipe();  // as the programs do, so bytes move as they do there
    testsys::setEnv("QUILLEX_NAME_SERVER", "127.0.0.1:" + std::to_string(names.port()));
    destination = loopback::listenAny(destinationPort);
    ASSERT_TRUE(destination);
  }
  void TearDown() override {
    ports.clear();
    testsys::unsetEnv("QUILLEX_NAME_SERVER");
  }

  // A record that listens on 127.0.0.1 with a kernel-chosen port and relays
  // to host and port (0: the test's destination).
  CPortSetting portSetting(const std::string& host = "127.0.0.1", int port = 0) const {
    CPortSetting s;
    s.act = 1;
    s.forwardHost = host;
    s.forwardPort = port != 0 ? port : destinationPort;
    s.bufferSize = DEFAULT_BUFFER_KBYTES;
    s.isListenBind = 1;
    s.ipListenBind = "127.0.0.1";
    return s;
  }

  // Started as a panel starts its port: listener and observer first, then
  // the record (null listener: the fixture's counts).
  CTcpRepeater& start(const CPortSetting& s, CTcpRepeaterListener* listener = nullptr,
                      CConnectionObserver* observer = nullptr) {
    CPort& port = *ports.emplace_back(std::make_unique<CPort>(loop, s));
    port.repeater.setListener(listener ? listener : &counts);
    port.repeater.setConnectionObserver(observer);
    applyPortSetting(port.repeater, port.setting);
    EXPECT_TRUE(port.repeater.isListening());
    return port.repeater;
  }
  CTcpRepeater& start(const std::string& host = "127.0.0.1", int port = 0) { return start(portSetting(host, port)); }

  // The record a repeater of this fixture runs on.
  CPortSetting& settingOf(const CTcpRepeater& r) {
    for (const auto& port : ports)
      if (&port->repeater == &r) return port->setting;
    ADD_FAILURE() << "not started by the fixture";
    return ports.front()->setting;
  }

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
  std::pair<CUniqueFd, CUniqueFd> relayedConnection(CTcpRepeater& r, int receiveBuffer = 0) {
    size_t heard = counts.counts.size();
    CUniqueFd client = loopback::connectTo(portOf(r), receiveBuffer);
    EXPECT_TRUE(loopback::pumpUntil(loop, [&] { return counts.counts.size() > heard; }));
    CUniqueFd server = loopback::acceptOne(destination.get(), 5000);
    EXPECT_TRUE(server);
    return {std::move(client), std::move(server)};
  }

  CFakeNameServer names;
  CEventLoop loop;
  CUniqueFd destination;
  uint16_t destinationPort = 0;
  CCountLog counts;
  std::vector<std::unique_ptr<CPort>> ports;
};
