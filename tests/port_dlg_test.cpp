// The port panel driven through its buttons, on a temporary profile, with
// its real repeater relaying on 127.0.0.1 inside Qt's loop.
#include "port/port_dlg.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionGroupBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

#include "app/qt_loop_adapter.h"
#include "dialogs/event_log.h"
#include "dialogs/setting_dlg.h"
#include "port/panels_profile.h"
#include "port/port_setting.h"
#include "relay/event_loop.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/gui_test_util.h"
#include "tests/loopback.h"

using namespace loopback;

namespace {

constexpr int kWaitMs = 5000;
const QColor kGrey(220, 220, 220);
const QColor kYellow(255, 255, 180);
const QColor kGreen(180, 255, 180);

// What the user sees behind a static: a pixel inside its frame, clear of the
// text (the statics that change colour hold one short, aligned text).
QColor backgroundOf(QWidget* widget) {
  const QImage image = widget->grab().toImage();
  return image.pixelColor(3, image.height() - 3);
}

// The share of the frame caption's pixels that have the colour.
double captionShare(QGroupBox* group, const QColor& colour) {
  QStyleOptionGroupBox option;
  option.initFrom(group);
  option.text = group->title();
  option.subControls = QStyle::SC_GroupBoxLabel;
  const QRect label =
      group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
  const QImage image = group->grab().toImage();
  int hits = 0;
  for (int y = label.top(); y <= label.bottom(); ++y) {
    for (int x = label.left(); x <= label.right(); ++x) hits += image.pixelColor(x, y) == colour;
  }
  return label.isEmpty() ? 0.0 : double(hits) / (label.width() * label.height());
}

class PortDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    destination = listenAny(destinationPort);
    ASSERT_TRUE(destination);
  }
  void TearDown() override {
    panels.clear();
  }

  // A port relaying to the test's destination; OFF unless act says otherwise.
  CPortSetting relayTo(int act = 0) {
    CPortSetting s = loadPortSetting(path, 0);  // the defaults
    s.act = act;
    s.port = freePort();
    s.forwardHost = "127.0.0.1";
    s.forwardPort = destinationPort;
    return s;
  }
  void store(const CPortSetting& s, int index = 0) { ASSERT_TRUE(savePortSetting(path, index, s)); }
  CPortSetting stored(int index = 0) { return loadPortSetting(path, index); }

  // Creates a panel as the main window does; its message, if any, is
  // answered with OK and returned.
  // With `shared`, the panel reads and saves its section there instead of in the file.
  CModalRecord create(int index = 0, CEventLog* log = nullptr, int portCount = 1, CPanelsProfile* shared = nullptr) {
    auto panel = std::make_unique<CPortDlg>(loop);
    panel->portIndex = index;
    panel->portCount = portCount;
    panel->profilePath = path;
    panel->settingDlg = &settingDlg;
    panel->eventLog = log;
    CPortDlg* p = panel.get();
    panels.push_back(std::move(panel));
    return answerMessageBox([p, shared] { shared ? p->initPort(*shared) : p->initPort(); });
  }
  CPortDlg& panel(int i = 0) { return *panels.at(i); }
  QPushButton* button(int id, int i = 0) { return control<QPushButton>(&panel(i), id); }
  QString text(int id, int i = 0) { return control<QLabel>(&panel(i), id)->text(); }
  CModalRecord press(int id, int i = 0) {
    return answerMessageBox([this, id, i] { click(button(id, i)); });
  }
  bool isOn(int i = 0) {
    return button(IDC_ON_OFF, i)->isChecked() && button(IDC_ON_OFF, i)->text() == "ON";
  }
  bool isOff(int i = 0) {
    return !button(IDC_ON_OFF, i)->isChecked() && button(IDC_ON_OFF, i)->text() == "OFF";
  }
  // The warning mark inside the count box.
  QLabel* failMark(int i = 0) { return findControl(&panel(i), IDC_CONNECTION_COUNT)->findChild<QLabel*>(); }
  bool countShows(const QString& count) {
    return QTest::qWaitFor([&] { return text(IDC_CONNECTION_COUNT) == count; }, kWaitMs);
  }

  // A client connected through the panel's port, and the far end of it.
  std::pair<Fd, Fd> relayedConnection(int listenPort) {
    Fd client = connectTo(uint16_t(listenPort));
    EXPECT_TRUE(client);
    EXPECT_TRUE(countShows("1"));
    Fd server = acceptOne(destination.get(), kWaitMs);
    EXPECT_TRUE(server);
    return {std::move(client), std::move(server)};
  }
  // Bytes written at one end arrive at the other while Qt's loop relays.
  static bool arrives(int from, int to, const std::string& bytes) {
    if (!writeAll(from, bytes.data(), bytes.size())) return false;
    std::string got;
    const bool whole = QTest::qWaitFor(
        [&] {
          char chunk[256];
          const ssize_t n = ::recv(to, chunk, sizeof chunk, MSG_DONTWAIT);
          if (n > 0) got.append(chunk, size_t(n));
          return got.size() >= bytes.size();
        },
        kWaitMs);
    return whole && got == bytes;
  }

  QTemporaryDir dir;
  std::string path = dir.filePath("Quillex.ini").toStdString();
  CEventLoop loop;
  CQtLoopAdapter adapter{loop};
  CSettingDlg settingDlg;
  Fd destination;
  uint16_t destinationPort = 0;
  std::vector<std::unique_ptr<CPortDlg>> panels;
};

