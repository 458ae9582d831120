// The connection status dialog over a live repeater on 127.0.0.1: the test
// owns the clients and the destination, opens the dialog modally and reads
// what it shows.
#include <sys/socket.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <tuple>

#include "dialogs/status_dlg.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/gui_test_util.h"
#include "tests/relay_fixture.h"

using namespace loopback;

namespace {

class StatusDlgTest : public RelayFixture {
 protected:
  void startOn(const std::string& host, int port = 0) {
    repeater = &start(host, port);
    listenPort = portOf(*repeater);
  }
  std::pair<Fd, Fd> relayedConnection() { return RelayFixture::relayedConnection(*repeater); }

  // Relays until the destination has read size bytes.
  bool receive(int fd, size_t size) {
    std::string got;
    return pumpUntil(loop, [&] {
      char buffer[256];
      ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) got.append(buffer, size_t(n));
      return got.size() >= size;
    });
  }

  // Opens the dialog modally, lets inspect look at it while it is shown,
  // then closes it with "閉じる"; returns the dialog's result.
  int openStatus(CTcpRepeater* shown, const std::function<void(CStatusDlg&, QTableWidget&)>& inspect) {
    CStatusDlg dialog;
    dialog.repeater = shown;
    int result = -1;
    const CModalRecord record = handleModal([&] { result = dialog.exec(); }, [&](QWidget*) {
      inspect(dialog, *control<QTableWidget>(&dialog, IDC_CONNECTION_LIST));
      click(control<QPushButton>(&dialog, IDOK));
    });
    EXPECT_TRUE(record.seen);
    EXPECT_EQ(record.title, QString::fromUtf8("接続状況"));
    return result;
  }

  CTcpRepeater* repeater = nullptr;
  int listenPort = 0;
};

QString cell(const QTableWidget& table, int row, int column) {
  const QTableWidgetItem* item = table.item(row, column);
  return item ? item->text() : QStringLiteral("<none>");
}

QStringList rowOf(const QTableWidget& table, int row) {
  QStringList cells;
  for (int column = 0; column < table.columnCount(); ++column) cells << cell(table, row, column);
  return cells;
}

void clickCell(QTableWidget& table, int row, int column) {
  const QRect rect = table.visualItemRect(table.item(row, column));
  QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

void expectRow(const QTableWidget& table, int row, const QStringList& expected) {
  SCOPED_TRACE(row);
  EXPECT_EQ(rowOf(table, row).join(QLatin1Char('|')).toStdString(),
            expected.join(QLatin1Char('|')).toStdString());
}

TEST_F(StatusDlgTest, RowsFollowTheTableOrderWithEndpointsAndPeaksStayAsOpenedAndSelectWhole) {
  startOn("127.0.0.1");
  auto [c0, s0] = relayedConnection();
  auto [c1, s1] = relayedConnection();
  auto [c2, s2] = relayedConnection();
  const std::string hello(1234, 'h');
  ASSERT_TRUE(writeAll(c0.get(), hello.data(), hello.size()));
  ASSERT_TRUE(receive(s0.get(), hello.size()));
  c1 = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return repeater->connectionTable[1] == nullptr; }));

  const QString local = QStringLiteral("127.0.0.1");
  const auto expected = [&](const Fd& client, const Fd& server, const QString& peakOut, const QString& up) {
    return QStringList{local, QString::number(localPort(client.get())), local,
                       QString::number(listenPort), QStringLiteral("0"), local,
                       QString::number(peerPort(server.get())), local,
                       QString::number(destinationPort), peakOut, up, QStringLiteral("0")};
  };
  Fd c3, s3;
  const int result = openStatus(repeater, [&](CStatusDlg&, QTableWidget& table) {
    ASSERT_EQ(table.rowCount(), 2);  // slot 1 is empty and skipped
    const QString peak = cell(table, 0, 9);
    EXPECT_GT(peak.toInt(), 0);
    EXPECT_LE(peak.toInt(), int(hello.size()));
    expectRow(table, 0, expected(c0, s0, peak, QStringLiteral("1234")));  // as every number column
    expectRow(table, 1, expected(c2, s2, QStringLiteral("0"), QStringLiteral("0")));

    // Connections that end or begin while it is shown do not change it.
    const QStringList before = rowOf(table, 0);
    c0 = Fd();
    ASSERT_TRUE(pumpUntil(loop, [&] { return repeater->connectionTable[0] == nullptr; }));
    std::tie(c3, s3) = relayedConnection();
    EXPECT_EQ(table.rowCount(), 2);
    EXPECT_EQ(rowOf(table, 0), before);

    // A click selects the whole row, and only one row at a time.
    clickCell(table, 0, 3);
    clickCell(table, 1, 7);
    const QList<QTableWidgetItem*> selected = table.selectedItems();
    EXPECT_EQ(selected.size(), 12);
    for (const QTableWidgetItem* item : selected) EXPECT_EQ(item->row(), 1);
  });
  EXPECT_EQ(result, QDialog::Accepted);

  // Opened again, it reads the table afresh: the new caller took slot 0.
  openStatus(repeater, [&](CStatusDlg&, QTableWidget& table) {
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(cell(table, 0, 1), QString::number(localPort(c3.get())));
    EXPECT_EQ(cell(table, 1, 1), QString::number(localPort(c2.get())));
  });
}

