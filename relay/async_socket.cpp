#include "relay/async_socket.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "relay/ip_text.h"
#include "relay/pipe_pool.h"
#include "relay/platform/errors.h"
#include "relay/platform/socket.h"
#include "relay/platform/unique_fd.h"

namespace {

// Readiness reported whatever the interest: a reset or a hang-up.
constexpr uint32_t kHangUpEvents = ready::kHangUp | ready::kError;
// Interest while reading: data, and the peer's end of stream.
constexpr uint32_t kReadInterest = ready::kReadable | ready::kPeerClosed;

// Descriptor numbers and their limit are the process's, so are the table of
// open socket objects by descriptor and the one spare descriptor freed to
// shed a caller when descriptors run out.
std::vector<CAsyncSocket*> gHandles;
CUniqueFd gSpareFd;

// Whether the registration a handler was called for still stands; read from
// locals only, because the handler may have destroyed the object.
struct Liveness {
  CEventLoop* loop;
  CEventLoop::Registration registration;
  bool alive() const { return loop->isRegistered(registration); }
};

void openSpareFd() {
  if (!gSpareFd) gSpareFd.reset(platform::openSpareDescriptor());
}

// With no descriptor left, a waiting caller stays queued and a level-triggered
// listener would be reported ready forever. Free the spare descriptor, accept
// the caller into it and close it at once.
void shedOneCaller(int listenFd) {
  if (!gSpareFd) return;
  gSpareFd.reset();
  CUniqueFd(platform::acceptCaller(listenFd, nullptr));  // accepted and closed at once
  openSpareFd();
}

// Pipes kept for the next bulk hold descriptors: a caller or its outgoing
// connection that finds none left gets theirs before it is refused.
bool freedKeptPipes(CEventLoop& loop) {
  return platform::isOutOfDescriptors(platform::lastSystemError()) && loop.pipePool().dropKept();
}

// Dotted IPv4 text, or IPv6 text for an IPv6 end. An IPv4 caller of a
// socket that takes both families comes as ::ffff:a.b.c.d, and is the IPv4
// address a.b.c.d everywhere it is shown or judged.
bool endpointText(const sockaddr_storage& sa, std::string& address, unsigned& port) {
  char text[INET6_ADDRSTRLEN];
  const auto* v4 = reinterpret_cast<const sockaddr_in*>(&sa);
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&sa);
  const bool isV6 = sa.ss_family == AF_INET6;
  const bool mapped = isV6 && IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr);
  const void* raw = !isV6   ? static_cast<const void*>(&v4->sin_addr)
                    : mapped ? static_cast<const void*>(&v6->sin6_addr.s6_addr[12])
                             : static_cast<const void*>(&v6->sin6_addr);
  if (!inet_ntop(isV6 && !mapped ? AF_INET6 : AF_INET, raw, text, sizeof text)) return false;
  address = text;
  port = ntohs(isV6 ? v6->sin6_port : v4->sin_port);
  return true;
}

// The socket's end that query (peerAddress or localAddress) names.
bool queryEndpoint(int fd, bool (*query)(int, sockaddr_storage&), sockaddr_storage& out) {
  if (query(fd, out)) return true;
  ws::setLastErrorFromSystem();
  return false;
}

// The destination as a socket address: a dotted IPv4 literal, else an IPv6
// one; the length, or 0 when the text is neither.
socklen_t destinationAddress(const std::string& host, unsigned port, sockaddr_storage& out) {
  out = sockaddr_storage{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
  if (parseDottedIPv4(host.c_str(), v4->sin_addr)) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(uint16_t(port));
    return sizeof *v4;
  }
  if (!parseIPv6Literal(host, *v6)) return 0;
  v6->sin6_port = htons(uint16_t(port));
  return sizeof *v6;
}

bool fail(int wsaError) {
  ws::WSASetLastError(wsaError);
  return false;
}

bool failFromSystem() {
  ws::setLastErrorFromSystem();
  return false;
}

int socketError(int wsaError) {
  ws::WSASetLastError(wsaError);
  return ws::kSocketError;
}

