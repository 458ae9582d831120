#include "relay/tcp_repeater.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "relay/endpoint_text.h"
#include "relay/ip_text.h"
#include "relay/own_endpoints.h"
#include "relay/trace.h"
#include "settings/limits.h"

namespace {

using End = CConnectionRecord::End;

// Here a full accept queue silently drops new callers' handshakes, which
// then retry only after a second or more; a queue of 5 overflows under a
// burst of ordinary clients. The kernel caps this value at its own limit.
constexpr int kListenBacklog = 4096;

// The local end is read only when someone looks at it: setting up a
// connection then costs no getsockname.
void readLocalEnd(CTcpSockStream& stream) {
  unsigned port = 0;
  if (stream.bindIp.empty() && stream.GetSockName(stream.bindIp, port)) stream.bindPort = int(port);
}

}  // namespace

CTcpStreamPair::~CTcpStreamPair() { retire(); }

void CTcpStreamPair::retire() {
  timer.cancel();
  if (ownEndpoints) ownEndpoints->releaseOutgoing(std::exchange(ownEndpoint, 0));
  closeBoth();
}

// Each stream is shut down, closed and, as far as its trace goes, destroyed
// here; its memory may follow later (see retire). A stream whose both
// directions have ended already is not shut down again: the call would
// only fail, once per stream of every connection.
void CTcpStreamPair::closeBoth() {
  for (std::unique_ptr<CTcpSockStream>* stream : {&acceptStream, &connectStream}) {
    if (!*stream || (*stream)->retired()) continue;
    if (!(*stream)->bothWaysEnded()) ws::shutdown((*stream)->m_hSocket.get(), ws::kSdBoth);
    (*stream)->Close();
    (*stream)->retire();
  }
}

CTcpRepeater::CTcpRepeater(CEventLoop& loop) : listenSocket(loop), loop_(loop) {}

CTcpRepeater::~CTcpRepeater() {
  if (listening_) loop_.ownEndpoints().removeListener(listenedAddress_, listenPort);
  resolver_.reset();
  connectionTable.clear();  // each pair closes both streams and tells nobody
}

void CTcpRepeater::setListenBind(int on, const std::string& address) {
  isListenBind = on;
  ipListenBind = address;
}

void CTcpRepeater::setConnectBind(int on, const std::string& address) {
  isConnectBind = on;
  ipConnectBind = address;
}

void CTcpRepeater::setTimeouts(int connectSeconds, int idleSeconds, int keepAliveSeconds) {
  connectTimeoutMs_ = boundedTimeoutSeconds(connectSeconds) * 1000;
  idleTimeoutMs_ = boundedTimeoutSeconds(idleSeconds) * 1000;
  keepAliveSeconds_ = boundedTimeoutSeconds(keepAliveSeconds);
}

void CTcpRepeater::start(int listenPort, const std::string& forwardHost, int forwardPort) {
  this->listenPort = listenPort;
  this->forwardHost = forwardHost;
  this->forwardPort = forwardPort;
  listening_ = false;
  startError_ = 0;
  const char* bindAddress = isListenBind ? ipListenBind.c_str() : nullptr;
  if (!listenSocket.Create(unsigned(listenPort), ws::kSockStream, CAsyncSocket::kAllEvents, bindAddress,
                           !isListenBind && listenDual_)) {
    startError_ = ws::WSAGetLastError();
    QTRACE("Error:CTcpRepeater::start()-Create() err=%d\n", startError_);
    return;
  }
  int one = 1;
  if (ws::setsockopt(listenSocket.m_hSocket.get(), ws::kSolSocket, ws::kSoReuseAddr, &one, sizeof one) ==
      ws::kSocketError) {
    startError_ = ws::WSAGetLastError();
    QTRACE("Error:CTcpRepeater::start()-SetSockOpt(() err=%d\n", startError_);  // "((" kept
    return;
  }
  listenSocket.parent = this;
  // Every caller inherits it; a refusal is reported, and the port runs without.
  keepAliveError_ = 0;
  if (keepAliveSeconds_ > 0 && !listenSocket.SetKeepAlive(keepAliveSeconds_)) {
    keepAliveError_ = ws::WSAGetLastError();
    QTRACE("Error:CTcpRepeater::start()-SetKeepAlive() err=%d\n", keepAliveError_);
  }
  if (ws::listen(listenSocket.m_hSocket.get(), kListenBacklog) == ws::kSocketError) {
    startError_ = ws::WSAGetLastError();
    QTRACE("Error:CTcpRepeater::start()-Listen() err=%d\n", startError_);
    return;
  }
  listening_ = true;
  listenedAddress_ = isListenBind ? ipListenBind : std::string();
  loop_.ownEndpoints().addListener(listenedAddress_, listenPort);
  QTRACE("CTcpRepeater::start()-Listen() OK! Port=%d\n", listenPort);
}

