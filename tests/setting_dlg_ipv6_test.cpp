// The settings dialog's IPv6 bind addresses and its choice of both families
// for the listener, driven as a user drives them.
#include <gtest/gtest.h>

#include <QTest>
#include <string>

#include "resources/dialog_texts.h"
#include "tests/setting_dlg_fixture.h"

namespace {

bool isIPv6Text(const std::string& text) { return text.find(':') != std::string::npos; }

// What a profile holds opens as it is, in the family its text is, and OK
// hands it back unchanged, byte for byte.
TEST_F(SettingDlgTest, BindAddressesOpenInTheirFamilyAndGoBackAsStored) {
  const struct {
    const char* listen;
    int listenBind;
    const char* connect;
    int connectBind;
    int dual;
  } cases[] = {
      {"fe80::1%lo", 1, "2001:db8::1", 1, 0},                    // scoped, and plain
      {"[::1]", 1, "[2001:db8:85a3::8a2e:370:7334]", 0, 0},      // bracketed; kept while unused
      {"::", 0, "192.168.1.5", 1, 1},                            // the wildcard, both families
      {"127.0.0.1", 1, "10.0.0.1", 0, 1},                        // greyed by a bind address, kept
      {"127.0.0.1", 0, "10.0.0.1", 0, 0},                        // IPv4 alone: as it always was
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.listen);
    CSettingValues v = defaults();
    v.ipListenBind = c.listen;
    v.isListenBind = c.listenBind;
    v.ipConnectBind = c.connect;
    v.isConnectBind = c.connectBind;
    v.listenDual = c.dual;
    panel.edit(v);
    const struct { const char* text; int bind, ipv6Id, textId, addressId; } sides[] = {
        {c.listen, c.listenBind, IDC_LISTEN_BIND_IPV6, IDC_LISTEN_BIND_TEXT, IDC_LISTEN_BIND_ADDRESS},
        {c.connect, c.connectBind, IDC_CONNECT_BIND_IPV6, IDC_CONNECT_BIND_TEXT, IDC_CONNECT_BIND_ADDRESS}};
    for (const auto& side : sides) {
      const bool ipv6 = isIPv6Text(side.text);
      EXPECT_EQ(check(side.ipv6Id)->isChecked(), ipv6);
      EXPECT_EQ(edit(side.textId)->isVisible(), ipv6);
      EXPECT_EQ(address(side.addressId)->isVisible(), !ipv6);
      EXPECT_EQ(edit(side.textId)->text(), ipv6 ? side.text : "");
      EXPECT_EQ(edit(side.textId)->isEnabled(), side.bind == 1);
    }
    EXPECT_EQ(check(IDC_LISTEN_DUAL)->isChecked(), c.dual == 1);
    EXPECT_EQ(check(IDC_LISTEN_DUAL)->isEnabled(), c.listenBind == 0);

    const CSettingValues out = ok();
    EXPECT_EQ(out.ipListenBind, c.listen);
    EXPECT_EQ(out.ipConnectBind, c.connect);
    EXPECT_EQ(out.listenDual, c.dual);
  }
  panel.edit(defaults());  // listen-bind off: both families are a choice until it is ticked
  EXPECT_TRUE(check(IDC_LISTEN_DUAL)->isEnabled());
  click(check(IDC_LISTEN_BIND));
  EXPECT_FALSE(check(IDC_LISTEN_DUAL)->isEnabled());
}

// Ticking "IPv6" puts a text field where the address control was; clearing
// the tick brings the control back with the address it held.
TEST_F(SettingDlgTest, IPv6TakesTheAddressControlsPlaceAndGivesItBack) {
  panel.edit(defaults());  // connect-bind on, 192.168.1.5
  QLineEdit* text = edit(IDC_CONNECT_BIND_TEXT);
  click(check(IDC_CONNECT_BIND_IPV6));
  EXPECT_FALSE(address(IDC_CONNECT_BIND_ADDRESS)->isVisible());
  ASSERT_TRUE(text->isVisible());
  EXPECT_EQ(text->geometry().topLeft(), address(IDC_CONNECT_BIND_ADDRESS)->geometry().topLeft());
  EXPECT_EQ(text->placeholderText(), QString::fromUtf8(kBindHint6));
  QTest::keyClick(check(IDC_CONNECT_BIND_IPV6), Qt::Key_Tab);
  EXPECT_EQ(dialog.focusWidget(), text);
  typeText(text, "2001:db8::5");
  click(check(IDC_CONNECT_BIND_IPV6));
  EXPECT_TRUE(address(IDC_CONNECT_BIND_ADDRESS)->isVisible());
  EXPECT_EQ(ok().ipConnectBind, "192.168.1.5");

  panel.edit(defaults());
  click(check(IDC_CONNECT_BIND_IPV6));
  typeText(text, "2001:db8::5");
  QTest::keyClick(text, Qt::Key_Return);  // Enter is OK, as in every field
  EXPECT_EQ(panel.calls, 2);
  EXPECT_EQ(panel.values.ipConnectBind, "2001:db8::5");
}

// An IPv6 address in use that is none stops OK with a message, and the
// field keeps the focus to be put right. Unused (its bind off), it is kept
// as typed, as an unused IPv4 address is.
TEST_F(SettingDlgTest, OkRefusesAnIPv6BindAddressThatIsNoneAndSaysSo) {
  for (const char* bad : {"2001:db8::g", "1.2.3.4", "", "fe80::1%nosuchif0", " ::1", "::1/128"}) {
    SCOPED_TRACE(bad);
    panel.edit(defaults());
    click(check(IDC_LISTEN_BIND));
    click(check(IDC_LISTEN_BIND_IPV6));
    replaceText(edit(IDC_LISTEN_BIND_TEXT), bad);
    const CModalRecord box = answerMessageBox([&] { click(button(IDOK)); });
    EXPECT_EQ(box.text, QString::fromUtf8(kBindFormatMessage6));
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(panel.calls, 0);
    EXPECT_TRUE(dialog.isEditing());
    EXPECT_EQ(dialog.focusWidget(), edit(IDC_LISTEN_BIND_TEXT));
    click(button(IDCANCEL));
  }
  panel.edit(defaults());
  click(check(IDC_LISTEN_BIND));
  click(check(IDC_LISTEN_BIND_IPV6));
  replaceText(edit(IDC_LISTEN_BIND_TEXT), "2001:db8::g");
  click(check(IDC_LISTEN_BIND));
  const CSettingValues v = ok();
  EXPECT_EQ(v.isListenBind, 0);
  EXPECT_EQ(v.ipListenBind, "2001:db8::g");
}

}  // namespace
