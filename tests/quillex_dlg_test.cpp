// The main window on the offscreen platform, on a temporary profile.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <fstream>

#include "app/debug_console.h"
#include "app/propaty_dlg.h"
#include "app/qt_loop_adapter.h"
#include "app/quillex_dlg.h"
#include "app/tray_icon.h"
#include "dialogs/event_log_dlg.h"
#include "dialogs/setting_dlg.h"
#include "port/port_dlg.h"
#include "relay/async_socket.h"
#include "relay/event_loop.h"
#include "relay/trace.h"
#include "resources/app_texts.h"
#include "resources/dialog_font.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/gui_test_util.h"
#include "tests/loopback.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
  }
  void TearDown() override {
    window.reset();
  }

  void writeProfile(const std::string& text) { std::ofstream(profile, std::ios::binary) << text; }
  std::string readProfile() { return loopback::readFile(profile); }
  CQuillexDlg& open() {
    window = std::make_unique<CQuillexDlg>(profile, loop);
    QObject::connect(window.get(), &CQuillexDlg::exitRequested, [this](int code) { exitCode = code; });
    return *window;
  }
  // Chooses a port count in the system properties and presses OK.
  CModalRecord chooseInProperties(int radioId) {
    return handleModal([&] { window->OnProperties(); },
                       [&](QWidget* dialog) {
                         if (radioId) click(control<QRadioButton>(dialog, radioId));
                         click(control<QPushButton>(dialog, IDOK));
                       });
  }

  CEventLoop loop;
  CQtLoopAdapter adapter{loop};
  loopback::TempDir dir;
  std::string profile = dir.path() + "/Quillex.ini";
  std::unique_ptr<CQuillexDlg> window;
  int exitCode = -1;
};

TEST_F(MainWindowTest, FirstStartShowsOneCentredPanelAndWritesOnlyItsSection) {
  CQuillexDlg& w = open();
  ASSERT_EQ(w.panels().size(), 1u);
  EXPECT_TRUE(w.isVisible());
  QPoint centre = w.screen()->availableGeometry().center();
  EXPECT_LE((w.geometry().center() - centre).manhattanLength(), 4);

  w.OnTrayExit();
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(readProfile(),
            "[TCP-PORT0]\nACT=0\nPORT=0\nFORWARDHOST=127.0.0.1\nFORWARDPORT=0\nBUFFERSIZE=128\nISLISTENBIND=0\n"
            "IPLISTENBIND=127.0.0.1\nISCONNECTBIND=0\nIPCONNECTBIND=127.0.0.1\nFILTERMODE=0\nENABLEIPCOUNT=0\n"
            "REFUSEIPCOUNT=0\n");
}

TEST_F(MainWindowTest, TenPortsFormTwoColumnsOfFiveBelowTheStrip) {
  writeProfile("[SYSTEM]\nPORTNUM=10\n");
  CQuillexDlg& w = open();
  ASSERT_EQ(w.panels().size(), 10u);
  QSize p = w.panels()[0]->size();
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(w.panels()[size_t(i)]->pos(), QPoint(i < 5 ? 0 : p.width(), 30 + (i % 5) * p.height())) << i;
  EXPECT_EQ(w.size(), QSize(2 * p.width(), 30 + 5 * p.height()));
  QLabel* link = control<QLabel>(&w, IDC_POWERED_LINK);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->geometry().topRight(), QPoint(w.width() - 1, 2));
}

TEST_F(MainWindowTest, PortCountsAreBoundedToOneTo1024) {
  writeProfile("[SYSTEM]\nPORTNUM=0\n");
  EXPECT_EQ(open().panels().size(), 1u);
  window.reset();
  writeProfile("[SYSTEM]\nPORTNUM=1025\n");
  EXPECT_EQ(open().panels().size(), 1024u);
}