TEST_F(PortDlgTest, AZeroPortStoredOnIsRefusedAtCreationAndTheFileKeepsAct1) {
  struct Case {
    int port, forwardPort;
    const char* message;
  };
  // A number beyond 65535 would wrap to another port on the wire: refused like 0.
  const Case cases[] = {{0, 8080, "Listenポートが無効な設定です"},
                        {8080, 0, "転送先ポート番号が無効な設定です"},
                        {65536, 8080, "Listenポートが無効な設定です"},
                        {8080, -1, "転送先ポート番号が無効な設定です"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    panels.clear();
    CPortSetting s = relayTo(1);
    s.port = c.port;
    s.forwardPort = c.forwardPort;
    store(s);
    const CModalRecord box = create();
    EXPECT_EQ(box.text, QString::fromUtf8(c.message));
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(isOff());
    EXPECT_EQ(panel().setting.act, 0);
    EXPECT_FALSE(panel().repeater.isListening());
    EXPECT_EQ(stored().act, 1);
    // A click on the switch is refused the same way.
    EXPECT_EQ(press(IDC_ON_OFF).text, QString::fromUtf8(c.message));
    EXPECT_TRUE(isOff());
    EXPECT_EQ(stored().act, 1);
  }
}

TEST_F(PortDlgTest, OnThenOffStoresActRelaysBytesAndTheCountTurnsGreenWhileConnected) {
  const CPortSetting s = relayTo(0);
  store(s);
  EXPECT_FALSE(create().seen);
  EXPECT_TRUE(isOff());
  EXPECT_EQ(text(IDC_CONNECTION_COUNT), "0");
  EXPECT_EQ(text(IDC_FORWARD_PORT_TEXT), QString::number(destinationPort));
  EXPECT_EQ(text(IDC_FORWARD_HOST_TEXT), "127.0.0.1");
  EXPECT_EQ(control<QGroupBox>(&panel(), IDC_TCP_GROUP)->title(),
            QStringLiteral("TCP:%1").arg(s.port));
  EXPECT_EQ(panel().size(), CDialogUnits(panel().font()).size(189, 41));
  EXPECT_EQ(panel().grab().toImage().pixelColor(1, panel().height() - 2), kGrey);
  EXPECT_EQ(backgroundOf(findControl(&panel(), IDC_FORWARD_HOST_TEXT)), kYellow);
  EXPECT_EQ(backgroundOf(findControl(&panel(), IDC_FORWARD_PORT_TEXT)), kYellow);
  EXPECT_GT(captionShare(control<QGroupBox>(&panel(), IDC_TCP_GROUP), kYellow), 0.3);

  EXPECT_FALSE(press(IDC_ON_OFF).seen);
  EXPECT_TRUE(isOn());
  EXPECT_EQ(stored().act, 1);
  EXPECT_TRUE(panel().toolTip().isEmpty());
  {
    auto [client, server] = relayedConnection(s.port);
    EXPECT_TRUE(arrives(client.get(), server.get(), "request"));
    EXPECT_TRUE(arrives(server.get(), client.get(), "answer"));
    EXPECT_EQ(backgroundOf(findControl(&panel(), IDC_CONNECTION_COUNT)), kGreen);
  }
  EXPECT_TRUE(countShows("0"));
  EXPECT_EQ(backgroundOf(findControl(&panel(), IDC_CONNECTION_COUNT)), kYellow);

  EXPECT_FALSE(press(IDC_ON_OFF).seen);
  EXPECT_TRUE(isOff());
  EXPECT_EQ(stored().act, 0);
  EXPECT_FALSE(connectTo(uint16_t(s.port)));
}

TEST_F(PortDlgTest, APortOnAtExitIsOnAgainAtTheNextStart) {
  const CPortSetting s = relayTo(1);
  store(s);
  create();
  ASSERT_TRUE(isOn());
  std::remove(path.c_str());  // the panel's own state is what reaches the file
  panel().saveAndStop();
  EXPECT_FALSE(panel().repeater.isListening());
  EXPECT_EQ(stored().act, 1);
  panels.clear();
  EXPECT_FALSE(create().seen);
  EXPECT_TRUE(isOn());
  EXPECT_TRUE(panel().repeater.isListening());
  EXPECT_TRUE(connectTo(uint16_t(s.port)));
}

// Panels made and destroyed through one reading of the profile leave the
// file as panels made one by one do, and each sees the ports ON before it as
// they were saved: a hand-edited ACT=2 is saved as 1, so a port relaying to
// it is a loop.
TEST_F(PortDlgTest, PanelsSharingOneReadingOfTheProfileLeaveItAsOneByOne) {
  const uint16_t first = freePort(), second = freePort();
  const std::string initial = "; kept\r\n[SYSTEM]\r\nPORTNUM=3\r\n[TCP-PORT0]\r\nACT=2\r\nPORT=" +
                              std::to_string(first) + "\r\nFORWARDPORT=" + std::to_string(destinationPort) +
                              "\r\n[TCP-PORT1]\r\nACT=1\r\nPORT=" + std::to_string(second) +
                              "\r\nFORWARDPORT=" + std::to_string(first) + "\r\n";
  std::string files[2][2];  // one by one, shared; after the start, after the end
  for (int shared = 0; shared < 2; ++shared) {
    std::ofstream(path, std::ios::binary) << initial;
    std::optional<CPanelsProfile> profile;
    if (shared) profile.emplace(path, 3);
    for (int i = 0; i < 3; ++i) create(i, nullptr, 3, profile ? &*profile : nullptr);
    if (profile) profile->writeBack();
    EXPECT_TRUE(panel(0).repeater.isListening());
    EXPECT_FALSE(panel(1).repeater.isListening());
    files[shared][0] = readFile(path);
    if (profile) profile.emplace(path, 3);
    for (auto& p : panels) profile ? p->saveAndStop(*profile) : p->saveAndStop();
    if (profile) profile->writeBack();
    files[shared][1] = readFile(path);
    panels.clear();
  }
  EXPECT_EQ(files[1][0], files[0][0]);
  EXPECT_EQ(files[1][1], files[0][1]);
}

// ON but not listening: the panel keeps ON (tried again at the next start),
// shows a mark and the reason, and says so when the user switches it on; at
// start-up it waits for nobody's click. Only a taken port may listen at the
// next try, and only its message says it will be tried again.
TEST_F(PortDlgTest, AnOnPortThatCannotListenLooksFailedAndSaysWhyWhenSwitchedOn) {
  uint16_t takenPort = 0;
  Fd taken = listenAny(takenPort);
  CPortSetting noHost = relayTo(1);
  noHost.forwardHost = "";
  CPortSetting inUse = relayTo(1);
  inUse.port = takenPort;
  CPortSetting toItself = relayTo(1);
  toItself.forwardPort = toItself.port;
  struct Case {
    CPortSetting setting;
    QString reason;
    bool retried;
  };
  const Case cases[] = {
      {noHost, QString::fromUtf8("転送先ホストが設定されていません"), false},
      {inUse, QString::fromUtf8("0.0.0.0:%1: アドレスは既に使用されています (エラー 10048)").arg(takenPort), true},
      {toItself, QString::fromUtf8("転送先がこのポート自身です (127.0.0.1:%1): 中継がループします").arg(toItself.port),
       false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason.toStdString());
    panels.clear();
    store(c.setting);
    const QString message = QString::fromUtf8("TCP:%1 は ON ですが、待ち受けていません。\n%2%3")
                                .arg(c.setting.port)
                                .arg(c.reason)
                                .arg(c.retried ? QString::fromUtf8("\n次回の起動時にもう一度試みます。") : QString());
    EXPECT_FALSE(create().seen);
    EXPECT_TRUE(isOn());
    EXPECT_EQ(stored().act, 1);
    EXPECT_FALSE(panel().repeater.isListening());
    EXPECT_EQ(panel().toolTip(), QString::fromUtf8("待ち受けていません: ") + c.reason);
    EXPECT_FALSE(failMark()->isHidden());
    EXPECT_FALSE(press(IDC_ON_OFF).seen);
    EXPECT_TRUE(isOff());
    EXPECT_TRUE(panel().toolTip().isEmpty());
    EXPECT_TRUE(failMark()->isHidden());
    EXPECT_EQ(press(IDC_ON_OFF).text, message);
    EXPECT_TRUE(isOn());
  }
}

// The loop check at a port's start reads the ports of the count being
// applied, whatever the profile still says, and takes a listen address of
// 0.0.0.0 as the wildcard it is.
TEST_F(PortDlgTest, TheLoopCheckSeesThePortsBeingAppliedAndTheWildcardAddress) {
  struct Case {
    int storedCount, appliedCount;
    const char* listenBind;  // of the port the first one relays to; null: not bound
    bool loop;
  } cases[] = {{10, 5, nullptr, false}, {5, 10, nullptr, true}, {10, 10, "0.0.0.0", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.storedCount) + " stored, " + std::to_string(c.appliedCount) + " applied");
    panels.clear();
    CPortSetting target = relayTo(1);
    target.isListenBind = c.listenBind ? 1 : 0;
    if (c.listenBind) target.ipListenBind = c.listenBind;
    store(target, 7);
    CPortSetting first = relayTo(1);
    first.forwardPort = target.port;
    store(first, 0);
    ASSERT_TRUE(saveSystemSetting(path, CSystemSetting{c.storedCount, 1}));
    create(0, nullptr, c.appliedCount);
    EXPECT_EQ(panel().repeater.isListening(), !c.loop);
    EXPECT_EQ(panel().toolTip().contains(QString::fromUtf8("ループ")), c.loop);
  }
}