void CTcpRepeater::stop() {
  // The size is read afresh: the removal of the last pair empties the table.
  for (size_t i = 0; i < connectionTable.size(); ++i) {
    reportEnd(int(i), CConnectionRecord::End::Stopped, 0);
    removeConnection(int(i));
  }
  listenSocket.Close();
  if (listening_) loop_.ownEndpoints().removeListener(listenedAddress_, listenPort);
  listening_ = false;
}

CTcpStreamPair* CTcpRepeater::getNextConnection(int& position) {
  if (position < 0) return nullptr;
  for (size_t slot = size_t(position); slot < connectionTable.size(); ++slot) {
    CTcpStreamPair* pair = connectionTable[slot].get();
    if (!pair) continue;
    position = int(slot) + 1;
    readLocalEnd(*pair->acceptStream);
    if (pair->connectStream->state == CTcpSockStream::STATE_CONNECTED) readLocalEnd(*pair->connectStream);
    return pair;
  }
  position = -1;
  return nullptr;
}

void CTcpRepeater::notifyOnAccept(int, std::string) {
  int index = -1;
  bool taken = false;  // the caller left the queue; its stream closes it
  std::unique_ptr<CTcpSockStream> client;
  try {
    client = std::make_unique<CTcpSockStream>(loop_);
    if (!acceptCaller(client, taken)) return;
    buildPair(std::move(client), index);
    connectPair(index);
  } catch (const std::bad_alloc&) {
    // Out of memory even after the reserve was given up: this caller is
    // closed, and every other connection goes on. A caller still queued
    // is shed, or the listener would report it again at once.
    if (index >= 0)
      connectFailed(index, ws::kWSAENOBUFS);
    else if (!taken && !(client && client->m_hSocket))
      listenSocket.RefuseOne();
  }
}

// Accepts the waiting caller (taken from then on) and asks the filter;
// false, and client destroyed, when refused.
bool CTcpRepeater::acceptCaller(std::unique_ptr<CTcpSockStream>& client, bool& taken) {
  if (!listenSocket.Accept(*client)) return false;
  taken = true;
  std::string address;
  unsigned port = 0;
  client->GetPeerName(address, port);
  // The relay calling itself is refused before the filter is asked.
  const bool loop = loop_.ownEndpoints().isOutgoing(*client);
  if (loop || (ipFilter && ipFilter->checkAddress(address) == 0)) {
    client.reset();  // closes without a shutdown
    QTRACE("★★接続を拒否★★ PeerAddress=%s, port=%d\n", addressText(address).c_str(), int(port));
    reportRefused(address, int(port), loop ? End::RefusedAsLoop : End::RefusedByFilter);
    return false;
  }
  client->peerAddress = address;
  client->peerPort = int(port);
  QTRACE("接続を受け付けました。PeerAddress=%s, port=%d\n", addressText(address).c_str(), int(port));
  return true;
}