TEST_F(StatusDlgTest, PairStillConnectingShowsAnEmptyOutgoingSide) {
  names.hold("slow.quillex.test");
  startOn("slow.quillex.test");
  Fd client = connectTo(uint16_t(listenPort));
  ASSERT_TRUE(pumpUntil(loop, [&] { return names.queries("slow.quillex.test") > 0; }));
  // Bytes sent meanwhile wait for the destination in the outgoing buffer.
  ASSERT_TRUE(writeAll(client.get(), "abc", 3));
  ASSERT_TRUE(pumpUntil(loop, [&] {
    return !repeater->connectionTable.empty() && repeater->connectionTable[0]->connectStream->sRemainCount == 3;
  }));

  openStatus(repeater, [&](CStatusDlg&, QTableWidget& table) {
    ASSERT_EQ(table.rowCount(), 1);
    expectRow(table, 0,
              {"127.0.0.1", QString::number(localPort(client.get())), "127.0.0.1",
               QString::number(listenPort), "0", "", "0", "", "0", "3", "0", "0"});
  });
}

// An IPv6 address is drawn whole: its cell looks as it does with room to
// spare. The outgoing side runs over ::1; loopback has no longer address, so
// the destination's text is then set on the live pair as a global one would
// read. The IPv4 columns keep their widths.
TEST_F(StatusDlgTest, AnIPv6AddressShowsWholeAndIPv4ColumnsKeepTheirWidths) {
  uint16_t port6 = 0;
  Fd destination6 = listenIPv6(port6);
  if (!destination6) GTEST_SKIP() << "no IPv6 loopback here";
  startOn("::1", port6);
  Fd client = connectTo(uint16_t(listenPort));
  ASSERT_TRUE(pumpUntil(loop, [&] { return !counts.counts.empty() && counts.counts.back() == 1; }));
  Fd server = acceptOne(destination6.get(), 5000);
  int position = 0;
  CTcpStreamPair* pair = repeater->getNextConnection(position);
  ASSERT_TRUE(pair && server);
  const char* global = "2001:db8:85a3::8a2e:370:7334";
  pair->connectStream->peerAddress = global;
  openStatus(repeater, [&](CStatusDlg&, QTableWidget& table) {
    const auto drawn = [&](int column) {
      return table.viewport()->grab(table.visualItemRect(table.item(0, column))).toImage();
    };
    for (const auto& [column, text] : {std::pair{5, "::1"}, std::pair{7, global}}) {
      SCOPED_TRACE(column);
      EXPECT_EQ(cell(table, 0, column), text);
      table.scrollToItem(table.item(0, column));
      const QImage shown = drawn(column);
      ASSERT_FALSE(shown.isNull());
      table.setColumnWidth(column, 400);
      EXPECT_EQ(shown, drawn(column).copy(shown.rect()));
    }
    EXPECT_EQ(table.columnWidth(0), 80);
    EXPECT_EQ(table.columnWidth(2), 80);
  });
}

// It opens at its template size; larger, the columns share the width, so the
// last ones come into sight. "コピー" and Ctrl+C copy the selected row below
// a row of the headings.
TEST_F(StatusDlgTest, ItGrowsWithItsColumnsAndCopiesTheSelectedRow) {
  startOn("127.0.0.1");
  auto [client, server] = relayedConnection();
  openStatus(repeater, [&](CStatusDlg& dialog, QTableWidget& table) {
    const auto lastColumnInSight = [&] {
      return table.columnViewportPosition(11) + table.columnWidth(11) <= table.viewport()->width();
    };
    EXPECT_EQ(dialog.size(), CDialogUnits(dialog.font()).size(391, 96));
    EXPECT_FALSE(lastColumnInSight());
    const QWidget* close = findControl(&dialog, IDOK);
    const int closeMargin = dialog.width() - close->geometry().right();
    dialog.resize(dialog.width() * 2, dialog.height() * 2);
    EXPECT_TRUE(lastColumnInSight());
    EXPECT_EQ(dialog.width() - close->geometry().right(), closeMargin);

    clickCell(table, 0, 4);
    QTest::keyClick(&table, Qt::Key_C, Qt::ControlModifier);
    const QString row = "AcceptPeer\tPort\tBindIp\tPort\tUsedBuff\tBindIp\tPort\tConnectPeer\tPort\tUsedBuff\tUpBytes\t"
                        "DownBytes\n" +
                        rowOf(table, 0).join(QLatin1Char('\t'));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), row);
    QGuiApplication::clipboard()->clear();
    ASSERT_EQ(table.actions().size(), 1);
    EXPECT_EQ(table.actions()[0]->text(), QString::fromUtf8("コピー"));
    table.actions()[0]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), row);
  });
}

TEST_F(StatusDlgTest, WithoutConnectionsOnlyTheHeadingsShowOverAGrid) {
  startOn("127.0.0.1");
  for (CTcpRepeater* shown : {static_cast<CTcpRepeater*>(nullptr), repeater}) {
    SCOPED_TRACE(shown ? "empty table" : "no repeater");
    openStatus(shown, [&](CStatusDlg&, QTableWidget& table) {
      EXPECT_EQ(table.rowCount(), 0);
      ASSERT_EQ(table.columnCount(), 12);
      QStringList headings;
      QList<int> widths;
      QList<bool> right;
      for (int column = 0; column < 12; ++column) {
        const QTableWidgetItem* heading = table.horizontalHeaderItem(column);
        headings << (heading ? heading->text() : QString());
        widths << table.columnWidth(column);
        right << (heading && (heading->textAlignment() & Qt::AlignRight));
      }
      EXPECT_EQ(headings.join(QLatin1Char(',')),
                "AcceptPeer,Port,BindIp,Port,UsedBuff,BindIp,Port,ConnectPeer,Port,UsedBuff,UpBytes,DownBytes");
      EXPECT_EQ(widths, (QList<int>{80, 50, 80, 50, 70, 80, 50, 80, 50, 70, 90, 90}));
      EXPECT_EQ(right, (QList<bool>{false, true, false, true, true, false, true, false, true, true, true, true}));
      EXPECT_TRUE(table.showGrid());
    });
  }
}

}  // namespace
