#include "relay/tcp_sock_stream.h"

#include <cstring>
#include <utility>

#include "relay/platform/descriptor.h"
#include "relay/platform/socket.h"
#include "relay/trace.h"

namespace {
// Each buffer is reserved this much beyond its nominal size.
constexpr int kBufferSlack = 1024;
constexpr long kReadEvents = CAsyncSocket::kFdRead | CAsyncSocket::kFdClose;
// One piece of bytes relayed without a buffer.
constexpr int kDirectBytes = 64 * 1024;
}  // namespace

CTcpSockStream::CTcpSockStream(CEventLoop& loop) : CAsyncSocket(loop) { QTRACE("CTcpSockStream::CTcpSockStream() STREAM を生成\n"); }

CTcpSockStream::~CTcpSockStream() { retire(); }

void CTcpSockStream::retire() {
  releasePipe();
  if (std::exchange(retired_, true)) return;
  QTRACE("CTcpSockStream::~CTcpSockStream() STREAM を破棄\n");
}

void CTcpSockStream::setBufferSize(int kbytes) {
  recvBufferSize = kbytes * 1024;
  sendBufferSize = kbytes * 1024;
  // Bytes are received straight into the pair's send buffer, so the scratch
  // buffer is never used and not reserved. The send buffer's memory is taken
  // only while bytes wait in it.
  sendBuffer.setSize(size_t(sendBufferSize) + kBufferSlack, loop());
}

void CTcpSockStream::writeSendBuffer(const char* data, int size) {
  if (size < 0 || size > getSendFreeSize()) return;
  if (pipe_) {  // behind the bytes in the pipe, so the order holds
    if (platform::writeSome(pipe_.writeEnd.get(), data, size_t(size)) == size) commitToPipe(size);
    return;
  }
  char* room = sendRoom(size);
  if (!room) return;  // without memory nothing can be stored
  std::memcpy(room, data, size_t(size));
  commitSendBuffer(size);
}

bool CTcpSockStream::writeSendBuffer2Socket() {
  QTRACE("CTcpSockStream::writeSendBuffer2Socket() sRemainCount=%d\n", int(sRemainCount));
  const unsigned int waiting = sRemainCount;
  int sent = 0;
  while (sRemainCount > 0) {
    // The buffer's bytes came before any in the pipe.
    const unsigned int buffered = inBuffer();
    sent = buffered > 0 ? Send(sendBuffer.get() + sendHead, int(buffered), 0)
                        : SendFromPipe(pipe_.readEnd.get(), int(pipeBytes_));
    QTRACE("★SEND reqSize=%d, sendSize=%d\n", int(sRemainCount), sent);
    if (sent == ws::kSocketError) break;
    QTRACE("●--●SEND BUFFER SendSize=%d\n", sent);
    sentBytes += unsigned(sent);
    sRemainCount -= unsigned(sent);
    if (buffered > 0) {
      sendHead += unsigned(sent);  // the rest stays where it is
    } else {
      pipeBytes_ -= unsigned(sent);
      pipedBytes += unsigned(sent);
    }
  }
  if (sRemainCount < waiting) noteActivity();  // once per flush, not per send
  // Nothing waits in one: its memory or pipe may serve another stream.
  if (inBuffer() == 0) {
    sendHead = 0;
    sendBuffer.giveBack();
  }
  if (pipeBytes_ == 0) releasePipe();
  // Room again: the pair may read what it left waiting in its socket.
  if (pairSocket && pairSocket->readingPaused_ && getSendFreeSize() > 0) pairSocket->resumeReading();
  if (sent != ws::kSocketError) return true;

  int err = ws::WSAGetLastError();
  if (err == ws::kWSAEWOULDBLOCK) {
    // The rest goes out at the next OnSend.
    QTRACE("SEND BLOCK kind=%s, sRemainCount=%d\n", kind.c_str(), int(sRemainCount));
    return true;
  }
  QTRACE("★●▲Error:CTcpSockStream::writeSendBuffer() err=%d\n", err);
  if (parent) parent->notifyOnError(index, kind, err);
  return false;
}

void CTcpSockStream::pauseReading() {
  readingPaused_ = true;
  AsyncSelect(kAllEvents & ~kReadEvents);
}

void CTcpSockStream::resumeReading() {
  readingPaused_ = false;
  AsyncSelect(kAllEvents);
}