// The looks decideRead asks for; code receives the error a look found,
// which is also left as the last error.
Seen lookForError(int fd, int& code) {
  int err = platform::pendingSocketError(fd);
  if (err == 0) return Seen::NoError;
  code = ws::fromSystemError(err);
  ws::WSASetLastError(code);
  return Seen::Error;
}

Seen peekOne(int fd, int& code) {
  switch (platform::peekOneByte(fd)) {
    case platform::CPeek::Data: return Seen::Data;
    case platform::CPeek::End: return Seen::End;
    case platform::CPeek::Nothing: return Seen::Nothing;
    case platform::CPeek::Failed: break;
  }
  code = ws::setLastErrorFromSystem();
  return Seen::Error;
}

Seen readableNow(int fd) { return platform::readableNow(fd) ? Seen::Data : Seen::Nothing; }

}  // namespace

CAsyncSocket::CAsyncSocket(CEventLoop& loop) : loop_(&loop) {}

CAsyncSocket* CAsyncSocket::FromHandle(int handle) {
  if (handle < 0 || size_t(handle) >= gHandles.size()) return nullptr;
  return gHandles[size_t(handle)];
}

CAsyncSocket::~CAsyncSocket() { CAsyncSocket::Close(); }

void CAsyncSocket::attachHandle(int handle) {
  m_hSocket.reset(handle);
  if (size_t(handle) >= gHandles.size()) gHandles.resize(size_t(handle) + 1, nullptr);
  gHandles[size_t(handle)] = this;
}

namespace {

// The address a socket of Create binds to: an IPv4 or IPv6 literal, or the
// wildcard of the family asked for; false for anything else.
bool bindAddressOf(const char* text, bool dualStack, sockaddr_storage& out, socklen_t& length) {
  out = sockaddr_storage{};
  auto& v4 = reinterpret_cast<sockaddr_in&>(out);
  auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
  if (!text && dualStack) {
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_any;
    length = sizeof v6;
    return true;
  }
  length = sizeof v4;
  v4.sin_family = AF_INET;
  v4.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!text || parseDottedIPv4(text, v4.sin_addr)) return true;
  length = sizeof v6;
  return parseIPv6Literal(text, v6);
}

}  // namespace

bool CAsyncSocket::Create(unsigned port, int type, long events, const char* bindAddress, bool dualStack) {
  // No address means any; an empty or blank one is not an address, and
  // binding it as "any" would open the port wider than asked.
  const bool bindToAddress = bindAddress != nullptr;
  sockaddr_storage sa{};
  socklen_t length = 0;
  if (bool(m_hSocket) || type != ws::kSockStream || port > unsigned(MAX_PORT_NUMBER) ||
      !bindAddressOf(bindAddress, dualStack, sa, length))
    return fail(ws::kWSAEINVAL);

  // Not the object's until it is bound: a failed Create leaves it unopened.
  CUniqueFd fd(platform::openStreamSocket(sa.ss_family));
  if (!fd && freedKeptPipes(*loop_)) fd.reset(platform::openStreamSocket(sa.ss_family));
  if (!fd) return failFromSystem();
  // An IPv6 address takes IPv6 callers alone unless one socket for both was asked.
  if (sa.ss_family == AF_INET6 && !platform::setIPv6Only(fd.get(), !dualStack)) return failFromSystem();
  const int one = 1;
  // Here the option only works when set before bind: it lets a port be
  // listened on again while connections of its last run linger.
  if (port != 0) platform::setReuseAddress(fd.get(), &one, sizeof one);
  // An unbound socket is bound to any address at connect; binding early would
  // pin an ephemeral port per socket and exhaust them under load.
  if (port != 0 || bindToAddress || dualStack) {
    if (port == 0) platform::bindAddressOnly(fd.get());
    if (sa.ss_family == AF_INET6)
      reinterpret_cast<sockaddr_in6&>(sa).sin6_port = htons(uint16_t(port));
    else
      reinterpret_cast<sockaddr_in&>(sa).sin_port = htons(uint16_t(port));
    if (!platform::bindTo(fd.get(), reinterpret_cast<sockaddr*>(&sa), length)) return failFromSystem();
  }
  attachHandle(fd.release());
  select(events);
  phase_ = Phase::Created;
  bound_ = bindToAddress;
  family_ = sa.ss_family;
  return true;
}

