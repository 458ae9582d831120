#pragma once
// The relay of one port: it listens, asks the filter about each caller,
// connects a second stream to the destination and keeps each pair in a
// connection table until either side ends.
//
// The repeater owns its listening stream, its table, every pair and both
// streams of each pair. It does not own its listener, its filter or its
// event loop, which must outlive it.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "filter/ip_filter.h"
#include "relay/connection_observer.h"
#include "relay/host_resolver.h"
#include "relay/tcp_sock_stream.h"
#include "settings/limits.h"

// One slot of the connection table; owns both streams. A pair removed from
// the table is retired at once (its sockets closed, its timer stopped) and
// destroyed by the loop once the handler on the stack has returned.
struct CTcpStreamPair : CDisposable {
  std::unique_ptr<CTcpSockStream> acceptStream;
  std::unique_ptr<CTcpSockStream> connectStream;
  CHostResolver::RequestId pendingLookup = 0;  // name resolution under way
  uint64_t ownEndpoint = 0;  // the outgoing stream's local end, when it goes to one of the relay's ports
  COwnEndpoints* ownEndpoints = nullptr;  // its record's keeper, the loop's
  CTimer timer;  // the connect timeout, then the idle timeout
  std::chrono::steady_clock::time_point acceptedAt;
  std::string connectAddress;  // the address the outgoing stream connects to

  CTcpStreamPair() = default;
  CTcpStreamPair(const CTcpStreamPair&) = delete;
  CTcpStreamPair& operator=(const CTcpStreamPair&) = delete;
  ~CTcpStreamPair() override;
  void closeBoth();
  // Nothing of the pair can be reached any more: no event, no timer, no
  // caller check.
  void retire();
};

class CTcpRepeaterListener {
 public:
  virtual void notifyConnectionCount(int count) = 0;

 protected:
  ~CTcpRepeaterListener() = default;
};

class CTcpRepeater : public CTcpSockStreamParent {
 public:
  explicit CTcpRepeater(CEventLoop& loop);
  ~CTcpRepeater() override;
  CTcpRepeater(const CTcpRepeater&) = delete;
  CTcpRepeater& operator=(const CTcpRepeater&) = delete;

  void setListener(CTcpRepeaterListener* listener) { this->listener = listener; }
  void setBufferSize(int kbytes) { bufferSize = kbytes; }
  void setListenBind(int on, const std::string& address);
  void setConnectBind(int on, const std::string& address);
  void setIpFilter(CIpFilter* filter) { ipFilter = filter; }
  // Extensions: a peer's end of stream passed on to the other peer; an
  // observer told of every connection as it ends (not owned; null for none).
  void setHalfClose(int on) { halfClose_ = on == 1; }  // only 1 switches it on
  // Without a listen address, one socket takes IPv4 and IPv6 callers (only 1 switches it on).
  void setListenDual(int on) { listenDual_ = on == 1; }
  bool listenDual() const { return listenDual_; }
  void setConnectionObserver(CConnectionObserver* observer) { observer_ = observer; }
  // Timeouts in seconds, 0 for none: a connect (with its name lookup) that
  // has not completed fails with WSAETIMEDOUT as the system's own timeout
  // does; a pair with no byte received or sent either way and none on its
  // way is closed; keepalive probes on both sockets after that much silence
  // (at most what the system takes), and a peer that answers neither those
  // nor the bytes sent to it ends its pair with WSAETIMEDOUT.
  void setTimeouts(int connectSeconds, int idleSeconds, int keepAliveSeconds);
  void start(int listenPort, const std::string& forwardHost, int forwardPort);
  void stop();
  // Also reads the local ends of the pair it returns, which are read only
  // when someone looks at them.
  CTcpStreamPair* getNextConnection(int& position);

  // Whether the last start left a listening socket, and if not, the socket
  // error that stopped it (0 when it listens or was never started).
  bool isListening() const { return listening_; }
  int startError() const { return startError_; }
  // The socket error that kept keepalive off the listener, 0 when none.
  int keepAliveError() const { return keepAliveError_; }

  void notifyOnAccept(int index, std::string kind) override;
  void notifyOnConnect(int index, std::string kind) override;
  void notifyOnClose(int index, std::string kind) override;
  void notifyOnError(int index, std::string kind, int err) override;

  CTcpRepeaterListener* listener = nullptr;
  // Slots are never compacted; an empty slot is null.
  std::vector<std::unique_ptr<CTcpStreamPair>> connectionTable;
  CTcpSockStream listenSocket;
  int listenPort = 0;
  std::string forwardHost;
  int forwardPort = 0;
  int bufferSize = DEFAULT_BUFFER_KBYTES;
  int isListenBind = 0;
  std::string ipListenBind;
  int isConnectBind = 0;
  std::string ipConnectBind;
  CIpFilter* ipFilter = nullptr;

 private:
  int addConnection(std::unique_ptr<CTcpStreamPair> pair);
  void removeConnection(int index);
  void updateConnectionCount();
  CTcpStreamPair* pairAt(int index) const;
  bool acceptCaller(std::unique_ptr<CTcpSockStream>& client, bool& taken);
  // Pairs the caller with an outgoing stream in the table at index.
  void buildPair(std::unique_ptr<CTcpSockStream> client, int& index);
  void connectPair(int index);
  void connectOutgoing(int index, const std::string& address);
  void resolveAndConnect(int index);
  // Traces, reports and removes a pair whose outgoing connection failed.
  void connectFailed(int index, int err);
  void knowPeer(CTcpStreamPair& pair) const;
  // Tells the observer how the pair at index ends, just before it is removed.
  void reportEnd(int index, CConnectionRecord::End end, int err);
  void tellObserver(const CConnectionRecord& record);
  CConnectionRecord endRecord(const CTcpStreamPair& pair, CConnectionRecord::End end, int err) const;
  void reportRefused(const std::string& address, int port, CConnectionRecord::End end);
  void pairTimedOut(int index);
  void startIdleWatch(CTcpStreamPair& pair);
  int64_t nextLookMs(const CTcpStreamPair& pair);
  // Each removes the pair and says so, or leaves it and returns false.
  bool endedAsGone(int index, CTcpStreamPair& pair);
  bool endedAsIdle(int index, CTcpStreamPair& pair);

  CEventLoop& loop_;
  std::unique_ptr<CHostResolver> resolver_;
  CConnectionObserver* observer_ = nullptr;
  bool halfClose_ = false;
  bool listenDual_ = false;
  int connectTimeoutMs_ = 0;
  int idleTimeoutMs_ = 0;
  int keepAliveSeconds_ = 0;
  bool listening_ = false;
  int startError_ = 0;
  int keepAliveError_ = 0;
  std::string listenedAddress_;  // the address listened on since start, empty for every address
};