// index is set as soon as the pair is in the table, so a failure after
// that removes it.
void CTcpRepeater::buildPair(std::unique_ptr<CTcpSockStream> client, int& index) {
  int kbytes = boundedBufferSize(bufferSize);
  client->parent = this;
  client->setKind("acceptSocket");
  auto outgoing = std::make_unique<CTcpSockStream>(loop_);
  // A failed Create shows as a failed Connect below.
  outgoing->Create(0, ws::kSockStream, CAsyncSocket::kAllEvents, isConnectBind ? ipConnectBind.c_str() : nullptr);
  outgoing->parent = this;
  outgoing->setKind("connectSocket");
  client->pairSocket = outgoing.get();
  outgoing->pairSocket = client.get();
  client->halfClose = outgoing->halfClose = halfClose_;
  auto pair = std::make_unique<CTcpStreamPair>();
  pair->acceptedAt = std::chrono::steady_clock::now();
  pair->acceptStream = std::move(client);
  pair->connectStream = std::move(outgoing);
  CTcpStreamPair& added = *pair;
  index = addConnection(std::move(pair));
  added.acceptStream->index = added.connectStream->index = index;
  added.acceptStream->setBufferSize(kbytes);
  added.connectStream->setBufferSize(kbytes);
  added.timer.callback = [this, index] { pairTimedOut(int(index)); };
  if (connectTimeoutMs_ > 0) loop_.schedule(added.timer, connectTimeoutMs_);
}

void CTcpRepeater::connectPair(int index) {
  if (isDottedIPv4(forwardHost))
    connectOutgoing(index, forwardHost);
  else if (std::string literal = bareIPv6Literal(forwardHost); !literal.empty())
    connectOutgoing(index, literal);
  else
    resolveAndConnect(index);
}

void CTcpRepeater::connectOutgoing(int index, const std::string& address) {
  CTcpStreamPair* pair = pairAt(index);
  pair->connectAddress = address;
  const bool connected = pair->connectStream->Connect(address, unsigned(forwardPort));
  const int err = connected ? 0 : ws::WSAGetLastError();
  // The local end is known once the connect began; the relay may accept it
  // itself only in a later turn of the loop.
  if (loop_.ownEndpoints().isListeningPort(forwardPort)) {
    pair->ownEndpoints = &loop_.ownEndpoints();
    pair->ownEndpoint = pair->ownEndpoints->addOutgoing(*pair->connectStream, address, forwardPort);
  }
  if (keepAliveSeconds_ > 0 && (connected || err == ws::kWSAEWOULDBLOCK) &&
      !pair->connectStream->SetKeepAlive(keepAliveSeconds_))
    QTRACE("Error:CTcpRepeater::notifyOnAccept()-SetKeepAlive() err=%d\n", ws::WSAGetLastError());
  if (connected) {
    // The blank before the line break is kept, as in the next trace.
    QTRACE("CTcpRepeater::notifyOnAccept()-Connect() OK host=%s, port=%d \n", forwardHost.c_str(), forwardPort);
    pair->acceptStream->state = pair->connectStream->state = CTcpSockStream::STATE_CONNECTED;
    knowPeer(*pair);
    startIdleWatch(*pair);
    updateConnectionCount();
    return;
  }
  if (err == ws::kWSAEWOULDBLOCK) {
    // Two blanks before host= kept.
    QTRACE("CTcpRepeater::notifyOnAccept()-Connect() WSAEWOULDBLOCK  host=%s, port=%d \n", forwardHost.c_str(),
           forwardPort);
    pair->acceptStream->state = pair->connectStream->state = CTcpSockStream::STATE_CONNECTING;
    return;
  }
  connectFailed(index, err);
}

// The pair waits in state 1 while the name is looked up; bytes from the
// client collect in the outgoing stream's buffer meanwhile.
void CTcpRepeater::resolveAndConnect(int index) {
  CTcpStreamPair* pair = pairAt(index);
  pair->acceptStream->state = pair->connectStream->state = CTcpSockStream::STATE_CONNECTING;
  if (!resolver_) resolver_ = std::make_unique<CHostResolver>(loop_);
  CHostResolver::RequestId id = resolver_->resolve(forwardHost, [this, index](bool ok, const std::string& address) {
    // A removed pair cancels its lookup, so the slot still holds the pair that asked.
    CTcpStreamPair* asker = pairAt(index);
    if (!asker) return;
    asker->pendingLookup = 0;
    if (ok) {
      connectOutgoing(index, address);
      return;
    }
    ws::WSASetLastError(ws::kWSAEINVAL);
    connectFailed(index, ws::kWSAEINVAL);
  });
  if (id != 0) pairAt(index)->pendingLookup = id;
}

// The destination's end is the address connected to: known without a
// system call or formatting it again.
void CTcpRepeater::knowPeer(CTcpStreamPair& pair) const {
  pair.connectStream->peerAddress = pair.connectAddress;
  pair.connectStream->peerPort = forwardPort;
}

