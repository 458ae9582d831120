// The shared port settings dialog, driven as a panel and a user drive it:
// beginEdit and loadSettings, typed fields, clicks, answered questions, OK.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <map>

#include "dialogs/setting_dlg.h"
#include "dialogs/setting_dlg_listener.h"
#include "filter/ip_filter.h"
#include "resources/dialog_texts.h"
#include "resources/ip_address_edit.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/gui_test_util.h"
#include "tests/setting_dlg_fixture.h"

namespace {

TEST_F(SettingDlgTest, OkHandsTheTypedValuesToTheListenerAndFreesTheDialog) {
  panel.edit(defaults());
  EXPECT_TRUE(dialog.isEditing());
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("QUILLEX設定"));
  EXPECT_EQ(edit(IDC_LISTEN_PORT)->text(), "10080");
  EXPECT_FALSE(address(IDC_LISTEN_BIND_ADDRESS)->isEnabled());
  EXPECT_TRUE(address(IDC_CONNECT_BIND_ADDRESS)->isEnabled());

  replaceText(edit(IDC_LISTEN_PORT), "8080");
  replaceText(edit(IDC_FORWARD_HOST), "ｻｰﾊﾞ.example");
  replaceText(edit(IDC_FORWARD_PORT), "443");
  QTest::keyClick(edit(IDC_FORWARD_PORT), Qt::Key_Up);  // arrow keys step this one
  replaceText(edit(IDC_BUFFER_SIZE), "4,096");
  click(check(IDC_LISTEN_BIND));
  EXPECT_TRUE(address(IDC_LISTEN_BIND_ADDRESS)->isEnabled());
  const char* fields[] = {"10", "0", "0", "7"};
  for (int i = 0; i < 4; ++i) replaceText(address(IDC_LISTEN_BIND_ADDRESS)->field(i), fields[i]);

