#pragma once
// TCP socket calls whose options, flags or errors differ between systems.
// Every socket is non-blocking and closes on exec. A call that fails leaves
// its error as lastSystemError() (relay/platform/errors.h).

#include <cstddef>

#include "relay/platform/net.h"

namespace platform {

int openStreamSocket(int family);
// Relayed bytes must not wait for an acknowledgement of earlier ones.
void setNoDelay(int fd);
// An IPv6 socket takes IPv6 alone (true) or IPv4 as mapped addresses too.
bool setIPv6Only(int fd, bool only);
bool setReuseAddress(int fd, const void* value, int length);
// An address bound before a connect, without pinning a port at bind.
void bindAddressOnly(int fd);
bool bindTo(int fd, const sockaddr* address, socklen_t length);
bool listenOn(int fd, int backlog);
// A caller's descriptor (its address in `caller` when asked), or -1.
int acceptCaller(int listenFd, sockaddr_storage* caller);
bool isOutOfDescriptors(int systemError);
// A descriptor held back to be freed when descriptors run out.
int openSpareDescriptor();

enum class CConnectStart { Connected, InProgress, Failed };
CConnectStart startConnect(int fd, const sockaddr* address, socklen_t length);
// The error a failed connect or a reset left on the socket (a system
// error), 0 for none; reading it clears it.
int pendingSocketError(int fd);
// The system error of a connect that failed with a hang-up and no error.
int connectionRefusedError();

// Bytes, 0 at the peer's end, or -1 with the error kept. Flags as Winsock
// names them (MSG_OOB 1, MSG_PEEK 2); a send never raises a signal.
long receiveSome(int fd, void* buffer, size_t length, int flags);
long sendSome(int fd, const void* buffer, size_t length, int flags);
enum class CPeek { Data, End, Nothing, Failed };
CPeek peekOneByte(int fd);
// Whether a read would find something now, without waiting.
bool readableNow(int fd);
// Urgent data is not relayed; reading it clears the priority event.
void discardUrgentByte(int fd);
// how: Winsock's SD_RECEIVE, SD_SEND or SD_BOTH.
bool shutdownSocket(int fd, int how);

bool peerAddress(int fd, sockaddr_storage& out);
bool localAddress(int fd, sockaddr_storage& out);

// Probes after idleSeconds of silence, every intervalSeconds, `probes` of them.
bool setKeepAlive(int fd, int idleSeconds, int intervalSeconds, int probes);
// The longest silence before the first probe that the system takes.
int maxKeepAliveIdleSeconds();
// What the connection knows of its peer's answers.
struct CPeerSilence {
  unsigned unansweredRetransmits = 0, unansweredProbes = 0, msSinceLastAck = 0;
};
bool peerSilence(int fd, CPeerSilence& out);
// Bytes sent but not yet acknowledged, or not yet sent, in the system's
// queue: at least as many as wait there, > 0 whenever any may wait; -1 when
// the system cannot tell.
int unsentBytes(int fd);

// Bytes moved between a socket and a pipe inside the system, never copied
// through the process. Where the system has no such call the relay copies.
bool zeroCopyAvailable();
// Bytes moved (at most length), 0 at the socket peer's end, or -1 with the
// error kept; neither call waits, for the socket or the pipe.
long moveToPipe(int socketFd, int pipeWriteEnd, size_t length);
long moveFromPipe(int pipeReadEnd, int socketFd, size_t length);
// The highest descriptor number plus one the process may hold.
int descriptorLimit();

enum class CAddressCheck { Local, NotLocal, Unknown };
// Whether this host has the address (it can be bound), without taking a port.
CAddressCheck checkLocalAddress(const sockaddr* address, socklen_t length);

}  // namespace platform
