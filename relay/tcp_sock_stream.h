#pragma once
// One TCP connection of the relay with a send buffer of its own. Bytes that
// arrive on a stream go into its pair's send buffer and out through the pair's
// socket, so each direction holds its bytes in exactly one place. Where the
// system can, nothing waits in the buffer and bytes come in bulk, they go
// through a kernel pipe the pair holds instead (relay/pipe_pool.h), never
// copied into the process; every count and limit means the same for the
// bytes in the pipe.
//
// A stream owns its two buffers. It does not own its parent or its pair, and
// it never destroys itself or its pair: only the parent does.

#include <cstdint>
#include <string>

#include "relay/async_socket.h"
#include "relay/pipe_pool.h"
#include "relay/stream_buffer.h"
#include "relay/tcp_sock_stream_parent.h"
#include "settings/limits.h"

class CTcpSockStream : public CAsyncSocket {
 public:
  enum { STATE_NEW = 0, STATE_CONNECTING = 1, STATE_CONNECTED = 2 };

  explicit CTcpSockStream(CEventLoop& loop);
  ~CTcpSockStream() override;

  void setKind(const std::string& kind) { this->kind = kind; }
  // Closed and done with: writes the destructor's trace now, which the
  // destructor then leaves out, for a stream whose memory goes later.
  void retire();
  bool retired() const { return retired_; }
  // Sets the sizes; the send buffer's memory is taken only while bytes wait
  // in it, and a stream that cannot get it then ends with WSAENOBUFS.
  void setBufferSize(int kbytes);
  int getSendFreeSize() const { return sendBufferSize - int(sRemainCount); }
  void writeSendBuffer(const char* data, int size);
  // The flush. False when a send error was reported to the parent: the pair
  // is gone by then.
  bool writeSendBuffer2Socket();
  // Bytes of this stream still on their way: in its send buffer, in its
  // socket's send queue, or left in its socket while the pair had no room.
  bool bytesWaiting() const { return sRemainCount > 0 || readingPaused_ || unsentBytes() > 0; }
  std::string getBindIp() const { return bindIp; }
  std::string getPeerAddress() const { return peerAddress; }

  int state = STATE_NEW;
  std::string kind;
  int index = 0;
  CTcpSockStreamParent* parent = nullptr;
  CTcpSockStream* pairSocket = nullptr;
  CStreamBuffer recvBuffer;  // scratch space; unused, since receives go to the pair
  int recvBufferSize = 0;
  CStreamBuffer sendBuffer;
  int sendBufferSize = 0;
  unsigned int sRemainCount = 0;
  // Where the waiting bytes begin in sendBuffer: a partial send moves this
  // index, not the bytes.
  unsigned int sendHead = 0;
  unsigned int usedBuffPeak = 0;
  std::string bindIp;
  int bindPort = 0;
  std::string peerAddress;
  int peerPort = 0;
  int closePending = 0;
  // Bytes sent to this stream's peer: the pair's count of one direction.
  uint64_t sentBytes = 0;
  // Of those, the bytes that went through a pipe, never copied.
  uint64_t pipedBytes = 0;
  // When bytes last arrived on this stream or left it (the loop's
  // milliseconds), kept only for a pair with an idle timeout: -1 while not kept.
  int64_t lastActivityMs = -1;
  // A peer's end of stream is passed on to the other peer instead of ending
  // the pair, which then lasts until both directions have ended.
  bool halfClose = false;

  void OnReceive(int nErrorCode) override;
  void OnSend(int nErrorCode) override;
  void OnOutOfBandData(int nErrorCode) override;
  void OnAccept(int nErrorCode) override;
  void OnConnect(int nErrorCode) override;
  void OnClose(int nErrorCode) override;

 private:
  // Reading waits while the pair's buffer is full, so the sender is held back
  // by TCP flow control instead of by a busy loop.
  void pauseReading();
  void resumeReading();
  void relayReceived(int count);
  void noteActivity() {
    if (lastActivityMs >= 0) lastActivityMs = loop().nowMs();
  }
  void relayWithoutBuffer();
  bool receiveThroughPipe(int free);
  void noteSize(int received, int room) { bulk_ = received >= room || received >= kBulkReceive; }
  // The pair's pipe for the next bytes (those in the buffer go first); false
  // when no pipe can be had.
  bool holdPipe();
  void commitToPipe(int size);
  unsigned int inBuffer() const { return sRemainCount - pipeBytes_; }
  void releasePipe();
  void finishReceive(int n);
  // Room for size more bytes at the end of those waiting; null without memory.
  char* sendRoom(int size);
  // Counts size bytes just placed at the end of the send buffer.
  void commitSendBuffer(int size);
  // This stream's peer has ended: once the pair has sent what it holds, the
  // pair's peer hears the end too.
  void passOnEndOfStream();
  void shutdownSending();

  bool readingPaused_ = false;
  bool retired_ = false;
  // Held while bytes of this stream wait in it, and only then; they are the
  // last pipeBytes_ of sRemainCount, behind those in the buffer.
  CPipe pipe_;
  unsigned int pipeBytes_ = 0;
  // Whether the last receive brought bulk (this much, or all the room there
  // was), or none came yet: the next one goes through the pipe. Small
  // messages, a request and its answer, cost less copied: the system copies
  // a small piece into a page of its own to put it in a pipe.
  bool bulk_ = true;
  // The system left readable bytes of this socket where they were (it moves
  // nothing past an urgent byte's mark, which only a copying receive steps
  // over): they are copied from then on.
  bool copyOnly_ = false;
  static constexpr int kBulkReceive = 16 * 1024;
};
