// The event log: its lines, its bound, its once-a-frame rows, and its window
// as a user reads it while events keep coming.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QListView>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "dialogs/event_log.h"
#include "dialogs/event_log_dlg.h"
#include "dialogs/event_log_text.h"

namespace {

using End = CConnectionRecord::End;
using Kind = CLogEvent::Kind;

const auto kDestination = std::make_shared<const QString>(QStringLiteral("db.example:5432"));

CConnectionRecord record(End end, int error = 0, const char* connected = "") {
  CConnectionRecord r;
  r.callerAddress = "192.0.2.7";
  r.callerPort = 51234;
  r.connectedAddress = connected;
  r.connectedPort = *connected ? 5432 : 0;
  r.duration = std::chrono::milliseconds(12345);
  r.bytesUp = 1024;
  r.bytesDown = 65536;
  r.end = end;
  r.error = error;
  return r;
}

CLogEvent connection(const CConnectionRecord& r, const std::shared_ptr<const QString>& destination = kDestination) {
  CLogEvent event;
  event.listenPort = 8080;
  event.destination = destination;
  event.record = r;
  return event;
}

CLogEvent listening(Kind kind, const char* detail) {
  CLogEvent event;
  event.kind = kind;
  event.listenPort = 8080;
  event.destination = kDestination;
  event.detail = QString::fromUtf8(detail);
  return event;
}

TEST(EventLogTest, EachLineSaysWhenWhichPortAndWhatInJapanese) {
  const std::string tail = "  12.345 秒  上り 1,024 バイト  下り 65,536 バイト";
  const struct {
    CLogEvent event;
    std::string text;
  } cases[] = {
      {listening(Kind::ListenStarted, "0.0.0.0:8080"), "待ち受けを開始しました: 0.0.0.0:8080 → db.example:5432"},
      {listening(Kind::ListenStopped, ""), "待ち受けを停止しました"},
      {listening(Kind::CannotListen, "理由"), "理由"},
      {connection(record(End::RefusedByFilter)), "192.0.2.7:51234 フィルタで拒否しました"},
      {connection(record(End::RefusedAsLoop)), "192.0.2.7:51234 拒否しました: この中継自身からの接続です"},
      {connection(record(End::ConnectFailed, 10022)),
       "192.0.2.7:51234 → db.example:5432 転送先に接続できません: 名前を解決できません (エラー 10022)" + tail},
      {connection(record(End::ConnectFailed, 10061, "198.51.100.4")),
       "192.0.2.7:51234 → db.example:5432 (198.51.100.4:5432) 転送先に接続できません: 接続を拒否されました (エラー 10061)" +
           tail},
      {connection(record(End::ClosedByCaller, 0, "2001:db8::5")),
       "192.0.2.7:51234 → db.example:5432 ([2001:db8::5]:5432) 接続元が閉じました" + tail},
      {connection(record(End::ClosedByDestination, 0, "198.51.100.4"),
                  std::make_shared<const QString>("198.51.100.4:5432")),  // reached what was named
       "192.0.2.7:51234 → 198.51.100.4:5432 転送先が閉じました" + tail},
      {connection(record(End::ResetByCaller, 10054, "198.51.100.4")),
       "192.0.2.7:51234 → db.example:5432 (198.51.100.4:5432) 接続元でエラー: 接続がリセットされました (エラー 10054)" +
           tail},
      {connection(record(End::ResetByDestination, 10060, "198.51.100.4")),
       "192.0.2.7:51234 → db.example:5432 (198.51.100.4:5432) 転送先でエラー: 時間内に応答がありません (エラー 10060)" +
           tail},
      {connection(record(End::IdleTimeout, 0, "198.51.100.4")),
       "192.0.2.7:51234 → db.example:5432 (198.51.100.4:5432) 無通信タイムアウトで切断しました" + tail},
      {connection(record(End::Stopped, 0, "198.51.100.4")),
       "192.0.2.7:51234 → db.example:5432 (198.51.100.4:5432) ポートの停止で切断しました" + tail},
  };
  const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  TCP:8080  "));
  for (const auto& c : cases) {
    const QString line = eventLogLine(c.event);
    const QRegularExpressionMatch head = time.match(line);
    ASSERT_TRUE(head.hasMatch()) << line.toStdString();
    EXPECT_EQ(line.mid(head.capturedLength()).toStdString(), c.text);
  }
}

void addCallers(CEventLog& log, int first, int count) {
  for (int port = first; port < first + count; ++port) {
    CConnectionRecord r = record(End::ClosedByCaller);
    r.callerPort = port;
    log.addConnection(8080, kDestination, r);
  }
}

int callerAt(const CEventLog& log, int row) {
  const CLogEvent* event = log.eventAt(row);
  return event ? event->record.callerPort : -1;
}

TEST(EventLogTest, KeepsTheLatestAndTellsALiveViewOncePerFrame) {
  CEventLog log(3);
  addCallers(log, 1, 5);
  EXPECT_EQ(log.rowCount(), 0);  // no view is live: nothing shown yet
  log.setLive(true);
  ASSERT_EQ(log.rowCount(), 3);
  EXPECT_EQ(callerAt(log, 0), 3);
  EXPECT_EQ(callerAt(log, 2), 5);

  QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&log, &QAbstractItemModel::rowsRemoved);
  addCallers(log, 6, 2);
  EXPECT_EQ(log.rowCount(), 3);  // until the frame
  ASSERT_TRUE(QTest::qWaitFor([&] { return inserted.count() > 0; }, 5000));
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(removed.count(), 1);
  EXPECT_EQ(callerAt(log, 0), 5);
  EXPECT_EQ(callerAt(log, 2), 7);

  // Closed, the rows wait; shown again, they catch up at once.
  log.setLive(false);
  addCallers(log, 8, 2);
  EXPECT_EQ(callerAt(log, 0), 5);
  log.setLive(true);
  EXPECT_EQ(callerAt(log, 0), 7);
  log.setLive(false);
  addCallers(log, 10, 20);
  log.setLive(true);
  ASSERT_EQ(log.rowCount(), 3);
  EXPECT_EQ(callerAt(log, 0), 27);
  EXPECT_EQ(callerAt(log, 2), 29);
}

TEST(EventLogDlgTest, FollowsNewLinesUnlessScrolledUpAndCopiesTheSelection) {
  CEventLog log(200);
  addCallers(log, 0, 100);
  CEventLogDlg dialog(log);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("通信ログ"));
  EXPECT_FALSE(dialog.isModal());
  QListView* lines = dialog.lines();
  QScrollBar* bar = lines->verticalScrollBar();
  const auto topCaller = [&] { return callerAt(log, lines->indexAt(QPoint(1, 1)).row()); };
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());

  addCallers(log, 100, 5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return log.rowCount() == 105; }, 5000));
  EXPECT_EQ(bar->value(), bar->maximum());

  bar->setValue(70);
  const int reading = topCaller();
  addCallers(log, 105, 150);  // the oldest 55 lines go
  ASSERT_TRUE(QTest::qWaitFor([&] { return callerAt(log, 0) == 55; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return topCaller() == reading; }, 5000)) << topCaller() << " " << reading;
  EXPECT_LT(bar->value(), bar->maximum());

  lines->selectionModel()->select(log.index(0), QItemSelectionModel::Select);
  lines->selectionModel()->select(log.index(1), QItemSelectionModel::Select);
  QTest::keyClick(lines, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            eventLogLine(*log.eventAt(0)) + QLatin1Char('\n') + eventLogLine(*log.eventAt(1)));
}

}  // namespace
