// Blocking socket helpers for the load generator. Every call is bounded by
// the socket's send/receive time-outs, so no test can hang.
#pragma once

#include "bench_proto.h"

#include <cstddef>
#include <cstdint>

namespace bench {

int64_t nowNs();

// Connects to 127.0.0.1:port (::1:port for the port setIPv6Port named)
// with TCP_NODELAY and `timeoutMs` on every call. Returns -1 (errno set) on
// failure.
int connectLoopback(int port, int timeoutMs);
// Connections to this port go over IPv6 from now on: a relay's IPv6 listener.
void setIPv6Port(int port);

// Whole transfers: false on error, time-out or end of stream.
bool sendAll(int fd, const void* data, size_t len);
bool recvAll(int fd, void* data, size_t len);

// Sends the opening record of a connection.
bool sendHello(int fd, Mode mode, uint64_t length, uint64_t id);

// Asks the server (directly, not through the relay) for the result of the sink
// connection `id`, waiting at most `waitMs` for it to finish.
SinkResult querySink(int serverPort, uint64_t id, int waitMs);

// A connection id no other connection of this run shares.
uint64_t newId();

}  // namespace bench