// Room for size more bytes after those waiting. The waiting bytes move to
// the front only when a send left them so far in that the room would not
// fit (a receive asks for up to the whole free size): at most once per
// receive, never per partial send.
char* CTcpSockStream::sendRoom(int size) {
  char* buffer = sendBuffer.acquire();
  if (!buffer) return nullptr;
  const unsigned int buffered = inBuffer();
  if (sendHead + buffered + unsigned(size) > unsigned(sendBufferSize) + kBufferSlack) {
    std::memmove(buffer, buffer + sendHead, buffered);
    sendHead = 0;
  }
  return buffer + sendHead + buffered;
}

void CTcpSockStream::commitSendBuffer(int size) {
  sRemainCount += unsigned(size);
  if (sRemainCount > usedBuffPeak) usedBuffPeak = sRemainCount;
}

// The flush that follows stamps the activity (bytes a send left waiting
// count as activity of their own), so a received chunk costs no stamp.
void CTcpSockStream::relayReceived(int count) {
  pairSocket->commitSendBuffer(count);
  if (pairSocket->state == STATE_CONNECTED) pairSocket->writeSendBuffer2Socket();
}

void CTcpSockStream::OnReceive(int nErrorCode) {
  if (nErrorCode != 0) {
    if (parent) parent->notifyOnError(index, kind, nErrorCode);
    QTRACE("Error:CTcpSockStream::OnReceive() nErrorCode=%d, err=%d\n", nErrorCode, ws::WSAGetLastError());
    return;
  }
  if (!pairSocket) {
    QTRACE("Error:CTcpSockStream::OnReceive() NOT PairSocket\n");
    return;
  }
  int free = pairSocket->getSendFreeSize();
  if (free <= 0) {
    QTRACE("Error:CTcpSockStream::OnReceive() SendBuffer FULL PairSocket\n");
    pauseReading();
    return;
  }
  // Bytes waiting in the pipe come first: what follows them goes there too.
  if ((bulk_ || pairSocket->pipe_) && !copyOnly_ && receiveThroughPipe(free)) return;
  // Received straight into the pair's send buffer, where the bytes would be
  // copied anyway: one copy less, and the scratch buffer's pages stay untouched.
  char* room = pairSocket->sendRoom(free);
  if (!room) {
    relayWithoutBuffer();
    return;
  }
  int n = Receive(room, free, 0);
  if (n >= 1) {
    noteSize(n, free);
    relayReceived(n);
    return;
  }
  if (pairSocket->inBuffer() == 0) pairSocket->sendBuffer.giveBack();
  finishReceive(n);
}

bool CTcpSockStream::holdPipe() {
  if (pipe_) return true;
  pipe_ = loop().pipePool().take(size_t(sendBufferSize));
  return bool(pipe_);
}

void CTcpSockStream::commitToPipe(int size) {
  pipeBytes_ += unsigned(size);
  commitSendBuffer(size);
}

// Only an emptied pipe serves again; the bytes of one closed with bytes
// still in it are gone, as those of a buffer would be.
void CTcpSockStream::releasePipe() {
  if (pipe_) loop().pipePool().put(std::move(pipe_), pipeBytes_ == 0);
}

// Bytes move into the pair's pipe, at most what its buffer would take. A
// pipe holds a page per piece the kernel received, so one can be full with
// fewer bytes than that: reading then pauses as on a full buffer.
bool CTcpSockStream::receiveThroughPipe(int free) {
  CTcpSockStream& to = *pairSocket;
  if (!to.holdPipe()) return false;
  const int n = ReceiveToPipe(to.pipe_.writeEnd.get(), free);
  if (n >= 1) {
    noteSize(n, free);
    to.pipeBytes_ += unsigned(n);
    relayReceived(n);
    return true;
  }
  const bool leftWaiting = n == ws::kSocketError && ws::WSAGetLastError() == ws::kWSAEWOULDBLOCK &&
                           platform::readableNow(m_hSocket.get());
  if (leftWaiting && to.pipeBytes_ > 0) {
    pauseReading();  // a full pipe: the pair's next send resumes it
    return true;
  }
  if (to.pipeBytes_ == 0) to.releasePipe();
  if (leftWaiting) {
    copyOnly_ = true;  // an empty pipe the system would not fill
    return false;
  }
  finishReceive(n);
  return true;
}

// A receive that brought no bytes: nothing to read yet, an error, or the end.
void CTcpSockStream::finishReceive(int n) {
  int err = ws::WSAGetLastError();
  if (n == ws::kSocketError) {
    if (err == ws::kWSAEWOULDBLOCK) return;
    QTRACE("Error:CTcpSockStream::OnReceive() err=%d\n", err);
    if (parent) parent->notifyOnError(index, kind, err);
    return;
  }
  // End of stream: an orderly close, so bytes already received from this
  // peer still reach the other side.
  QTRACE("SIZE ZERO Error:CTcpSockStream::OnReceive() err=%d\n", err);
  OnClose(0);
}