// A socket made for IPv4 that is to reach an IPv6 destination is made anew;
// one bound to an address of the other family cannot reach it at all.
bool CAsyncSocket::switchToIPv6() {
  if (family_ == AF_INET6) return true;
  if (bound_) return fail(ws::kWSAEAFNOSUPPORT);
  int fd = platform::openStreamSocket(AF_INET6);
  if (fd < 0) return failFromSystem();
  gHandles[size_t(m_hSocket.get())] = nullptr;
  attachHandle(fd);  // the IPv4 socket is closed as the new one takes its place
  family_ = AF_INET6;
  return true;
}

bool CAsyncSocket::registerWithLoop(Phase phase) {
  phase_ = phase;
  uint32_t interest = wantedInterest();
  registration_ = loop_->add(m_hSocket.get(), interest, this);
  if (registration_ == 0) return fail(ws::fromSystemError(platform::lastSystemError()));
  registered_ = interest;
  return true;
}

bool CAsyncSocket::Accept(CAsyncSocket& connected) {
  sockaddr_storage caller{};
  int fd = platform::acceptCaller(m_hSocket.get(), &caller);
  if (fd < 0 && freedKeptPipes(*loop_)) fd = platform::acceptCaller(m_hSocket.get(), &caller);
  if (fd < 0) {
    const int err = platform::lastSystemError();
    if (platform::isOutOfDescriptors(err)) shedOneCaller(m_hSocket.get());
    ws::WSASetLastError(ws::fromSystemError(err));
    return false;
  }
  connected.Close();
  connected.attachHandle(fd);
  connected.select(selected_);
  connected.rememberPeer(caller);  // accept has told the caller's address already
  // TCP_NODELAY comes from the listener.
  if (!connected.registerWithLoop(Phase::Connected)) {
    int err = ws::WSAGetLastError();
    connected.Close();
    ws::WSASetLastError(err);
    return false;
  }
  connected.deferInitialSend();
  return true;
}

void CAsyncSocket::RefuseOne() { CUniqueFd(platform::acceptCaller(m_hSocket.get(), nullptr)); }

// An accepted socket gets one OnSend, delivered once the batch that accepted
// it is done instead of by watching a socket that is writable anyway.
void CAsyncSocket::deferInitialSend() {
  loop_->defer([this, live = Liveness{loop_, registration_}] {
    if (live.alive() && (selected_ & kFdWrite)) OnSend(0);
  });
}

void CAsyncSocket::rememberPeer(const sockaddr_storage& peer) {
  std::memcpy(&peer_, &peer, std::min(sizeof peer_, sizeof peer));
  peerKnown_ = true;
}

bool CAsyncSocket::Connect(const std::string& host, unsigned port) {
  if (!m_hSocket) return fail(ws::kWSAENOTSOCK);
  sockaddr_storage sa{};
  socklen_t length = destinationAddress(host, port, sa);
  if (port > unsigned(MAX_PORT_NUMBER) || length == 0) return fail(ws::kWSAEINVAL);
  if (sa.ss_family == AF_INET6 && !switchToIPv6()) return false;
  if (sa.ss_family == AF_INET && family_ == AF_INET6) return fail(ws::kWSAEAFNOSUPPORT);

  platform::setNoDelay(m_hSocket.get());
  const platform::CConnectStart started =
      platform::startConnect(m_hSocket.get(), reinterpret_cast<sockaddr*>(&sa), length);
  if (started == platform::CConnectStart::Connected) {
    wantWrite_ = true;  // the connection is established: one OnSend follows
    return registerWithLoop(Phase::Connected);
  }
  if (started == platform::CConnectStart::Failed) return failFromSystem();
  if (!registerWithLoop(Phase::Connecting)) return false;
  return fail(ws::kWSAEWOULDBLOCK);
}