// A count reported in the frame before a click is shown late; the click must
// still act on the switch as the user saw it.
TEST_F(PortDlgTest, AClickRightAfterACountReportActsOnWhatTheUserSaw) {
  store(relayTo(1));
  create();
  for (bool on : {false, true}) {
    SCOPED_TRACE(on);
    panel().notifyConnectionCount(0);  // its display waits for the next frame
    EXPECT_FALSE(press(IDC_ON_OFF).seen);
    EXPECT_EQ(isOn(), on);
    EXPECT_EQ(stored().act, on ? 1 : 0);
    EXPECT_EQ(panel().repeater.isListening(), on);
  }
}

// The log hears of listening and of each connection's end through the
// port's real repeater.
TEST_F(PortDlgTest, ThePortTellsTheEventLogWhatItDoes) {
  CEventLog log;
  const CPortSetting s = relayTo(1);
  store(s);
  create(0, &log);
  {
    auto [client, server] = relayedConnection(s.port);
    client = Fd();  // the caller ends it
    EXPECT_TRUE(countShows("0"));
  }
  press(IDC_ON_OFF);
  log.setLive(true);
  ASSERT_EQ(log.rowCount(), 3);
  EXPECT_EQ(log.eventAt(0)->kind, CLogEvent::Kind::ListenStarted);
  EXPECT_EQ(log.eventAt(0)->detail, QStringLiteral("0.0.0.0:%1").arg(s.port));
  EXPECT_EQ(log.eventAt(1)->destination, QStringLiteral("127.0.0.1:%1").arg(destinationPort));
  EXPECT_EQ(log.eventAt(1)->record.end, CConnectionRecord::End::ClosedByCaller);
  EXPECT_EQ(log.eventAt(1)->listenPort, s.port);
  EXPECT_EQ(log.eventAt(2)->kind, CLogEvent::Kind::ListenStopped);
}

