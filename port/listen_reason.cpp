#include "port/listen_reason.h"

#include "dialogs/socket_error_text.h"
#include "relay/endpoint_text.h"
#include "relay/tcp_repeater.h"
#include "resources/port_texts.h"

QString listenEndpoint(const CTcpRepeater& repeater) {
  return QString::fromStdString(listenEndpointText(repeater.isListenBind != 0, repeater.ipListenBind,
                                                   repeater.listenDual(), repeater.listenPort));
}

QString listenReason(const CTcpRepeater& repeater, bool on, const CListenBlock& block) {
  if (!on) return {};
  if (block.noHost) return QString::fromUtf8(kNoHost);
  if (block.loopsToItself) return QString::fromUtf8(kLoopsToItself).arg(block.destination);
  if (block.loopsTo) return QString::fromUtf8(kLoopsToPort).arg(block.loopsTo).arg(block.destination);
  if (repeater.isListening()) return {};
  return QString::fromUtf8(kCannotListen).arg(listenEndpoint(repeater), socketErrorText(repeater.startError()));
}

bool retryMaySucceed(const CTcpRepeater& repeater, const CListenBlock& block) {
  if (block.noHost || block.loopsTo || repeater.isListening()) return false;
  const int error = repeater.startError();
  return error == ws::kWSAEADDRINUSE || error == ws::kWSAEMFILE || error == ws::kWSAENOBUFS;
}
