#pragma once
// The relay's own endpoints across every port of the process: the addresses
// and ports it listens on, and its outgoing connections that may reach one
// of them. A caller whose whole connection is such an outgoing one (its
// address and port are the outgoing local end, and the address and port it
// reached are the outgoing destination) is the relay calling itself (a
// port pointed at itself, two ports pointed at each other, through a name
// or through another port) and is refused, so one caller never turns into
// an endless chain of connections. One endpoint alone never decides: the
// kernel gives the same local port to connections with other destinations.
//
// One per loop (CEventLoop::ownEndpoints): every port of the process
// relays on the one loop.

#include <cstdint>
#include <memory>
#include <string>

#include "relay/async_socket.h"

class COwnEndpoints {
 public:
  COwnEndpoints();
  ~COwnEndpoints();
  COwnEndpoints(const COwnEndpoints&) = delete;
  COwnEndpoints& operator=(const COwnEndpoints&) = delete;

  // address: the dotted address a listener is bound to, empty for every address.
  void addListener(const std::string& address, int port);
  void removeListener(const std::string& address, int port);
  bool isListeningPort(int port) const;

  // Records an outgoing socket just connected (or connecting) to
  // destination:port, when one of the listeners could accept it; the record's
  // key, 0 when nothing was recorded.
  uint64_t addOutgoing(CAsyncSocket& socket, const std::string& destination, int port);
  // The connection that made the record is gone. Its caller may have left
  // before the relay accepted its outgoing connection: the record stays until
  // that connection is accepted, a short while at most.
  void releaseOutgoing(uint64_t key);
  // Whether the socket just accepted is one of the recorded connections; a
  // match uses its record up.
  bool isOutgoing(CAsyncSocket& accepted);

 private:
  struct CState;
  std::unique_ptr<CState> state_;
};