TEST_F(PortDlgTest, SettingsAreRefusedWhileOnAndWhileAnotherPanelEdits) {
  store(relayTo(1), 0);
  store(relayTo(0), 1);
  create(0);
  create(1);
  EXPECT_EQ(press(IDC_SETTING, 0).text,
            QString::fromUtf8("PORTを使用中です。OFF状態で設定して下さい"));
  EXPECT_FALSE(settingDlg.isEditing());

  EXPECT_FALSE(press(IDC_SETTING, 1).seen);
  EXPECT_TRUE(settingDlg.isEditing());
  EXPECT_TRUE(settingDlg.isVisible());
  EXPECT_EQ(control<QLineEdit>(&settingDlg, IDC_LISTEN_PORT)->text(),
            QString::number(stored(1).port));
  press(IDC_ON_OFF, 0);
  EXPECT_EQ(press(IDC_SETTING, 0).text, QString::fromUtf8("現在PORTの設定中です"));
  EXPECT_EQ(control<QLineEdit>(&settingDlg, IDC_LISTEN_PORT)->text(),
            QString::number(stored(1).port));

  const CPortSetting before = stored(1);
  replaceText(control<QLineEdit>(&settingDlg, IDC_LISTEN_PORT), "1234");
  click(control<QPushButton>(&settingDlg, IDCANCEL));
  EXPECT_FALSE(settingDlg.isEditing());
  EXPECT_EQ(panel(1).setting.port, before.port);
  EXPECT_EQ(stored(1).port, before.port);
  EXPECT_FALSE(press(IDC_SETTING, 0).seen);
  EXPECT_TRUE(settingDlg.isEditing());
}

