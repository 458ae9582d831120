#include "dialogs/event_log_text.h"

#include <QDateTime>

#include "dialogs/byte_count.h"
#include "dialogs/event_log.h"
#include "dialogs/socket_error_words.h"

namespace {

using End = CConnectionRecord::End;

QString errorText(int error) {
  return QString::fromUtf8("%1 (エラー %2)").arg(QString::fromUtf8(socketErrorWords(error))).arg(error);
}

QString endText(const CConnectionRecord& r) {
  switch (r.end) {
    case End::ClosedByCaller: return QString::fromUtf8("接続元が閉じました");
    case End::ClosedByDestination: return QString::fromUtf8("転送先が閉じました");
    case End::ResetByCaller: return QString::fromUtf8("接続元でエラー: ") + errorText(r.error);
    case End::ResetByDestination: return QString::fromUtf8("転送先でエラー: ") + errorText(r.error);
    case End::ConnectFailed:
      // Nothing was connected to: the destination's name had no address.
      if (r.connectedAddress.empty())
        return QString::fromUtf8("転送先に接続できません: 名前を解決できません (エラー %1)").arg(r.error);
      return QString::fromUtf8("転送先に接続できません: ") + errorText(r.error);
    case End::Stopped: return QString::fromUtf8("ポートの停止で切断しました");
    case End::IdleTimeout: return QString::fromUtf8("無通信タイムアウトで切断しました");
    case End::RefusedByFilter: return QString::fromUtf8("フィルタで拒否しました");
    case End::RefusedAsLoop: return QString::fromUtf8("拒否しました: この中継自身からの接続です");
  }
  return {};
}

QString connectionText(const CLogEvent& event) {
  const CConnectionRecord& r = event.record;
  const QString caller = hostPortText(r.callerAddress, r.callerPort);
  if (r.end == End::RefusedByFilter || r.end == End::RefusedAsLoop) return caller + QLatin1Char(' ') + endText(r);
  const QString destination = event.destination ? *event.destination : QString();
  QString path = caller + QString::fromUtf8(" → ") + destination;
  // The address reached, unless the destination is that address already.
  if (const QString reached = hostPortText(r.connectedAddress, r.connectedPort);
      !r.connectedAddress.empty() && reached != destination)
    path += QStringLiteral(" (%1)").arg(reached);
  const double seconds = std::chrono::duration<double>(r.duration).count();
  return QString::fromUtf8("%1 %2  %3 秒  上り %4 バイト  下り %5 バイト")
      .arg(path, endText(r), QString::number(seconds, 'f', 3), byteCountText(r.bytesUp), byteCountText(r.bytesDown));
}

QString eventText(const CLogEvent& event) {
  switch (event.kind) {
    case CLogEvent::Kind::ListenStarted:
      return QString::fromUtf8("待ち受けを開始しました: %1 → %2")
          .arg(event.detail, event.destination ? *event.destination : QString());
    case CLogEvent::Kind::ListenStopped: return QString::fromUtf8("待ち受けを停止しました");
    case CLogEvent::Kind::CannotListen: return event.detail;
    case CLogEvent::Kind::Connection: return connectionText(event);
  }
  return {};
}

}  // namespace

QString hostPortText(const std::string& host, int port) {
  const QString text = QString::fromStdString(host);
  const bool bareIPv6 = text.contains(QLatin1Char(':')) && !text.startsWith(QLatin1Char('['));
  return (bareIPv6 ? QStringLiteral("[%1]").arg(text) : text) + QStringLiteral(":%1").arg(port);
}

QString eventLogLine(const CLogEvent& event) {
  const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(event.time.time_since_epoch()).count();
  const QString time = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
  return QStringLiteral("%1  TCP:%2  %3").arg(time).arg(event.listenPort).arg(eventText(event));
}