int CAsyncSocket::Receive(void* buffer, int length, int flags) {
  if (!m_hSocket) return socketError(ws::kWSAENOTSOCK);
  lastReceiveBatch_ = loop_->batch();
  if (length <= 0) return 0;
  return received(platform::receiveSome(m_hSocket.get(), buffer, size_t(length), flags));
}

int CAsyncSocket::ReceiveToPipe(int pipeWriteEnd, int length) {
  if (!m_hSocket) return socketError(ws::kWSAENOTSOCK);
  lastReceiveBatch_ = loop_->batch();
  if (length <= 0) return 0;
  return received(platform::moveToPipe(m_hSocket.get(), pipeWriteEnd, size_t(length)));
}

int CAsyncSocket::received(long n) {
  if (n < 0) {
    ws::setLastErrorFromSystem();
    return ws::kSocketError;
  }
  if (n == 0) {
    // End of stream: nothing more will be read. The interest follows once the
    // handler is done, if the socket is still there then.
    ws::WSASetLastError(0);
    readState_ = ReadState::Ended;
  }
  return int(n);
}

int CAsyncSocket::Send(const void* buffer, int length, int flags) {
  if (!m_hSocket) return socketError(ws::kWSAENOTSOCK);
  return sent(platform::sendSome(m_hSocket.get(), buffer, size_t(length), flags));
}

int CAsyncSocket::SendFromPipe(int pipeReadEnd, int length) {
  if (!m_hSocket) return socketError(ws::kWSAENOTSOCK);
  return sent(platform::moveFromPipe(pipeReadEnd, m_hSocket.get(), size_t(length)));
}

int CAsyncSocket::sent(long n) {
  if (n >= 0) return int(n);
  if (ws::setLastErrorFromSystem() == ws::kWSAEWOULDBLOCK) {
    wantWrite_ = true;  // OnSend follows when there is room
    updateInterest();
  }
  return ws::kSocketError;
}

void CAsyncSocket::Close() {
  if (!m_hSocket) return;
  // Closing takes the descriptor out of the epoll set (it is never
  // duplicated): only the registration is dropped.
  if (registration_ != 0) loop_->forget(registration_);
  registration_ = 0;
  registered_ = 0;
  if (size_t(m_hSocket.get()) < gHandles.size()) gHandles[size_t(m_hSocket.get())] = nullptr;
  m_hSocket.reset();
  phase_ = Phase::Unopened;
  selected_ = 0;
  readState_ = ReadState::Paused;
  wantWrite_ = false;
  sendShut_ = false;
  bound_ = false;
  family_ = AF_INET;
  peerKnown_ = false;
}

// Removed before the descriptor closes; also the only way to silence a
// hang-up, which epoll reports whatever the interest.
void CAsyncSocket::detachFromLoop() {
  if (registration_ != 0) loop_->remove(registration_);
  registration_ = 0;
  registered_ = 0;
}

bool CAsyncSocket::ShutDown(int how) {
  if (!m_hSocket) return fail(ws::kWSAENOTSOCK);
  if (how != ws::kSdReceive) sendShut_ = true;
  return ws::shutdown(m_hSocket.get(), how) == 0;
}

// The outputs are left as they were when the call fails.
bool CAsyncSocket::GetPeerName(std::string& address, unsigned& port) {
  sockaddr_storage sa;
  return peerSockAddr(sa) && endpointText(sa, address, port);
}

bool CAsyncSocket::GetSockName(std::string& address, unsigned& port) {
  sockaddr_storage sa;
  return localSockAddr(sa) && endpointText(sa, address, port);
}

bool CAsyncSocket::peerSockAddr(sockaddr_storage& out) {
  if (!bool(m_hSocket) || !peerKnown_) return queryEndpoint(m_hSocket.get(), platform::peerAddress, out);
  out = sockaddr_storage{};
  std::memcpy(&out, &peer_, sizeof peer_);
  return true;
}

bool CAsyncSocket::localSockAddr(sockaddr_storage& out) const {
  return queryEndpoint(m_hSocket.get(), platform::localAddress, out);
}

CAsyncSocket::KeepAlive CAsyncSocket::keepAliveFor(int idleSeconds) {
  KeepAlive k;
  k.idle = std::clamp(idleSeconds, 1, platform::maxKeepAliveIdleSeconds());
  k.interval = std::max(1, k.idle / KeepAlive::kProbes);
  return k;
}

