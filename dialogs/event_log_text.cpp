#include "dialogs/event_log_text.h"

#include <QDateTime>

#include "dialogs/byte_count.h"
#include "dialogs/log_event.h"
#include "dialogs/socket_error_text.h"
#include "relay/connection_end_words.h"
#include "relay/endpoint_text.h"
#include "resources/event_texts.h"

namespace {

using End = CConnectionRecord::End;

QString endText(const CConnectionRecord& r) {
  // Nothing was connected to: the destination's name had no address.
  if (r.end == End::ConnectFailed && r.connectedAddress.empty()) return QString::fromUtf8(kNameUnresolved).arg(r.error);
  const CConnectionEndWords* words = connectionEndWords(r.end);
  if (!words) return {};
  const QString text = QString::fromUtf8(words->japanese);
  return words->withError ? text + socketErrorText(r.error) : text;
}

// "host:port", an IPv6 address in brackets.
QString hostPortText(const std::string& host, int port) { return QString::fromStdString(endpointText(host, port)); }

QString connectionText(const CLogEvent& event) {
  const CConnectionRecord& r = event.record;
  const QString caller = hostPortText(r.callerAddress, r.callerPort);
  if (r.end == End::RefusedByFilter || r.end == End::RefusedAsLoop) return caller + QLatin1Char(' ') + endText(r);
  const QString destination = event.destination;
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
      return QString::fromUtf8(kListenStarted).arg(event.detail, event.destination);
    case CLogEvent::Kind::ListenStopped: return QString::fromUtf8(kListenStopped);
    case CLogEvent::Kind::CannotListen: return event.detail;
    case CLogEvent::Kind::Connection: return connectionText(event);
  }
  return {};
}

}  // namespace

QString eventLogLine(const CLogEvent& event) {
  const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(event.time.time_since_epoch()).count();
  const QString time = QDateTime::fromMSecsSinceEpoch(ms).toString(QString::fromUtf8(kEventTimeFormat));
  return QString::fromUtf8(kEventLine).arg(time).arg(event.listenPort).arg(eventText(event));
}
