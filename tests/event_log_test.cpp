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

CConnectionRecord record(End end, int error = 0, const char* connected = "") {
  CConnectionRecord r;
  r.callerAddress = "192.0.2.7";
  r.callerPort = 51234;
  r.connectedAddress = connected;
  r.connectedPort = 5432;
  r.duration = std::chrono::milliseconds(12345);
  r.bytesUp = 1024;
  r.bytesDown = 65536;
  r.end = end;
  r.error = error;
  return r;
}

// A connection's line, or (without a record) the start of listening.
CLogEvent event(const CConnectionRecord* r, const char* destination = "db.example:5432") {
  CLogEvent e;
  e.kind = r ? Kind::Connection : Kind::ListenStarted;
  e.listenPort = 8080;
  e.destination = QString::fromUtf8(destination);
  e.detail = QStringLiteral("0.0.0.0:8080");
  if (r) e.record = *r;
  return e;
}

// Only the cases whose words or facts come about differently.
TEST(EventLogTest, EachLineSaysWhenWhichPortAndWhatInJapanese) {
  const std::string tail = "  12.345 秒  上り 1,024 バイト  下り 65,536 バイト";
  const CConnectionRecord refused = record(End::RefusedByFilter), unresolved = record(End::ConnectFailed, 10022),
                          failed = record(End::ConnectFailed, 10061, "198.51.100.4"),
                          closed = record(End::ClosedByCaller, 0, "2001:db8::5"),
                          reset = record(End::ResetByDestination, 10060, "198.51.100.4");
  CConnectionRecord caller6 = record(End::ClosedByDestination, 0, "2001:db8::5");
  caller6.callerAddress = "2001:db8::7";
  const struct {
    CLogEvent event;
    std::string text;
  } cases[] = {
      {event(nullptr), "待ち受けを開始しました: 0.0.0.0:8080 → db.example:5432"},
      {event(&refused), "192.0.2.7:51234 フィルタで拒否しました"},
      {event(&unresolved),
       "192.0.2.7:51234 → db.example:5432 転送先に接続できません: 名前を解決できません (エラー 10022)" + tail},
      {event(&failed), "192.0.2.7:51234 → db.example:5432 (198.51.100.4:5432) 転送先に接続できません: "
                       "接続を拒否されました (エラー 10061)" + tail},
      {event(&closed), "192.0.2.7:51234 → db.example:5432 ([2001:db8::5]:5432) 接続元が閉じました" + tail},
      {event(&caller6, "[2001:db8::5]:5432"),  // reached what was named
       "[2001:db8::7]:51234 → [2001:db8::5]:5432 転送先が閉じました" + tail},
      {event(&reset, "198.51.100.4:5432"),  // reached what was named
       "192.0.2.7:51234 → 198.51.100.4:5432 転送先でエラー: 時間内に応答がありません (エラー 10060)" + tail},
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
    log.addConnection(8080, {}, r);
  }
}

int callerAt(const CEventLog& log, int row) {
  const CLogEvent* event = log.eventAt(row);
  return event ? event->record.callerPort : -1;
}

// Once it holds its most, its first line says how many older ones went.
TEST(EventLogTest, KeepsTheLatestAndTellsALiveViewOncePerFrame) {
  CEventLog log(3);
  addCallers(log, 1, 5);
  EXPECT_EQ(log.rowCount(), 0);  // no view is live: nothing shown yet
  log.setLive(true);
  ASSERT_EQ(log.rowCount(), 4);
  const auto firstLine = [&] { return log.data(log.index(0)).toString(); };
  EXPECT_EQ(firstLine(), QString::fromUtf8("これより前の 2 件は削除されました (最新の 3 件を保持しています)"));
  EXPECT_EQ(callerAt(log, 0), -1);
  EXPECT_EQ(callerAt(log, 1), 3);
  EXPECT_EQ(callerAt(log, 3), 5);

  QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&log, &QAbstractItemModel::rowsRemoved);
  addCallers(log, 6, 2);
  EXPECT_EQ(log.rowCount(), 4);  // until the frame
  ASSERT_TRUE(QTest::qWaitFor([&] { return inserted.count() > 0; }, 5000));
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(removed.count(), 1);
  EXPECT_EQ(callerAt(log, 1), 5);
  EXPECT_EQ(callerAt(log, 3), 7);
  EXPECT_TRUE(firstLine().startsWith(QString::fromUtf8("これより前の 4 件")));

  // Closed, the rows wait; shown again, they catch up at once.
  log.setLive(false);
  addCallers(log, 8, 2);
  EXPECT_EQ(callerAt(log, 1), 5);
  log.setLive(true);
  EXPECT_EQ(callerAt(log, 1), 7);
  log.setLive(false);
  addCallers(log, 10, 20);
  log.setLive(true);
  ASSERT_EQ(log.rowCount(), 4);
  EXPECT_EQ(callerAt(log, 1), 27);
  EXPECT_EQ(callerAt(log, 3), 29);
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
  addCallers(log, 105, 150);  // the oldest 55 lines go, and a line says so
  ASSERT_TRUE(QTest::qWaitFor([&] { return callerAt(log, 1) == 55; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return topCaller() == reading; }, 5000)) << topCaller() << " " << reading;
  EXPECT_LT(bar->value(), bar->maximum());

  lines->selectionModel()->select(log.index(1), QItemSelectionModel::Select);
  lines->selectionModel()->select(log.index(2), QItemSelectionModel::Select);
  QTest::keyClick(lines, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            eventLogLine(*log.eventAt(1)) + QLatin1Char('\n') + eventLogLine(*log.eventAt(2)));

  // A line wider than the window, short ones after it, is read by scrolling
  // sideways, not cut.
  CConnectionRecord wide = record(End::ClosedByCaller);
  wide.callerPort = 1;
  bar->setValue(bar->maximum());
  log.addConnection(8080, QString(300, QLatin1Char('w')), wide);
  addCallers(log, 2, 2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return callerAt(log, log.rowCount() - 1) == 3; }, 5000));
  QScrollBar* across = lines->horizontalScrollBar();
  ASSERT_TRUE(QTest::qWaitFor([&] { return across->maximum() > 0; }, 5000));
  const QModelIndex wideRow = log.index(log.rowCount() - 3);
  EXPECT_LE(lines->fontMetrics().horizontalAdvance(eventLogLine(*log.eventAt(wideRow.row()))),
            lines->visualRect(wideRow).width());
}

}  // namespace