// No user timeout beside it: that would also end a peer that answers but
// does not read, once its window has been closed that long.
bool CAsyncSocket::SetKeepAlive(int idleSeconds) {
  const KeepAlive k = keepAliveFor(idleSeconds);
  return platform::setKeepAlive(m_hSocket.get(), k.idle, k.interval, KeepAlive::kProbes) || failFromSystem();
}

bool CAsyncSocket::peerGone(int silenceMs) const {
  platform::CPeerSilence silence;
  if (!platform::peerSilence(m_hSocket.get(), silence)) return false;
  const bool unanswered = silence.unansweredRetransmits >= unsigned(KeepAlive::kProbes) ||
                          silence.unansweredProbes >= unsigned(KeepAlive::kProbes);
  return unanswered && silence.msSinceLastAck >= unsigned(silenceMs);
}

int CAsyncSocket::unsentBytes() const {
  return m_hSocket ? platform::unsentBytes(m_hSocket.get()) : 0;
}

bool CAsyncSocket::AsyncSelect(long events) {
  if (!m_hSocket) return fail(ws::kWSAENOTSOCK);
  const bool parked = readState_ == ReadState::Parked;
  select(events);
  if (parked && readState_ == ReadState::Reading)
    registerWithLoop(phase_);  // back on the loop to read what was left
  else
    updateInterest();
  return true;
}

void CAsyncSocket::select(long events) {
  selected_ = events;
  readState_ = selectReading(readState_, (events & kFdRead) != 0);
}

uint32_t CAsyncSocket::wantedInterest() const {
  switch (phase_) {
    case Phase::Listening:
      return (selected_ & kFdAccept) ? uint32_t(ready::kReadable) : 0u;
    case Phase::Connecting:
      return ready::kWritable;
    case Phase::Connected: {
      uint32_t interest = 0;
      // Reading paused or the peer done: a half-closed socket would report
      // readable on every wait, so it is not watched for reading at all.
      if (readState_ == ReadState::Reading) interest |= kReadInterest;
      if (readState_ != ReadState::Ended && (selected_ & kFdOob)) interest |= ready::kUrgent;
      if (wantWrite_ && (selected_ & kFdWrite)) interest |= ready::kWritable;
      return interest;
    }
    default:
      return 0;
  }
}

// A parked socket has no registration: AsyncSelect brings it back.
void CAsyncSocket::updateInterest() {
  if (registration_ == 0) return;
  uint32_t interest = wantedInterest();
  if (interest == registered_) return;
  if (loop_->modify(registration_, interest)) registered_ = interest;
}

void CAsyncSocket::handleEvents(uint32_t events) {
  switch (phase_) {
    case Phase::Listening:
      if (selected_ & kFdAccept) OnAccept(0);
      return;
    case Phase::Connecting:
      handleConnecting(events);
      return;
    case Phase::Connected:
      handleConnected(events);
      return;
    default:
      return;
  }
}

void CAsyncSocket::handleConnecting(uint32_t events) {
  if (!(events & (ready::kWritable | kHangUpEvents))) return;
  // Writable without an error or a hang-up means connected.
  int err = (events & kHangUpEvents) ? platform::pendingSocketError(m_hSocket.get()) : 0;
  if (err == 0 && (events & kHangUpEvents)) err = platform::connectionRefusedError();
  if (err != 0) {
    // A failed connect reports hang-up forever: stop watching it.
    detachFromLoop();
    phase_ = Phase::Created;
    int code = ws::fromSystemError(err);
    ws::WSASetLastError(code);
    if (selected_ & kFdConnect) OnConnect(code);
    return;
  }
  Liveness live{loop_, registration_};
  phase_ = Phase::Connected;
  if (selected_ & kFdConnect) OnConnect(0);
  if (!live.alive()) return;
  // The connection is established and writable: its one OnSend is due now.
  wantWrite_ = false;
  if (selected_ & kFdWrite) OnSend(0);
  if (live.alive()) updateInterest();
}