// Chooses a filter mode in the filter condition dialog of the open settings.
void chooseFilterMode(CSettingDlg& settingDlg, int modeId) {
  handleModal([&] { click(control<QPushButton>(&settingDlg, IDC_FILTER)); },
              [&](QWidget* dialog) {
                click(control<QRadioButton>(dialog, modeId));
                click(control<QPushButton>(dialog, IDOK));
              });
}

TEST_F(PortDlgTest, OkInTheSettingsStoresTheValuesCaptionForwardPortAndFilter) {
  store(relayTo(0));
  create();
  const QColor filterOff = backgroundOf(findControl(&panel(), IDC_FILTER_MARK));
  EXPECT_EQ(filterOff, kGrey);

  press(IDC_SETTING);
  replaceText(control<QLineEdit>(&settingDlg, IDC_LISTEN_PORT), "8081");
  click(control<QCheckBox>(&settingDlg, IDC_LOCALHOST));  // frees the host edit
  replaceText(control<QLineEdit>(&settingDlg, IDC_FORWARD_HOST), "relay.example");
  replaceText(control<QLineEdit>(&settingDlg, IDC_FORWARD_PORT), "9091");
  chooseFilterMode(settingDlg, IDC_MODE_LOCALHOST);
  click(control<QPushButton>(&settingDlg, IDOK));

  EXPECT_FALSE(settingDlg.isEditing());
  EXPECT_EQ(control<QGroupBox>(&panel(), IDC_TCP_GROUP)->title(), "TCP:8081");
  EXPECT_EQ(text(IDC_FORWARD_PORT_TEXT), "9091");
  EXPECT_EQ(text(IDC_FORWARD_HOST_TEXT), "relay.example");
  EXPECT_EQ(backgroundOf(findControl(&panel(), IDC_FILTER_MARK)), kYellow);
  const CPortSetting s = stored();
  EXPECT_EQ(s.act, 0);
  EXPECT_EQ(s.port, 8081);
  EXPECT_EQ(s.forwardHost, "relay.example");
  EXPECT_EQ(s.forwardPort, 9091);
  EXPECT_EQ(s.filter.mode, 1);

  // A filter changed and then cancelled is not carried into the next edit.
  press(IDC_SETTING);
  chooseFilterMode(settingDlg, IDC_MODE_LAN);
  click(control<QPushButton>(&settingDlg, IDCANCEL));
  EXPECT_EQ(panel().setting.filter.mode, 1);
  press(IDC_SETTING);
  click(control<QPushButton>(&settingDlg, IDOK));
  EXPECT_EQ(stored().filter.mode, 1);

  press(IDC_SETTING);
  chooseFilterMode(settingDlg, IDC_MODE_ALL);
  click(control<QPushButton>(&settingDlg, IDOK));
  EXPECT_EQ(stored().filter.mode, 0);
  EXPECT_EQ(backgroundOf(findControl(&panel(), IDC_FILTER_MARK)), kGrey);
}

