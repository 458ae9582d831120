#pragma once
// The relay's own endpoints across every port of the process: the ports it
// listens on, and the local ends of its outgoing connections to one of
// them. A caller whose address and port are such a local end is the relay
// calling itself (a port pointed at itself, two ports pointed at each
// other, through a name or through another port) and is refused, so one
// caller never turns into an endless chain of connections.
//
// One per process; the relay runs on one thread.

#include <cstdint>

#include "relay/async_socket.h"

namespace ownEndpoints {

void addListeningPort(int port);
void removeListeningPort(int port);
bool isListeningPort(int port);

// Records the local end of an outgoing socket just connected (or
// connecting) to one of those ports; the key to forget it by, 0 when
// nothing was recorded.
uint64_t addOutgoing(CAsyncSocket& socket);
void removeOutgoing(uint64_t key);
// Whether the dotted address and port are the local end of one of them.
bool isOutgoing(const char* address, int port);

}  // namespace ownEndpoints