// Beyond ten panels the second column scrolls in a window five panels high;
// Tab brings any panel whole into view, where a click finds its switch.
TEST_F(MainWindowTest, ThirtyPortsScrollTheSecondColumnAndTabReachesTheLast) {
  const uint16_t port = loopback::freePort();
  writeProfile("[SYSTEM]\nPORTNUM=30\n[TCP-PORT29]\nPORT=" + std::to_string(port) + "\nFORWARDPORT=9\n");
  CQuillexDlg& w = open();
  ASSERT_EQ(w.panels().size(), 30u);
  const QSize p = w.panels()[0]->size();
  auto* area = w.findChild<QScrollArea*>();
  ASSERT_NE(area, nullptr);
  QScrollBar* bar = area->verticalScrollBar();
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->maximum(), 20 * p.height());
  EXPECT_EQ(w.size(), QSize(2 * p.width() + bar->width(), 30 + 5 * p.height()));
  for (int i : {0, 4, 5, 9})
    EXPECT_EQ(w.panels()[size_t(i)]->mapTo(&w, QPoint()), QPoint(i < 5 ? 0 : p.width(), 30 + (i % 5) * p.height()));

  // Scrolled to the end, then Tab from the first column to the sixth panel and on to the last.
  bar->setValue(bar->maximum());
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  const auto tabTo = [&](CPortDlg* panel) {
    auto* onOff = control<QPushButton>(panel, IDC_ON_OFF);
    for (int tabs = 0; tabs < 200 && QApplication::focusWidget() != onOff; ++tabs)
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), onOff);
    EXPECT_TRUE(area->viewport()->rect().contains(QRect(panel->mapTo(area->viewport(), QPoint()), p)));
    return onOff;
  };
  tabTo(w.panels()[5]);
  QPushButton* onOff = tabTo(w.panels().back());
  EXPECT_EQ(w.childAt(onOff->mapTo(&w, onOff->rect().center())), onOff);
  click(onOff);
  EXPECT_EQ(onOff->text(), "ON");
  EXPECT_TRUE(loopback::connectTo(port));
}

TEST_F(MainWindowTest, PropertiesAreRefusedWhileAPortIsOnOrTheCountIsUnusual) {
  uint16_t port = 0;
  { loopback::Fd probe = loopback::listenAny(port); }
  writeProfile("[SYSTEM]\nPORTNUM=1\n[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(port) + "\nFORWARDPORT=9\n");
  open();
  CModalRecord on = answerMessageBox([&] { window->OnProperties(); });
  EXPECT_EQ(on.text, QString::fromUtf8(MSG_PORTS_ON));
  window.reset();

  // Laid out bounded, refused as stored.
  const std::pair<std::string, size_t> counts[] = {{"3", 3}, {"0", 1}, {"11", 11}};
  for (const auto& [stored, panels] : counts) {
    SCOPED_TRACE(stored);
    window.reset();
    writeProfile("[SYSTEM]\nPORTNUM=" + stored + "\n");
    CQuillexDlg& w = open();
    EXPECT_EQ(w.panels().size(), panels);
    CModalRecord count = answerMessageBox([&] { w.OnProperties(); });
    EXPECT_EQ(count.text, QString::fromUtf8(MSG_PORT_COUNT));
    EXPECT_EQ(readProfile().find("[SYSTEM]\nPORTNUM=" + stored + "\n"), 0u);
  }
}

TEST_F(MainWindowTest, ChangingFiveToTenPortsRebuildsInPlaceAndWritesBothKeys) {
  writeProfile("[SYSTEM]\nPORTNUM=5\nWINDOW=1\n");
  CQuillexDlg& w = open();
  w.move(40, 50);
  QPoint corner = w.pos();
  CPortDlg* first = w.panels()[0];
  // An edit left open in the shared dialog is ended before its panel goes.
  click(control<QPushButton>(first, IDC_SETTING));
  ASSERT_TRUE(w.settingDialog()->isEditing());

  CModalRecord shown = chooseInProperties(IDC_PORTS_10);
  EXPECT_EQ(shown.className, "CPropatyDlg");
  ASSERT_EQ(w.panels().size(), 10u);
  EXPECT_FALSE(w.settingDialog()->isEditing());
  EXPECT_EQ(w.pos(), corner);
  QSize p = w.panels()[0]->size();
  EXPECT_EQ(w.size(), QSize(2 * p.width(), 30 + 5 * p.height()));
  std::string text = readProfile();
  EXPECT_NE(text.find("[SYSTEM]\nPORTNUM=10\nWINDOW=1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[TCP-PORT9]"), std::string::npos);
}

TEST_F(MainWindowTest, PropertiesOkWithoutChangesRewritesTheKeysAndKeepsThePanels) {
  writeProfile("[SYSTEM]\nPORTNUM=5\n");
  CQuillexDlg& w = open();
  std::vector<CPortDlg*> before = w.panels();
  chooseInProperties(0);
  EXPECT_EQ(w.panels(), before);
  EXPECT_NE(readProfile().find("[SYSTEM]\nPORTNUM=5\nWINDOW=1\n"), std::string::npos);
}

TEST_F(MainWindowTest, ClosingWithoutANotificationAreaMinimisesInsteadOfHiding) {
  CQuillexDlg& w = open();
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.isMinimized());
  w.OnTrayOpen();
  EXPECT_FALSE(w.isMinimized());
  w.close();
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(exitCode, -1);  // only "終了" ends the program
}

