#include "port/listen_reason.h"

#include "dialogs/socket_error_words.h"
#include "relay/tcp_repeater.h"

QString listenEndpoint(const CTcpRepeater& repeater) {
  const QString address = repeater.isListenBind ? QString::fromStdString(repeater.ipListenBind)
                                                : QStringLiteral("0.0.0.0");
  return QStringLiteral("%1:%2").arg(address).arg(repeater.listenPort);
}

QString listenReason(const CTcpRepeater& repeater, bool on, const CListenBlock& block) {
  if (!on) return {};
  if (block.noHost) return QString::fromUtf8("待ち受けていません: 転送先ホストが設定されていません");
  if (block.loopsToItself)
    return QString::fromUtf8("転送先がこのポート自身です (%1): 中継がループするため待ち受けません").arg(block.destination);
  if (block.loopsTo)
    return QString::fromUtf8("転送先が TCP:%1 の待ち受けです (%2): 中継がループするため待ち受けません")
        .arg(block.loopsTo)
        .arg(block.destination);
  if (repeater.isListening()) return {};
  // The number stays with its word where a message box wraps the line.
  return QString::fromUtf8("%1 で待ち受けできません: %2 (エラー\u00a0%3)")
      .arg(listenEndpoint(repeater))
      .arg(QString::fromUtf8(socketErrorWords(repeater.startError())))
      .arg(repeater.startError());
}