TEST_F(PortDlgTest, StatusSaysThereIsNoConnectionOrShowsEachConnectionsRow) {
  const CPortSetting s = relayTo(1);
  store(s);
  create();
  const CModalRecord box = press(IDC_STATUS);
  EXPECT_EQ(box.className, "QMessageBox");
  EXPECT_EQ(box.text, QString::fromUtf8("現在接続はありません."));

  auto [client, server] = relayedConnection(s.port);
  int rows = -1;
  QString peer, boundPort;
  const CModalRecord status = handleModal([&] { click(button(IDC_STATUS)); },
                                          [&](QWidget* dialog) {
                                            auto* table =
                                                control<QTableWidget>(dialog, IDC_CONNECTION_LIST);
                                            rows = table->rowCount();
                                            peer = table->item(0, 0)->text();
                                            boundPort = table->item(0, 3)->text();
                                            pressEscape(dialog);
                                          });
  EXPECT_EQ(status.className, "CStatusDlg");
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(peer, "127.0.0.1");
  EXPECT_EQ(boundPort, QString::number(s.port));
}

// A host wider than its label shows its start and the whole name on hover;
// one that fits stays centred.
TEST_F(PortDlgTest, ALongHostShowsItsStartAndTheWholeNameOnHover) {
  const std::string hosts[] = {std::string(60, 'h') + ".example", "127.0.0.1"};
  for (int i = 0; i < 2; ++i) {
    CPortSetting s = relayTo(0);
    s.forwardHost = hosts[i];
    store(s, i);
    create(i);
    const QLabel* label = control<QLabel>(&panel(i), IDC_FORWARD_HOST_TEXT);
    const bool cut = i == 0;
    EXPECT_EQ(label->toolTip(), cut ? QString::fromStdString(hosts[i]) : QString()) << i;
    EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, cut ? Qt::AlignLeft : Qt::AlignHCenter) << i;
  }
}

// What the pictures showed: the latched switch shows the keyboard focus,
// and "Ｆ" says what it filters.
TEST_F(PortDlgTest, TheLatchedSwitchShowsTheFocusAndFSaysWhatItFilters) {
  CPortSetting s = relayTo(1);
  s.filter.mode = CIpFilter::FILTER_INDIVIDUAL;
  s.filter.refuseIpCount = 1;
  s.filter.enableIpCount = 2;
  store(s);
  create();
  panel().show();
  panel().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&panel()));
  QPushButton* onOff = button(IDC_ON_OFF);
  ASSERT_TRUE(isOn());
  button(IDC_SETTING)->setFocus();
  const QImage unfocused = onOff->grab().toImage();
  QTest::keyClick(button(IDC_SETTING), Qt::Key_Backtab);  // from "設定" back to the switch
  ASSERT_TRUE(onOff->hasFocus());
  EXPECT_NE(onOff->grab().toImage(), unfocused);
  EXPECT_EQ(findControl(&panel(), IDC_FILTER_MARK)->toolTip(),
            QString::fromUtf8("フィルタ: 個別設定 (拒否 1 件、許可 2 件)"));
}

TEST_F(PortDlgTest, AStoredHostThatIsNotUtf8SurvivesTheSwitch) {
  CPortSetting s = relayTo(0);
  s.forwardHost = "\x83\x54\x81\x5B\x83\x6F";  // Shift-JIS, as an old profile may hold
  store(s);
  create();
  press(IDC_ON_OFF);
  press(IDC_ON_OFF);
  EXPECT_EQ(stored().act, 0);
  EXPECT_EQ(stored().forwardHost, s.forwardHost);
}

TEST_F(PortDlgTest, APanelDestroyedWhileItsSettingsAreOpenIsNeverCalledBack) {
  store(relayTo(0));
  create();
  press(IDC_SETTING);
  ASSERT_TRUE(settingDlg.isEditing());
  panels.clear();
  EXPECT_FALSE(settingDlg.isEditing());
  settingDlg.show();
  click(control<QPushButton>(&settingDlg, IDOK));  // would call the panel under ASan's eye
  EXPECT_FALSE(settingDlg.isVisible());
}

}  // namespace