  const CSettingValues v = ok();
  EXPECT_EQ(v.port, 8080);
  EXPECT_EQ(v.forwardHost, "ｻｰﾊﾞ.example");
  EXPECT_EQ(v.forwardPort, 444);
  EXPECT_EQ(v.bufferSize, 4096);
  EXPECT_EQ(v.isListenBind, 1);
  EXPECT_EQ(v.ipListenBind, "10.0.0.7");
  EXPECT_EQ(v.isConnectBind, 1);
  EXPECT_EQ(v.ipConnectBind, "192.168.1.5");
  EXPECT_FALSE(dialog.isEditing());
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(SettingDlgTest, CancelEscAndTheCloseBoxFreeTheDialogWithoutCallingBack) {
  const std::function<void()> closers[] = {
      [&] { click(button(IDCANCEL)); },
      [&] { pressEscape(&dialog); },
      [&] { dialog.close(); },
  };
  for (const auto& close : closers) {
    panel.edit(defaults());
    replaceText(edit(IDC_LISTEN_PORT), "1");
    close();
    EXPECT_FALSE(dialog.isEditing());
    EXPECT_FALSE(dialog.isVisible());
  }
  EXPECT_EQ(panel.calls, 0);
  click(button(IDOK));  // a stray OK on a free dialog calls nobody
  EXPECT_EQ(panel.calls, 0);
}

TEST_F(SettingDlgTest, AHostNamingThisComputerOpensTickedWithTheEditDisabled) {
  for (const char* host : {"localhost", "LocalHost", "127.0.0.1"}) {
    CSettingValues v = defaults();
    v.forwardHost = host;
    panel.edit(v);
    EXPECT_TRUE(check(IDC_LOCALHOST)->isChecked()) << host;
    EXPECT_FALSE(edit(IDC_FORWARD_HOST)->isEnabled()) << host;
    EXPECT_EQ(edit(IDC_FORWARD_HOST)->text(), host);
    EXPECT_EQ(ok().forwardHost, host);
  }
  // Only ASCII letters fold: U+017F (long s) must not read as "S".
  for (const char* host : {" 127.0.0.1", "localhoſt", ""}) {
    CSettingValues v = defaults();
    v.forwardHost = host;
    panel.edit(v);
    EXPECT_FALSE(check(IDC_LOCALHOST)->isChecked()) << host;
    EXPECT_TRUE(edit(IDC_FORWARD_HOST)->isEnabled()) << host;
    EXPECT_EQ(ok().forwardHost, host);
  }
}

TEST_F(SettingDlgTest, TickingLocalhostAsksAndOnlyYesChangesTheHost) {
  panel.edit(defaults());
  const CModalRecord no = clickLocalhost(QMessageBox::No);
  ASSERT_TRUE(no.seen);
  EXPECT_EQ(no.text, QString::fromUtf8(kLocalhostQuestion));
  EXPECT_EQ(no.title, "Quillex");
  EXPECT_EQ(no.icon, QMessageBox::Question);
  EXPECT_EQ(no.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(check(IDC_LOCALHOST)->isChecked());
  EXPECT_TRUE(edit(IDC_FORWARD_HOST)->isEnabled());
  EXPECT_EQ(edit(IDC_FORWARD_HOST)->text(), "server1");

  click(check(IDC_LOCALHOST));  // clearing asks nothing
  EXPECT_TRUE(edit(IDC_FORWARD_HOST)->isEnabled());
  // Esc on the question counts as No.
  const CModalRecord esc = handleModal([&] { click(check(IDC_LOCALHOST)); }, pressEscape);
  ASSERT_TRUE(esc.seen);
  EXPECT_EQ(edit(IDC_FORWARD_HOST)->text(), "server1");
  click(check(IDC_LOCALHOST));

  ASSERT_TRUE(clickLocalhost(QMessageBox::Yes).seen);
  EXPECT_EQ(edit(IDC_FORWARD_HOST)->text(), "127.0.0.1");
  EXPECT_FALSE(edit(IDC_FORWARD_HOST)->isEnabled());

  // Cleared, the text stays; ticked again on "127.0.0.1", nothing is asked
  // and the edit stays enabled.
  click(check(IDC_LOCALHOST));
  EXPECT_TRUE(edit(IDC_FORWARD_HOST)->isEnabled());
  EXPECT_FALSE(clickLocalhost(QMessageBox::Yes).seen);
  EXPECT_TRUE(edit(IDC_FORWARD_HOST)->isEnabled());

  // OK hands back the text in the edit, whatever the box shows.
  replaceText(edit(IDC_FORWARD_HOST), "server2");
  EXPECT_EQ(ok().forwardHost, "server2");
}

TEST_F(SettingDlgTest, NumericFieldsKeepThePreviousValueForTextOutsideTheRange) {
  panel.edit(defaults());
  for (const char* typed : {"abc", "70000", "-1", "1,000", "99999999999", ""}) {
    replaceText(edit(IDC_LISTEN_PORT), typed);
    replaceText(edit(IDC_FORWARD_PORT), typed);
    const CSettingValues v = ok();
    EXPECT_EQ(v.port, 10080) << typed;
    EXPECT_EQ(v.forwardPort, 80) << typed;
    panel.edit(defaults());
  }
  replaceText(edit(IDC_LISTEN_PORT), " 0 ");  // port 0 is handed back as typed
  EXPECT_EQ(ok().port, 0);
}

TEST_F(SettingDlgTest, TheBufferSizeRunsFromOneTo65536WithThousandsSeparators) {
  CSettingValues v = defaults();
  v.bufferSize = 65536;
  panel.edit(v);
  EXPECT_EQ(edit(IDC_BUFFER_SIZE)->text(), "65,536");
  EXPECT_EQ(ok().bufferSize, 65536);

  panel.edit(defaults());
  replaceText(edit(IDC_BUFFER_SIZE), "1");
  EXPECT_EQ(ok().bufferSize, 1);

  panel.edit(defaults());
  replaceText(edit(IDC_BUFFER_SIZE), "0");
  EXPECT_EQ(ok().bufferSize, 128);
  panel.edit(defaults());
  replaceText(edit(IDC_BUFFER_SIZE), "65537");
  EXPECT_EQ(ok().bufferSize, 128);

  // Up at the top of the range stays at the top.
  panel.edit(v);
  QTest::keyClick(edit(IDC_BUFFER_SIZE), Qt::Key_Up);
  EXPECT_EQ(edit(IDC_BUFFER_SIZE)->text(), "65,536");
  // The listen port's field does not step with the arrow keys.
  QTest::keyClick(edit(IDC_LISTEN_PORT), Qt::Key_Up);
  EXPECT_EQ(ok().port, 10080);
}

TEST_F(SettingDlgTest, DefaultSetsTheBufferTo128AndTouchesNothingElse) {
  panel.edit(defaults());
  replaceText(edit(IDC_BUFFER_SIZE), "9,999");
  replaceText(edit(IDC_LISTEN_PORT), "2222");
  click(button(IDC_DEFAULT));
  EXPECT_EQ(edit(IDC_BUFFER_SIZE)->text(), "128");
  EXPECT_EQ(edit(IDC_LISTEN_PORT)->text(), "2222");
  const CSettingValues v = ok();
  EXPECT_EQ(v.bufferSize, 128);
  EXPECT_EQ(v.port, 2222);
}

TEST_F(SettingDlgTest, BindAddressesShowWhatInetAddrReadsAndBlankFieldsReadAsZero) {
  CSettingValues v = defaults();
  v.ipListenBind = "myhost";
  v.ipConnectBind = "10.1";  // inet_addr's short form: 10.0.0.1
  panel.edit(v);
  EXPECT_EQ(address(IDC_LISTEN_BIND_ADDRESS)->addressText(), "255.255.255.255");
  EXPECT_EQ(address(IDC_CONNECT_BIND_ADDRESS)->field(3)->text(), "1");

  click(check(IDC_LISTEN_BIND));
  for (int i = 0; i < 4; ++i) replaceText(address(IDC_LISTEN_BIND_ADDRESS)->field(i), "");
  replaceText(address(IDC_CONNECT_BIND_ADDRESS)->field(1), "");
  // Clearing "有効にする" disables the address but keeps it.
  click(check(IDC_CONNECT_BIND));
  EXPECT_FALSE(address(IDC_CONNECT_BIND_ADDRESS)->isEnabled());
  const CSettingValues out = ok();
  EXPECT_EQ(out.ipListenBind, "0.0.0.0");
  EXPECT_EQ(out.isConnectBind, 0);
  EXPECT_EQ(out.ipConnectBind, "10.0.0.1");
}

// Keys as a user types them into whichever field has the focus: "<" and ">"
// are the arrow keys, "\b" Backspace, "v" Ctrl+V.
void typeKeys(QWidget* window, const QString& keys) {
  const std::map<QChar, QKeyCombination> special = {{'<', Qt::Key_Left}, {'>', Qt::Key_Right},
                                                    {'\b', Qt::Key_Backspace}, {'v', Qt::ControlModifier | Qt::Key_V}};
  for (QChar c : keys) {
    const auto key = special.find(c);
    if (key == special.end())
      typeText(window->focusWidget(), c);
    else
      QTest::keyClick(window->focusWidget(), key->second.key(), key->second.keyboardModifiers());
  }
}

// A right click on the field, then its entry whose text starts so.
void chooseFromFieldMenu(QWidget* field, const QString& entry) {
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    poll.stop();
    for (QAction* action : menu->actions())
      if (action->text().startsWith(entry)) action->trigger();
    menu->close();
  });
  poll.start();
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2), field->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(field, &click);
}