// Memory is short and the pair has no buffer (so nothing of this direction
// waits in it): the bytes go straight across. They are peeked, sent as far
// as the pair's socket takes them, and only what went is taken out of this
// socket; the rest stays in the kernel, which holds the sender back as a
// full buffer would, until the pair can take more.
void CTcpSockStream::relayWithoutBuffer() {
  if (pairSocket->state != STATE_CONNECTED) {
    pauseReading();  // the pair's first OnSend resumes it
    return;
  }
  static char scratch[kDirectBytes];
  const int peeked = Receive(scratch, kDirectBytes, MSG_PEEK);
  if (peeked <= 0) {
    finishReceive(peeked);
    return;
  }
  int sent = 0;
  while (sent < peeked) {
    const int n = pairSocket->Send(scratch + sent, peeked - sent, 0);
    if (n == ws::kSocketError) break;
    sent += n;
  }
  QTRACE("CTcpSockStream::OnReceive() NO BUFFER kind=%s, relayed %d of %d bytes directly\n", kind.c_str(), sent,
         peeked);
  const int err = ws::WSAGetLastError();
  if (sent < peeked && err != ws::kWSAEWOULDBLOCK) {
    if (parent) parent->notifyOnError(pairSocket->index, pairSocket->kind, err);
    return;
  }
  pairSocket->sentBytes += unsigned(sent);
  if (sent > 0) {
    noteActivity();
    Receive(scratch, sent, 0);  // exactly the bytes that went
  }
  if (sent < peeked) pauseReading();       // the pair's OnSend resumes it
}

void CTcpSockStream::OnSend(int nErrorCode) {
  QTRACE("★★★★★ONSEND START kind = %s, nErrorCode=%d\n", kind.c_str(), nErrorCode);
  if (nErrorCode != 0) return;
  if (!writeSendBuffer2Socket()) return;
  if (sRemainCount == 0 && pairSocket && pairSocket->closePending == 1) {
    // "Pendig" and the blank before the line break are the trace's own, kept.
    QTRACE("☆☆☆☆CTcpSockStream::OnSend() Close Pendig End \n");
    pairSocket->OnClose(0);
  }
}

void CTcpSockStream::OnClose(int nErrorCode) {
  if (nErrorCode != 0) {
    if (parent) parent->notifyOnError(index, kind, nErrorCode);
    return;
  }
  if (!parent) return;
  if (halfClose) {
    passOnEndOfStream();
    return;
  }
  unsigned int remain = pairSocket ? pairSocket->sRemainCount : 0;
  if (remain == 0 || pairSocket->closePending != 0) {
    parent->notifyOnClose(index, kind);
    return;
  }
  closePending = 1;
  QTRACE("■■■■■CTcpSockStream::OnClose() SendRemain=%ld\n", long(remain));
}

void CTcpSockStream::passOnEndOfStream() {
  // A pair still connecting cannot pass an end on yet; its first OnSend comes back here.
  unsigned int remain = pairSocket ? pairSocket->sRemainCount : 0;
  if (remain > 0 || (pairSocket && pairSocket->state != STATE_CONNECTED)) {
    if (closePending == 0) QTRACE("■■■■■CTcpSockStream::OnClose() SendRemain=%ld\n", long(remain));
    closePending = 1;
    return;
  }
  if (pairSocket) pairSocket->shutdownSending();
  // Both directions have ended once this side's sending was shut down as well.
  if (!pairSocket || sendingShutDown()) parent->notifyOnClose(index, kind);
}

void CTcpSockStream::shutdownSending() {
  if (sendingShutDown()) return;
  QTRACE("CTcpSockStream::shutdownSending() kind=%s\n", kind.c_str());
  ShutDown(ws::kSdSend);
}

void CTcpSockStream::OnAccept(int nErrorCode) {
  if (nErrorCode != 0) {
    QTRACE("Error:CTcpSockStream::OnAccept() err=%d\n", ws::WSAGetLastError());
    return;
  }
  if (parent) parent->notifyOnAccept(index, kind);
}

void CTcpSockStream::OnConnect(int nErrorCode) {
  if (nErrorCode == 0 && parent) {
    parent->notifyOnConnect(index, kind);
    return;
  }
  if (parent) parent->notifyOnError(index, kind, nErrorCode);
  QTRACE("Error:CTcpSockStream::OnConnect() err=%d\n", ws::WSAGetLastError());
}

void CTcpSockStream::OnOutOfBandData(int) { QTRACE("-----------OnOutOfBandData()\n"); }