void CAsyncSocket::handleConnected(uint32_t events) {
  Liveness live{loop_, registration_};
  if ((events & ready::kUrgent) && (selected_ & kFdOob)) {
    OnOutOfBandData(0);
    if (!live.alive()) return;
    discardUrgentByte();
  }
  if (events & (kReadInterest | kHangUpEvents)) {
    deliverReadable(events);
    if (!live.alive()) return;
  }
  if ((events & ready::kWritable) && wantWrite_) {
    wantWrite_ = false;
    if (selected_ & kFdWrite) OnSend(0);
    if (!live.alive()) return;
  }
  updateInterest();
}

void CAsyncSocket::discardUrgentByte() {
  platform::discardUrgentByte(m_hSocket.get());
}

void CAsyncSocket::reportClose(int nErrorCode) {
  readState_ = ReadState::Ended;
  if (nErrorCode == 0) {
    // The interest follows in handleConnected, if the socket is still there.
    if (selected_ & kFdClose) OnClose(0);
    return;
  }
  updateInterest();
  // A reset or hang-up is final and reported whatever is selected: the kernel
  // signals it whatever the interest, so a dropped report would wake the loop
  // forever while the connection stayed in its parent's table.
  Liveness live{loop_, registration_};
  OnClose(nErrorCode);
  if (live.alive()) detachFromLoop();
}

void CAsyncSocket::deliverReadable(uint32_t events) {
  const int fd = m_hSocket.get();
  Seen seen = Seen::NotLooked;
  int code = 0;  // the error a look found
  for (;;) {
    ReadAction action = decideRead(readState_, sendShut_, events, seen);
    if (action == ReadAction::LookForError) {
      seen = lookForError(fd, code);
    } else if (action == ReadAction::Peek) {
      seen = peekOne(fd, code);
    } else if (action == ReadAction::LookReadable) {
      // Only a receive earlier in this batch can have made the event stale.
      seen = lastReceiveBatch_ == loop_->batch() ? readableNow(fd) : Seen::Data;
    } else {
      carryOut(action, code);
      return;
    }
  }
}

void CAsyncSocket::carryOut(ReadAction action, int code) {
  switch (action) {
    case ReadAction::Deliver:
      OnReceive(0);
      return;
    case ReadAction::ReportEnd:
      ws::WSASetLastError(0);
      reportClose(0);
      return;
    case ReadAction::ReportEndWhilePaused:
      // Reported though closes are not selected while reading is paused; the
      // interest follows in handleConnected.
      ws::WSASetLastError(0);
      readState_ = ReadState::Ended;
      OnClose(0);
      return;
    case ReadAction::ReportError:
      reportClose(code);
      return;
    case ReadAction::ReportReset:
      reportClose(ws::kWSAECONNRESET);
      return;
    case ReadAction::Park:
      detachFromLoop();
      readState_ = ReadState::Parked;
      return;
    case ReadAction::Detach:
      detachFromLoop();
      return;
    default:
      return;
  }
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}

namespace ws {

int listen(int handle, int backlog) {
  openSpareFd();  // for shedding callers once descriptors run out
  if (!platform::listenOn(handle, backlog)) {
    setLastErrorFromSystem();
    return kSocketError;
  }
  platform::setNoDelay(handle);  // every accepted socket inherits it
  CAsyncSocket* socket = CAsyncSocket::FromHandle(handle);
  if (socket && socket->phase_ == CAsyncSocket::Phase::Created &&
      !socket->registerWithLoop(CAsyncSocket::Phase::Listening))
    return kSocketError;
  return 0;
}

int setsockopt(int handle, int level, int option, const void* value, int length) {
  if (level != kSolSocket || option != kSoReuseAddr) return socketError(kWSAENOPROTOOPT);
  if (!platform::setReuseAddress(handle, value, length)) {
    setLastErrorFromSystem();
    return kSocketError;
  }
  return 0;
}

int shutdown(int handle, int how) {
  if (!platform::shutdownSocket(handle, how)) {
    setLastErrorFromSystem();
    return kSocketError;
  }
  return 0;
}

}  // namespace ws