TEST_F(SettingDlgTest, TheAddressControlTypesAsANativeOne) {
  struct Case {
    const char* shown;  // "" for blank fields
    const char* keys;
    const char* clipboard;
    const char* address;
  } cases[] = {
      {"0.0.0.0", "192.168.1.20", "", "192.168.1.20"},  // each "." after a full field is swallowed
      {"10.20.30.40", "192..7", "", "192.20.7.40"},     // only that one: the next moves on
      {"", "1..2.3.4.", "", "1.2.3.4"},                 // none in an empty or the last field
      {"", "192.168.1\b\b\b5.7.9", "", "192.165.7.9"},  // Backspace in an empty field goes back
      {"", "1.2<<9>6", "", "19.62.0.0"},               // so do the arrows at a field's ends
      {"1.2.3.4", "v", " 10.9.8.7\n", "10.9.8.7"},     // a pasted address fills every field
      {"1.2.3.4", "v", "10.9.8.256", "1.2.3.4"},         // anything else pastes nothing
  };
  panel.edit(defaults());
  CIpAddressEdit* ip = address(IDC_CONNECT_BIND_ADDRESS);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    if (*c.shown)
      ip->setAddress(ntohl(inet_addr(c.shown)));
    else
      ip->clearAddress();
    QGuiApplication::clipboard()->setText(QString::fromUtf8(c.clipboard));
    ip->field(0)->setFocus();
    ip->field(0)->selectAll();  // as Tab leaves it
    typeKeys(&dialog, QString::fromUtf8(c.keys));
    EXPECT_EQ(ip->addressText().toStdString(), c.address);
  }
  // The field's own menu pastes a whole address too.
  QGuiApplication::clipboard()->setText("10.20.30.40");
  chooseFromFieldMenu(ip->field(2), QLineEdit::tr("&Paste"));
  EXPECT_EQ(ip->addressText().toStdString(), "10.20.30.40");
}

TEST_F(SettingDlgTest, AFieldTypedAbove255Becomes255AndSaysSo) {
  panel.edit(defaults());
  CIpAddressEdit* ip = address(IDC_CONNECT_BIND_ADDRESS);
  const CModalRecord told = answerMessageBox([&] { replaceText(ip->field(1), "999"); });
  EXPECT_TRUE(told.text.startsWith("999 ") && told.text.contains(QString::fromUtf8("0 から 255"))) << told.text.toStdString();
  EXPECT_EQ(told.icon, QMessageBox::Warning);
  EXPECT_EQ(ok().ipConnectBind, "192.255.1.5");
}