void CTcpRepeater::notifyOnConnect(int index, std::string) {
  QTRACE("CTcpRepeater::notifyOnConnect()\n");
  CTcpStreamPair* pair = pairAt(index);
  if (!pair) return;
  pair->acceptStream->state = pair->connectStream->state = CTcpSockStream::STATE_CONNECTED;
  knowPeer(*pair);
  startIdleWatch(*pair);
  updateConnectionCount();
}

// From now on the pair's timer watches for silence and for a peer gone
// with bytes in flight, which keepalive alone cannot see.
void CTcpRepeater::startIdleWatch(CTcpStreamPair& pair) {
  loop_.cancel(pair.timer);
  if (idleTimeoutMs_ == 0 && keepAliveSeconds_ == 0) return;
  if (idleTimeoutMs_ > 0)
    for (CTcpSockStream* stream : {pair.acceptStream.get(), pair.connectStream.get()})
      stream->lastActivityMs = loop_.nowMs();
  loop_.schedule(pair.timer, nextLookMs(pair));
}

// Bytes move without timer work; the timer looks only when it is due.
void CTcpRepeater::pairTimedOut(int index) {
  CTcpStreamPair* pair = pairAt(index);
  if (!pair) return;
  if (pair->connectStream->state != CTcpSockStream::STATE_CONNECTED) {
    // Ends as the system's own connect timeout does, with its traces.
    ws::WSASetLastError(ws::kWSAETIMEDOUT);
    pair->connectStream->OnConnect(ws::kWSAETIMEDOUT);
    return;
  }
  if (endedAsGone(index, *pair) || endedAsIdle(index, *pair)) return;
  loop_.schedule(pair->timer, nextLookMs(*pair));
}

// Until the idle deadline (after the last bytes received or sent) or the
// next look for a gone peer, whichever comes first.
int64_t CTcpRepeater::nextLookMs(const CTcpStreamPair& pair) {
  int64_t next = INT64_MAX;
  if (keepAliveSeconds_ > 0) {
    // On the interval's grid of the loop's clock: the looks of every pair
    // fall due together, one wake-up for all of them.
    const int64_t period = CAsyncSocket::keepAliveFor(keepAliveSeconds_).interval * 1000;
    next = period - loop_.nowMs() % period;
  }
  if (idleTimeoutMs_ > 0) {
    const int64_t last = std::max(pair.acceptStream->lastActivityMs, pair.connectStream->lastActivityMs);
    next = std::min(next, last + idleTimeoutMs_ - loop_.nowMs());
  }
  return std::max<int64_t>(next, 0);
}

bool CTcpRepeater::endedAsGone(int index, CTcpStreamPair& pair) {
  if (keepAliveSeconds_ == 0) return false;
  const int silenceMs = CAsyncSocket::keepAliveFor(keepAliveSeconds_).giveUpMs();
  for (CTcpSockStream* stream : {pair.acceptStream.get(), pair.connectStream.get()}) {
    if (!stream->peerGone(silenceMs)) continue;
    ws::WSASetLastError(ws::kWSAETIMEDOUT);
    notifyOnError(index, stream->kind, ws::kWSAETIMEDOUT);  // as keepalive itself would end it
    return true;
  }
  return false;
}

bool CTcpRepeater::endedAsIdle(int index, CTcpStreamPair& pair) {
  if (idleTimeoutMs_ == 0) return false;
  const int64_t last = std::max(pair.acceptStream->lastActivityMs, pair.connectStream->lastActivityMs);
  if (loop_.nowMs() < last + idleTimeoutMs_) return false;
  // Bytes still on their way to a slow reader are no silence: the period
  // begins again.
  if (pair.acceptStream->bytesWaiting() || pair.connectStream->bytesWaiting()) {
    pair.acceptStream->lastActivityMs = loop_.nowMs();
    return false;
  }
  QTRACE("CTcpRepeater::pairTimedOut() IDLE TIMEOUT index=%d\n", index);
  reportEnd(index, End::IdleTimeout, 0);
  removeConnection(index);
  return true;
}