// The event log comes after the window menu's own entries and opens beside the
// main window, not modal; without a notification area "終了" follows, after
// a separator of its own.
TEST_F(MainWindowTest, WindowMenuHoldsPropertiesVersionAndThenTheEventLog) {
  CQuillexDlg& w = open();
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(&w, &click);
  w.systemMenu()->close();
  QStringList texts;
  for (QAction* action : w.systemMenu()->actions())
    if (action->isVisible()) texts << (action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(texts, (QStringList{"-", QString::fromUtf8(IDS_PROPERTIES), "-", QString::fromUtf8(IDS_ABOUTBOX), "-",
                                QString::fromUtf8("通信ログ"), "-", QString::fromUtf8("終了")}));
  w.systemMenu()->actions()[5]->trigger();
  CEventLogDlg* log = w.eventLogDialog();
  ASSERT_TRUE(log && log->isVisible());
  EXPECT_EQ(log->windowTitle(), QString::fromUtf8("通信ログ"));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_FALSE(log->frameGeometry().intersects(w.frameGeometry())) << "over the panels";
}

// Why a port does not listen shows on hover even while another window is active.
TEST_F(MainWindowTest, AFailingPortSaysWhyOnHoverWhileAnotherWindowIsActive) {
  writeProfile("[SYSTEM]\nPORTNUM=1\n[TCP-PORT0]\nACT=1\nPORT=9\nFORWARDHOST=\nFORWARDPORT=9\n");
  EXPECT_FALSE(answerMessageBox([&] { open(); }).seen) << "no port waits for a click at start";
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  CPortDlg* panel = window->panels()[0];
  QTest::mouseMove(panel, QPoint(2, panel->height() - 2));
  EXPECT_TRUE(QTest::qWaitFor([&] { return QToolTip::isVisible() && QToolTip::text() == panel->toolTip(); }, 5000));
  EXPECT_FALSE(panel->toolTip().isEmpty());
}

// Every panel reads its section and, when ON, listens before the window is
// laid out and shown: a start-up message comes while the window is still
// hidden and the ports before it relay already.
TEST_F(MainWindowTest, PortsStartBeforeTheWindowIsShown) {
  const uint16_t listening = loopback::freePort();
  writeProfile("[SYSTEM]\nPORTNUM=5\n[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(listening) +
               "\nFORWARDPORT=9\n[TCP-PORT1]\nACT=1\nPORT=0\nFORWARDPORT=9\n");
  bool windowShown = true, portListened = false;
  const CModalRecord message = handleModal([&] { open(); }, [&](QWidget* shown) {
    windowShown = false;
    for (QWidget* top : QApplication::topLevelWidgets())
      windowShown = windowShown || (qobject_cast<CQuillexDlg*>(top) && top->isVisible());
    portListened = bool(loopback::connectTo(listening));
    click(qobject_cast<QMessageBox*>(shown)->button(QMessageBox::Ok));
  });
  EXPECT_EQ(message.text, QString::fromUtf8("Listenポートが無効な設定です"));
  EXPECT_FALSE(windowShown);
  EXPECT_TRUE(portListened);
  EXPECT_TRUE(window->isVisible());
}

// The trace is one UTF-8 stream: a character whose bytes arrive in two
// reads shows whole.
TEST(TraceWindowTest, ACharacterSplitBetweenTwoReadsShowsWhole) {
  CTraceWindow window;
  const QByteArray text = QString::fromUtf8("接続\n").toUtf8();
  window.appendTrace(text.left(4));
  window.appendTrace(text.mid(4));
  EXPECT_EQ(window.toPlainText(), QString::fromUtf8("接続\n"));
}

// Without a notification area every attempt fails, at start and again on
// each tick of the timer, and each one is traced. The menu is in the dialog
// font.
TEST(TrayIconTest, EveryFailedAttemptIsTracedAndTheMenuUsesTheDialogFont) {
  ASSERT_FALSE(CTrayIcon::available());
  loopback::TraceCapture trace;
  const std::string failed = "通知領域にアイコンを登録できませんでした。 err=0\n";
  {
    QWidget window;
    CTrayIcon tray(&window);
    tray.addTrayIcon();
    EXPECT_EQ(trace.text(), failed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return trace.text() == failed + failed; }, 5000));
    EXPECT_EQ(QFontInfo(tray.menu()->font()).family().toStdString(), QFontInfo(dialogFont()).family().toStdString());
  }
}

}  // namespace