TEST_F(SettingDlgTest, ALongHostOpensShowingItsStart) {
  CSettingValues v = defaults();
  v.forwardHost = std::string(80, 'h') + ".example";
  panel.edit(v);
  EXPECT_EQ(edit(IDC_FORWARD_HOST)->cursorPosition(), 0);
}

// One Tab stop, as a native address control: Tab and Shift+Tab leave it
// from any field.
TEST_F(SettingDlgTest, TheAddressControlIsOneTabStop) {
  panel.edit(defaults());
  CIpAddressEdit* ip = address(IDC_CONNECT_BIND_ADDRESS);
  const auto press = [&](Qt::Key key) { QTest::keyClick(dialog.focusWidget(), key); };
  check(IDC_CONNECT_BIND)->setFocus();
  press(Qt::Key_Tab);
  EXPECT_EQ(dialog.focusWidget(), check(IDC_CONNECT_BIND_IPV6));  // the family, on the same row
  press(Qt::Key_Tab);
  EXPECT_EQ(dialog.focusWidget(), ip->field(0));
  for (int i = 0; i < 4; ++i) {
    ip->field(i)->setFocus();
    press(Qt::Key_Tab);
    EXPECT_EQ(dialog.focusWidget(), button(IDC_FILTER)) << i;
    ip->field(i)->setFocus();
    press(Qt::Key_Backtab);
    EXPECT_EQ(dialog.focusWidget(), check(IDC_CONNECT_BIND_IPV6)) << i;
  }
}

// Opens the filter dialog from "フィルタ条件設定" and drives it.
void editFilter(QWidget* settings, int modeId, bool confirm) {
  const CModalRecord seen = handleModal(
      [&] { click(control<QPushButton>(settings, IDC_FILTER)); },
      [&](QWidget* filterDialog) {
        click(control<QRadioButton>(filterDialog, modeId));
        click(control<QPushButton>(filterDialog, confirm ? IDOK : IDCANCEL));
      });
  EXPECT_TRUE(seen.seen);
}

TEST_F(SettingDlgTest, FilterChangesReachTheWorkingCopyOnlyThroughTheFilterDialogsOk) {
  panel.filter.mode = CIpFilter::FILTER_LAN;
  panel.edit(defaults());
  EXPECT_EQ(caption(), QString::fromUtf8("LAN内限定"));
  replaceText(edit(IDC_FORWARD_HOST), "typed.example");

  editFilter(&dialog, IDC_MODE_LOCALHOST, false);
  EXPECT_EQ(caption(), QString::fromUtf8("LAN内限定"));
  EXPECT_EQ(panel.editFilter.mode, CIpFilter::FILTER_LAN);

  editFilter(&dialog, IDC_MODE_LOCALHOST, true);
  EXPECT_EQ(caption(), QString::fromUtf8("locahost限定"));
  EXPECT_EQ(panel.editFilter.mode, CIpFilter::FILTER_LOCALHOST);
  EXPECT_EQ(edit(IDC_FORWARD_HOST)->text(), "typed.example");

  // Cancel in the settings dialog: the panel's filter stays as it was.
  click(button(IDCANCEL));
  EXPECT_EQ(panel.filter.mode, CIpFilter::FILTER_LAN);

  // And the next edit starts from it again.
  panel.edit(defaults());
  EXPECT_EQ(caption(), QString::fromUtf8("LAN内限定"));
  editFilter(&dialog, IDC_MODE_ALL, true);
  ok();
  EXPECT_EQ(panel.filter.mode, CIpFilter::FILTER_ALL);
}

TEST_F(SettingDlgTest, AnEditEndedForAPanelBeingDestroyedNeverCallsIt) {
  CFakePanel other(dialog);
  panel.edit(defaults());
  dialog.cancelEdit(&other);  // not the panel being edited: no effect
  EXPECT_TRUE(dialog.isEditing());
  dialog.cancelEdit(&panel);
  EXPECT_FALSE(dialog.isEditing());
  EXPECT_FALSE(dialog.isVisible());
  // The filter button has nothing left to edit.
  EXPECT_FALSE(handleModal([&] { click(button(IDC_FILTER)); }, pressEscape, 0).seen);
  click(button(IDOK));
  EXPECT_EQ(panel.calls, 0);
}

TEST_F(SettingDlgTest, BeginEditCentresTheDialogOverTheMainWindow) {
  QWidget main;
  main.setGeometry(100, 100, 600, 400);
  main.show();
  auto* owned = new CSettingDlg(&main);  // the main window owns it, as in the program
  CFakePanel editor(*owned);
  owned->beginEdit(&editor);
  EXPECT_LE((owned->frameGeometry().center() - main.frameGeometry().center()).manhattanLength(), 2);
  owned->cancelEdit();
  EXPECT_FALSE(owned->isEditing());
}

}  // namespace
