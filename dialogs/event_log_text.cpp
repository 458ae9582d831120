#include "dialogs/event_log_text.h"

#include <QDateTime>

#include "dialogs/byte_count.h"
#include "dialogs/event_log.h"
#include "dialogs/socket_error_words.h"
#include "resources/event_texts.h"

namespace {

using End = CConnectionRecord::End;

QString endText(const CConnectionRecord& r) {
  switch (r.end) {
    case End::ClosedByCaller: return QString::fromUtf8(kClosedByCaller);
    case End::ClosedByDestination: return QString::fromUtf8(kClosedByDestination);
    case End::ResetByCaller: return QString::fromUtf8(kResetByCaller) + socketErrorText(r.error);
    case End::ResetByDestination: return QString::fromUtf8(kResetByDestination) + socketErrorText(r.error);
    case End::ConnectFailed:
      // Nothing was connected to: the destination's name had no address.
      if (r.connectedAddress.empty()) return QString::fromUtf8(kNameUnresolved).arg(r.error);
      return QString::fromUtf8(kConnectFailed) + socketErrorText(r.error);
    case End::Stopped: return QString::fromUtf8(kStopped);
    case End::IdleTimeout: return QString::fromUtf8(kIdleTimeout);
    case End::RefusedByFilter: return QString::fromUtf8(kRefusedByFilter);
    case End::RefusedAsLoop: return QString::fromUtf8(kRefusedAsLoop);
  }
  return {};
}

QString connectionText(const CLogEvent& event) {
  const CConnectionRecord& r = event.record;
  const QString caller = hostPortText(r.callerAddress, r.callerPort);
  if (r.end == End::RefusedByFilter || r.end == End::RefusedAsLoop) return caller + QLatin1Char(' ') + endText(r);
  const QString destination = event.destination ? *event.destination : QString();
  QString path = caller + QString::fromUtf8(kPathArrow) + destination;
  // The address reached, unless the destination is that address already.
  if (const QString reached = hostPortText(r.connectedAddress, r.connectedPort);
      !r.connectedAddress.empty() && reached != destination)
    path += QString::fromUtf8(kReachedAddress).arg(reached);
  const double seconds = std::chrono::duration<double>(r.duration).count();
  return QString::fromUtf8(kConnectionLine)
      .arg(path, endText(r), QString::number(seconds, 'f', 3), byteCountText(r.bytesUp), byteCountText(r.bytesDown));
}

QString eventText(const CLogEvent& event) {
  switch (event.kind) {
    case CLogEvent::Kind::ListenStarted:
      return QString::fromUtf8(kListenStarted)
          .arg(event.detail, event.destination ? *event.destination : QString());
    case CLogEvent::Kind::ListenStopped: return QString::fromUtf8(kListenStopped);
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
  const QString time = QDateTime::fromMSecsSinceEpoch(ms).toString(QString::fromUtf8(kEventTimeFormat));
  return QString::fromUtf8(kEventLine).arg(time).arg(event.listenPort).arg(eventText(event));
}