void CTcpRepeater::notifyOnClose(int index, std::string kind) {
  QTRACE("CTcpRepeater::notifyOnClose()\n");
  reportEnd(index, kind == "acceptSocket" ? End::ClosedByCaller : End::ClosedByDestination, 0);
  removeConnection(index);
}

void CTcpRepeater::notifyOnError(int index, std::string kind, int err) {
  QTRACE("CTcpRepeater::notifyOnError() index=%d, kind=%s, err=%d\n", index, kind.c_str(), err);
  End end = kind == "acceptSocket" ? End::ResetByCaller : End::ResetByDestination;
  CTcpStreamPair* pair = pairAt(index);
  if (pair && kind != "acceptSocket" && pair->connectStream->state != CTcpSockStream::STATE_CONNECTED)
    end = End::ConnectFailed;
  reportEnd(index, end, err);
  removeConnection(index);
}

void CTcpRepeater::connectFailed(int index, int err) {
  // "CTcpA2AModel", "notifyOnAccept" and "FAILE" are the trace's own words, kept as they stand.
  QTRACE("CTcpA2AModel::notifyOnAccept() CONNECT FAILE! hostname=%s, port=%d err=%d\n", forwardHost.c_str(),
         forwardPort, err);
  reportEnd(index, End::ConnectFailed, err);
  removeConnection(index);
}

void CTcpRepeater::reportEnd(int index, End end, int err) {
  CTcpStreamPair* pair = pairAt(index);
  if (observer_ && pair) tellObserver(endRecord(*pair, end, err));
}

void CTcpRepeater::tellObserver(const CConnectionRecord& record) {
  try {
    observer_->connectionEnded(record);
  } catch (const std::bad_alloc&) {
    // Memory is short: the record is lost, the connection is not.
  }
}

CConnectionRecord CTcpRepeater::endRecord(const CTcpStreamPair& pair, End end, int err) const {
  CConnectionRecord record;
  record.callerAddress = pair.acceptStream->peerAddress;
  record.callerPort = pair.acceptStream->peerPort;
  if (!pair.connectAddress.empty()) {
    record.connectedAddress = pair.connectAddress;
    record.connectedPort = forwardPort;
  }
  record.duration = std::chrono::steady_clock::now() - pair.acceptedAt;
  record.bytesUp = pair.connectStream->sentBytes;
  record.bytesDown = pair.acceptStream->sentBytes;
  record.end = end;
  record.error = err;
  return record;
}

void CTcpRepeater::reportRefused(const std::string& address, int port, End end) {
  if (!observer_) return;
  CConnectionRecord record;
  record.callerAddress = address;
  record.callerPort = port;
  record.end = end;
  tellObserver(record);
}

int CTcpRepeater::addConnection(std::unique_ptr<CTcpStreamPair> pair) {
  auto empty = std::find(connectionTable.begin(), connectionTable.end(), nullptr);
  if (empty != connectionTable.end()) {
    *empty = std::move(pair);
    return int(empty - connectionTable.begin());
  }
  connectionTable.push_back(std::move(pair));
  return int(connectionTable.size()) - 1;
}

void CTcpRepeater::removeConnection(int index) {
  if (CTcpStreamPair* pair = pairAt(index)) {
    if (pair->pendingLookup && resolver_) resolver_->cancel(pair->pendingLookup);
    // Detached and retired now; a frame of one of its streams may still be
    // on the stack, so the loop destroys it once that handler has returned.
    std::unique_ptr<CTcpStreamPair> gone = std::move(connectionTable[size_t(index)]);
    gone->retire();
    loop_.dispose(std::move(gone));
  }
  if (std::all_of(connectionTable.begin(), connectionTable.end(), [](const auto& p) { return !p; }))
    connectionTable.clear();
  updateConnectionCount();
}

void CTcpRepeater::updateConnectionCount() {
  int count = 0;
  for (const auto& pair : connectionTable)
    if (pair && pair->acceptStream->state == CTcpSockStream::STATE_CONNECTED &&
        pair->connectStream->state == CTcpSockStream::STATE_CONNECTED)
      ++count;
  if (listener) listener->notifyConnectionCount(count);
}

CTcpStreamPair* CTcpRepeater::pairAt(int index) const {
  if (index < 0 || size_t(index) >= connectionTable.size()) return nullptr;
  return connectionTable[size_t(index)].get();
}
