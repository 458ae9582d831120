#pragma once
// An event-driven, non-blocking IPv4 TCP socket: the engine's socket class.
// Notifications arrive from the event loop it was made with, one at a time,
// on the loop's thread. After Close (or destruction) no notification reaches the
// object, not even one already queued for its descriptor.
//
// The object owns its descriptor; it does not own its event loop, which
// must outlive it.


#include <cstdint>
#include <string>

#include "relay/event_loop.h"
#include "relay/platform/net.h"
#include "relay/platform/unique_fd.h"
#include "relay/read_side.h"
#include "relay/winsock_errors.h"
#include "settings/limits.h"

class CAsyncSocket;
namespace ws {
int listen(int handle, int backlog);
}

class CAsyncSocket : private CEventHandler {
 public:
  enum : long { kFdRead = 1, kFdWrite = 2, kFdOob = 4, kFdAccept = 8, kFdConnect = 16, kFdClose = 32 };
  static constexpr long kAllEvents = 63;

  // The open socket object that holds a handle, or null.
  static CAsyncSocket* FromHandle(int handle);

  explicit CAsyncSocket(CEventLoop& loop);
  CAsyncSocket(const CAsyncSocket&) = delete;
  CAsyncSocket& operator=(const CAsyncSocket&) = delete;
  virtual ~CAsyncSocket();

  // Opens and binds. bindAddress must be a dotted IPv4 literal or an IPv6
  // one (bare or in brackets, with or without a scope; the socket then takes
  // IPv6 alone); null means any address, IPv4 unless dualStack asks for one
  // socket that takes IPv4 and IPv6 alike. Anything else (an empty or blank
  // text is no address) fails with WSAEINVAL and leaves the object unopened.
  bool Create(unsigned port = 0, int type = ws::kSockStream, long events = kAllEvents,
              const char* bindAddress = nullptr, bool dualStack = false);
  virtual bool Accept(CAsyncSocket& connected);
  // Accepts one waiting caller and closes it at once, needing no memory: a
  // listener that cannot take its caller must not report it again and again.
  void RefuseOne();
  // host must be a dotted IPv4 literal or, for a destination reachable only
  // so, an IPv6 one; names are resolved by the caller.
  // True: connected at once; false with WSAEWOULDBLOCK: OnConnect follows.
  bool Connect(const std::string& host, unsigned port);
  virtual int Receive(void* buffer, int length, int flags = 0);
  virtual int Send(const void* buffer, int length, int flags = 0);
  // Receive and Send with a pipe in place of the buffer: the bytes move
  // between the socket and the pipe inside the system. Results as theirs.
  int ReceiveToPipe(int pipeWriteEnd, int length);
  int SendFromPipe(int pipeReadEnd, int length);
  virtual void Close();
  // shutdown on the handle; after SD_SEND or SD_BOTH the peer's own end of
  // stream shows as a hang-up, which is then no reset.
  bool ShutDown(int how = ws::kSdSend);
  bool sendingShutDown() const { return sendShut_; }
  // This side shut its sending and read the peer's end: a shutdown has
  // nothing left to end.
  bool bothWaysEnded() const { return sendShut_ && readState_ == ReadState::Ended; }
  bool GetPeerName(std::string& address, unsigned& port);
  bool GetSockName(std::string& address, unsigned& port);
  // The same ends as socket addresses; false when the call fails.
  bool peerSockAddr(sockaddr_storage& out);
  bool localSockAddr(sockaddr_storage& out) const;
  // TCP keepalive as it is set: probes after `idle` seconds of silence, then
  // kProbes more an interval apart; a peer that answers none is gone. The
  // silence is at most what the system takes.
  struct KeepAlive {
    static constexpr int kProbes = 3;
    int idle = 0, interval = 0;  // seconds
    int giveUpMs() const { return (idle + kProbes * interval) * 1000; }
  };
  static KeepAlive keepAliveFor(int idleSeconds);
  // Sets keepalive as keepAliveFor says; false with the socket error when
  // the system refuses it. A listener's accepted sockets inherit it.
  bool SetKeepAlive(int idleSeconds);
  // Whether the peer has answered nothing (neither data sent nor probes)
  // for silenceMs and the last kProbes tries of the system: gone, though
  // bytes in flight keep keepalive itself from probing.
  bool peerGone(int silenceMs) const;
  // Bytes in the socket's send queue not yet acknowledged by the peer.
  int unsentBytes() const;
  CEventLoop& loop() const { return *loop_; }
  // Chooses which of the FD_* notifications are delivered.
  bool AsyncSelect(long events = kAllEvents);

  // The socket's descriptor, owned: get() is ws::kInvalidSocket while the
  // object is not open.
  CUniqueFd m_hSocket;

  // Notifications. Public because a stream finishes its pair's close by
  // calling the pair's OnClose.
  virtual void OnReceive(int nErrorCode);
  virtual void OnSend(int nErrorCode);
  virtual void OnOutOfBandData(int nErrorCode);
  virtual void OnAccept(int nErrorCode);
  virtual void OnConnect(int nErrorCode);
  virtual void OnClose(int nErrorCode);

 private:
  enum class Phase { Unopened, Created, Listening, Connecting, Connected };

  friend int ws::listen(int handle, int backlog);
  void handleEvents(uint32_t events) override;
  int received(long n);
  int sent(long n);
  void handleConnecting(uint32_t events);
  void handleConnected(uint32_t events);
  // Asks decideRead what the readiness means and carries its answer out.
  void deliverReadable(uint32_t events);
  void carryOut(ReadAction action, int code);
  void reportClose(int nErrorCode);
  void select(long events);
  void detachFromLoop();
  bool switchToIPv6();
  void deferInitialSend();
  void rememberPeer(const sockaddr_storage& peer);
  void discardUrgentByte();
  bool registerWithLoop(Phase phase);
  uint32_t wantedInterest() const;
  void updateInterest();
  void attachHandle(int handle);

  CEventLoop* loop_;
  Phase phase_ = Phase::Unopened;
  long selected_ = 0;
  ReadState readState_ = ReadState::Paused;  // nothing selected yet
  bool wantWrite_ = false;      // OnSend is owed once the socket is writable
  bool sendShut_ = false;       // ShutDown ended this side's sending
  bool bound_ = false;          // Create bound it to a given address
  int family_ = AF_INET;        // of the socket held
  bool peerKnown_ = false;      // peer_ holds the remote end, so no getpeername is needed
  union {
    sockaddr_in v4;
    sockaddr_in6 v6;
  } peer_{};
  uint32_t registered_ = 0;     // interest mask the loop holds
  CEventLoop::Registration registration_ = 0;  // 0 when none
  uint64_t lastReceiveBatch_ = 0;
};

// The Winsock calls the engine makes on a handle, with Winsock numbering.
namespace ws {
int setsockopt(int handle, int level, int option, const void* value, int length);
int shutdown(int handle, int how);
}  // namespace ws
