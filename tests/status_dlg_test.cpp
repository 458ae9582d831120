// The connection status dialog over a live repeater on 127.0.0.1: the test
// owns the clients and the destination, opens the dialog modally and reads
// what it shows.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <memory>
#include <tuple>

#include "dialogs/status_dlg.h"
#include "relay/event_loop.h"
#include "relay/tcp_repeater.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/fake_name_server.h"
#include "tests/gui_test_util.h"
#include "tests/loopback.h"

using namespace loopback;

namespace {

class CCountLog : public CTcpRepeaterListener {
 public:
  void notifyConnectionCount(int count) override {
    ++calls;
    last = count;
  }
  int calls = 0;
  int last = 0;
};

int localPort(int fd) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  return ntohs(sa.sin_port);
}

int peerPort(int fd) {
  sockaddr_in sa{};
  socklen_t length = sizeof sa;
  getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  return ntohs(sa.sin_port);
}

class StatusDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CHostResolver::setNameServer("127.0.0.1", names.port());
    CAsyncSocket::setEventLoop(&loop);
    destination = listenAny(destinationPort);
    ASSERT_TRUE(destination);
  }
  void TearDown() override {
    repeater.reset();
    CAsyncSocket::setEventLoop(nullptr);
    CHostResolver::setNameServer("", 0);
  }

  void start(const std::string& host) {
    repeater = std::make_unique<CTcpRepeater>();
    repeater->setListener(&counts);
    repeater->setBufferSize(128);
    repeater->setListenBind(1, "127.0.0.1");
    repeater->setConnectBind(0, "");
    repeater->start(0, host, destinationPort);
    ASSERT_TRUE(repeater->isListening());
    std::string address;
    unsigned port = 0;
    repeater->listenSocket.GetSockName(address, port);
    listenPort = int(port);
  }

  // A client whose relayed connection the destination has accepted.
  std::pair<Fd, Fd> relayedConnection() {
    const int heard = counts.calls;
    Fd client = connectTo(uint16_t(listenPort));
    EXPECT_TRUE(pumpUntil(loop, [&] { return counts.calls > heard; }));
    Fd server = acceptOne(destination.get(), 5000);
    EXPECT_TRUE(server);
    return {std::move(client), std::move(server)};
  }

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

  CFakeNameServer names;
  CEventLoop loop;
  Fd destination;
  uint16_t destinationPort = 0;
  CCountLog counts;
  std::unique_ptr<CTcpRepeater> repeater;
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
  start("127.0.0.1");
  auto [c0, s0] = relayedConnection();
  auto [c1, s1] = relayedConnection();
  auto [c2, s2] = relayedConnection();
  const std::string hello = "hello, destination";
  ASSERT_TRUE(writeAll(c0.get(), hello.data(), hello.size()));
  ASSERT_TRUE(receive(s0.get(), hello.size()));
  c1 = Fd();
  ASSERT_TRUE(pumpUntil(loop, [&] { return repeater->connectionTable[1] == nullptr; }));

  const QString local = QStringLiteral("127.0.0.1");
  const auto expected = [&](const Fd& client, const Fd& server, const QString& peakOut) {
    return QStringList{local, QString::number(localPort(client.get())), local,
                       QString::number(listenPort), QStringLiteral("0"), local,
                       QString::number(peerPort(server.get())), local,
                       QString::number(destinationPort), peakOut};
  };
  Fd c3, s3;
  const int result = openStatus(repeater.get(), [&](CStatusDlg&, QTableWidget& table) {
    ASSERT_EQ(table.rowCount(), 2);  // slot 1 is empty and skipped
    const QString peak = cell(table, 0, 9);
    EXPECT_GT(peak.toInt(), 0);
    EXPECT_LE(peak.toInt(), int(hello.size()));
    expectRow(table, 0, expected(c0, s0, peak));
    expectRow(table, 1, expected(c2, s2, QStringLiteral("0")));

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
    EXPECT_EQ(selected.size(), 10);
    for (const QTableWidgetItem* item : selected) EXPECT_EQ(item->row(), 1);
  });
  EXPECT_EQ(result, QDialog::Accepted);

  // Opened again, it reads the table afresh: the new caller took slot 0.
  openStatus(repeater.get(), [&](CStatusDlg&, QTableWidget& table) {
    ASSERT_EQ(table.rowCount(), 2);
    EXPECT_EQ(cell(table, 0, 1), QString::number(localPort(c3.get())));
    EXPECT_EQ(cell(table, 1, 1), QString::number(localPort(c2.get())));
  });
}

TEST_F(StatusDlgTest, PairStillConnectingShowsAnEmptyOutgoingSide) {
  names.hold("slow.quillex.test");
  start("slow.quillex.test");
  Fd client = connectTo(uint16_t(listenPort));
  ASSERT_TRUE(pumpUntil(loop, [&] { return names.queries("slow.quillex.test") > 0; }));
  // Bytes sent meanwhile wait for the destination in the outgoing buffer.
  ASSERT_TRUE(writeAll(client.get(), "abc", 3));
  ASSERT_TRUE(pumpUntil(loop, [&] {
    return !repeater->connectionTable.empty() && repeater->connectionTable[0]->connectStream->sRemainCount == 3;
  }));

  openStatus(repeater.get(), [&](CStatusDlg&, QTableWidget& table) {
    ASSERT_EQ(table.rowCount(), 1);
    expectRow(table, 0,
              {"127.0.0.1", QString::number(localPort(client.get())), "127.0.0.1",
               QString::number(listenPort), "0", "", "0", "", "0", "3"});
  });
}

TEST_F(StatusDlgTest, WithoutConnectionsOnlyTheHeadingsShowOverAGrid) {
  start("127.0.0.1");
  for (CTcpRepeater* shown : {static_cast<CTcpRepeater*>(nullptr), repeater.get()}) {
    SCOPED_TRACE(shown ? "empty table" : "no repeater");
    openStatus(shown, [&](CStatusDlg&, QTableWidget& table) {
      EXPECT_EQ(table.rowCount(), 0);
      ASSERT_EQ(table.columnCount(), 10);
      QStringList headings;
      QList<int> widths;
      QList<bool> right;
      for (int column = 0; column < 10; ++column) {
        const QTableWidgetItem* heading = table.horizontalHeaderItem(column);
        headings << (heading ? heading->text() : QString());
        widths << table.columnWidth(column);
        right << (heading && (heading->textAlignment() & Qt::AlignRight));
      }
      EXPECT_EQ(headings.join(QLatin1Char(',')),
                "AcceptPeer,Port,BindIp,Port,UsedBuff,BindIp,Port,ConnectPeer,Port,UsedBuff");
      EXPECT_EQ(widths, (QList<int>{80, 50, 80, 50, 70, 80, 50, 80, 50, 70}));
      EXPECT_EQ(right, (QList<bool>{false, true, false, true, true, false, true, false, true, true}));
      EXPECT_TRUE(table.showGrid());
    });
  }
}

}  // namespace
