#include "port/repeater_setup.h"

#include "port/port_setting.h"
#include "relay/tcp_repeater.h"

void applyPortSetting(CTcpRepeater& repeater, CPortSetting& s) {
  repeater.setBufferSize(s.bufferSize);
  repeater.setListenBind(s.isListenBind, s.ipListenBind);
  repeater.setConnectBind(s.isConnectBind, s.ipConnectBind);
  repeater.setIpFilter(&s.filter);
  repeater.setHalfClose(s.halfClose);
  repeater.setListenDual(s.listenDual);
  repeater.setTimeouts(s.connectTimeout, s.idleTimeout, s.keepAlive);
  repeater.start(s.port, s.forwardHost, s.forwardPort);
}
