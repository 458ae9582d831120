#include "tests/mini_relay.h"

#include <sys/socket.h>

#include "tests/loopback.h"

CMiniRelay::CMiniRelay(CEventLoop& loop, uint16_t destinationPort, int kbytes)
    : loop_(loop), listenStream_(loop), destinationPort_(destinationPort), kbytes_(kbytes) {}

CMiniRelay::~CMiniRelay() { closeBoth(); }

bool CMiniRelay::start() {
  if (!listenStream_.Create(0, ws::WS_SOCK_STREAM, CAsyncSocket::ALL_EVENTS, "127.0.0.1")) return false;
  listenStream_.parent = this;
  if (ws::listen(listenStream_.m_hSocket.get(), 5) != 0) return false;
  std::string address;
  unsigned port = 0;
  listenStream_.GetSockName(address, port);
  port_ = uint16_t(port);
  return true;
}

void CMiniRelay::notifyOnAccept(int, std::string) {
  auto* client = new CTcpSockStream(loop_);
  if (!listenStream_.Accept(*client)) {
    delete client;
    return;
  }
  calls.push_back("accept");
  auto* outgoing = new CTcpSockStream(loop_);
  outgoing->Create();
  for (CTcpSockStream* s : {client, outgoing}) {
    s->parent = this;
    s->setBufferSize(kbytes_);
    s->state = CTcpSockStream::STATE_CONNECTING;
  }
  client->setKind("acceptSocket");
  outgoing->setKind("connectSocket");
  client->pairSocket = outgoing;
  outgoing->pairSocket = client;
  acceptStream = client;
  connectStream = outgoing;
  if (socketSendBuffer) loopback::setSendBuffer(client->m_hSocket.get(), socketSendBuffer);
  if (connectAtAccept) connectOutgoing();
}

void CMiniRelay::connectOutgoing() {
  if (socketSendBuffer) loopback::setSendBuffer(connectStream->m_hSocket.get(), socketSendBuffer);
  if (connectStream->Connect("127.0.0.1", destinationPort_)) {
    acceptStream->state = connectStream->state = CTcpSockStream::STATE_CONNECTED;
  } else if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) {
    calls.push_back("connect failed");
    closeBoth();
  }
}

void CMiniRelay::notifyOnConnect(int, std::string kind) {
  calls.push_back("connect " + kind);
  acceptStream->state = connectStream->state = CTcpSockStream::STATE_CONNECTED;
}

void CMiniRelay::notifyOnClose(int, std::string kind) {
  calls.push_back("close " + kind);
  closeBoth();
}

void CMiniRelay::notifyOnError(int, std::string kind, int err) {
  calls.push_back("error " + kind + " " + std::to_string(err));
  closeBoth();
}

void CMiniRelay::closeBoth() {
  if (beforeTeardown && acceptStream) beforeTeardown();
  for (CTcpSockStream** s : {&acceptStream, &connectStream}) {
    if (!*s) continue;
    ws::shutdown((*s)->m_hSocket.get(), ws::SD_BOTH);
    (*s)->Close();
    delete *s;
    *s = nullptr;
  }
}
