#include "port/listen_reason.h"

#include "relay/tcp_repeater.h"
#include "relay/winsock_errors.h"

namespace {

// The errors a listener can meet, in the user interface's language.
const char* describeListenError(int error) {
  switch (error) {
    case ws::WSAEACCES: return "ポートを使う権限がありません";
    case ws::WSAEINVAL: return "アドレスまたはポートが無効です";
    case ws::WSAEMFILE: return "開いているファイルが多すぎます";
    case ws::WSAEADDRINUSE: return "アドレスは既に使用されています";
    case ws::WSAEADDRNOTAVAIL: return "このホストのアドレスではありません";
    case ws::WSAENOBUFS: return "メモリが不足しています";
    default: return "ソケットエラー";
  }
}

QString listenAddress(const CTcpRepeater& repeater) {
  return repeater.isListenBind ? QString::fromStdString(repeater.ipListenBind)
                               : QStringLiteral("0.0.0.0");
}

}  // namespace

QString listenReason(const CTcpRepeater& repeater, bool on, bool hasHost) {
  if (!on) return {};
  if (!hasHost) return QString::fromUtf8("待ち受けていません: 転送先ホストが設定されていません");
  if (repeater.isListening()) return {};
  return QString::fromUtf8("%1:%2 で待ち受けできません: %3 (エラー %4)")
      .arg(listenAddress(repeater))
      .arg(repeater.listenPort)
      .arg(QString::fromUtf8(describeListenError(repeater.startError())))
      .arg(repeater.startError());
}
