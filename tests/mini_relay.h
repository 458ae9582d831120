#pragma once
// A one-pair parent for stream tests: it accepts one caller, pairs it with an
// outgoing stream to the test's destination, and tears the pair down on close
// or error, recording what the streams reported.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "relay/tcp_sock_stream.h"

class CMiniRelay : public CTcpSockStreamParent {
 public:
  CMiniRelay(CEventLoop& loop, uint16_t destinationPort, int kbytes = 128);
  ~CMiniRelay() override;

  bool start();  // listens on 127.0.0.1 with a kernel-chosen port
  uint16_t port() const { return port_; }
  void connectOutgoing();  // connects the outgoing stream of the pair

  void notifyOnAccept(int index, std::string kind) override;
  void notifyOnConnect(int index, std::string kind) override;
  void notifyOnClose(int index, std::string kind) override;
  void notifyOnError(int index, std::string kind, int err) override;

  CTcpSockStream* acceptStream = nullptr;
  CTcpSockStream* connectStream = nullptr;
  bool connectAtAccept = true;
  int socketSendBuffer = 0;  // when set, SO_SNDBUF of both relay sockets
  std::vector<std::string> calls;
  // Runs just before the pair is torn down.
  std::function<void()> beforeTeardown;

 private:
  void closeBoth();

  CEventLoop& loop_;
  CTcpSockStream listenStream_;
  uint16_t destinationPort_;
  uint16_t port_ = 0;
  int kbytes_;
};
