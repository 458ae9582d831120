// The address list panel driven as a user drives it: typed entries, clicks on
// "追加" and "削除", and the message boxes answered.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "dialogs/ip_condition_dlg.h"
#include "filter/ip_filter.h"
#include "resources/dialog_texts.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/gui_test_util.h"

namespace {

class IpConditionDlgTest : public ::testing::Test {
 protected:
  IpConditionDlgTest() : panel(new CIpConditionDlg(&host)) {
    host.resize(400, 300);
    host.show();
    panel->show();
  }

  QLineEdit* edit() { return control<QLineEdit>(panel, IDC_ENTRY_TEXT); }
  QListWidget* list() { return control<QListWidget>(panel, IDC_ENTRY_LIST); }
  QPushButton* button(int id) { return control<QPushButton>(panel, id); }

  // Types the text and clicks "追加"; returns what a message box said, if any.
  CModalRecord add(const QString& text) {
    replaceText(edit(), text);
    return answerMessageBox([&] { click(button(IDC_ADD)); });
  }
  QStringList entries() {
    QStringList all;
    for (int i = 0; i < panel->getEntryCount(); ++i) all << panel->getEntry(i);
    return all;
  }

  QWidget host;
  CIpConditionDlg* panel;
};

// The same entry twice is allowed.
TEST_F(IpConditionDlgTest, WellFormedEntriesAreAddedAsTypedAndSelectedEvenTwice) {
  const QStringList accepted = {"192.168.0.0/16", "10.0.0.1", "0.0.0.0/0", "001.002.003.004",
                                "10..0.1",        "1.2.3.",   "1.2.3.4/", "10.0.0.1"};
  for (const QString& text : accepted) {
    SCOPED_TRACE(text.toStdString());
    const CModalRecord box = add(text);
    EXPECT_FALSE(box.seen) << box.text.toStdString();
    EXPECT_EQ(panel->getEntry(panel->getEntryCount() - 1), text);
    EXPECT_EQ(list()->currentRow(), panel->getEntryCount() - 1);
    EXPECT_TRUE(list()->item(panel->getEntryCount() - 1)->isSelected());
    EXPECT_EQ(edit()->text(), text);  // kept, so it can be added again
  }
  EXPECT_EQ(entries(), accepted);
}

TEST_F(IpConditionDlgTest, MalformedEntriesGetTheFormatMessageAndChangeNothing) {
  panel->appendEntry("10.0.0.1");
  // The grammar itself is the filter's; a sample shows the panel uses it on the text as typed.
  const QStringList refused = {"192.168.1.300", "1.2.3", "1.2.3.4/33", " 1.2.3.4", "1.2.3.4 ", "", "１.2.3.4"};
  for (const QString& text : refused) {
    SCOPED_TRACE(text.toStdString());
    const CModalRecord box = add(text);
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.text, QString::fromUtf8(kEntryFormatMessage));
    EXPECT_EQ(box.title, "Quillex");
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(entries(), QStringList{"10.0.0.1"});
    EXPECT_EQ(edit()->text(), text);
  }
}

// IPv6 entries and prefixes share the ten slots with IPv4 ones, kept as
// typed. Text with a colon is judged as IPv6 and told IPv6's form; any other
// keeps IPv4's rules, quirks and message.
TEST_F(IpConditionDlgTest, IPv6EntriesAreAddedAsTypedAndOthersKeepIPv4sRules) {
  const char* const v4 = kEntryFormatMessage;
  const char* const v6 = kEntryFormatMessage6;
  const struct {
    const char* typed;
    const char* message;  // null: added
  } cases[] = {
      {"2001:db8::/32", nullptr}, {"fe80::1", nullptr}, {"::1", nullptr}, {"::/0", nullptr},
      {"2001:DB8:0:0:0:0:0:1/128", nullptr}, {"::ffff:192.0.2.1", nullptr}, {"10..0.1", nullptr},
      {"2001:db8::/129", v6}, {"fe80::1%eth0", v6}, {"[::1]", v6}, {"1::2::3", v6}, {"::1 ", v6},
      {"2001:db8::/", v6}, {"12345::", v6}, {"1.2.3.4:80", v6}, {"::", nullptr},
      {"1.2.3.4/33", v4}, {"2001.db8", v4}, {"", v4},
  };
  QStringList added;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    const CModalRecord box = add(QString::fromUtf8(c.typed));
    EXPECT_EQ(box.seen, c.message != nullptr);
    EXPECT_EQ(box.text, c.message ? QString::fromUtf8(c.message) : QString());
    if (!c.message) added << QString::fromUtf8(c.typed);
  }
  EXPECT_EQ(entries(), added);
}

TEST_F(IpConditionDlgTest, TheEleventhEntryIsRefusedUntilOneIsDeleted) {
  for (int i = 0; i < 10; ++i) ASSERT_FALSE(add(QString("10.0.0.%1").arg(i)).seen);
  const QStringList full = entries();

  const CModalRecord limit = add("10.0.0.99");
  ASSERT_TRUE(limit.seen);
  EXPECT_EQ(limit.text, QString::fromUtf8("登録は10件までです"));
  EXPECT_EQ(limit.icon, QMessageBox::Warning);
  EXPECT_EQ(entries(), full);

  // The form is checked before the count.
  EXPECT_EQ(add("1.2.3").text, QString::fromUtf8(kEntryFormatMessage));

  clickRow(list(), 3);
  click(button(IDC_DELETE));
  ASSERT_EQ(panel->getEntryCount(), 9);
  EXPECT_FALSE(add("10.0.0.99").seen);
  EXPECT_EQ(panel->getEntry(9), "10.0.0.99");
}

// The widest entries scroll only vertically: no row hides under a
// horizontal scroll bar, and one cut at the edge shows whole on hover.
TEST_F(IpConditionDlgTest, AFullListScrollsOnlyVerticallyAndCutEntriesShowOnHover) {
  add("10.0.0.1");
  for (int i = 1; i < MAX_FILTER_ENTRIES; ++i) panel->appendEntry("255.255.255.255/32");
  EXPECT_TRUE(QTest::qWaitFor([&] { return list()->verticalScrollBar()->isVisible(); }, 5000));
  EXPECT_FALSE(list()->horizontalScrollBar()->isVisible());
  EXPECT_EQ(list()->item(0)->toolTip(), "");
  EXPECT_EQ(list()->item(1)->toolTip(), "255.255.255.255/32");
}

TEST_F(IpConditionDlgTest, DeleteRemovesOnlyTheSelectedEntryAndLeavesNoSelection) {
  for (const char* text : {"1.1.1.1", "2.2.2.2", "3.3.3.3"}) panel->appendEntry(text);
  replaceText(edit(), "9.9.9.9");

  click(button(IDC_DELETE));  // nothing selected
  EXPECT_EQ(entries(), (QStringList{"1.1.1.1", "2.2.2.2", "3.3.3.3"}));

  clickRow(list(), 1);
  click(button(IDC_DELETE));
  EXPECT_EQ(entries(), (QStringList{"1.1.1.1", "3.3.3.3"}));
  EXPECT_TRUE(list()->selectedItems().isEmpty());

  click(button(IDC_DELETE));  // the selection went with the entry
  EXPECT_EQ(entries(), (QStringList{"1.1.1.1", "3.3.3.3"}));
  EXPECT_EQ(edit()->text(), "9.9.9.9");
}

TEST_F(IpConditionDlgTest, ADisabledPanelIgnoresClicks) {
  panel->appendEntry("1.1.1.1");
  replaceText(edit(), "2.2.2.2");
  list()->setCurrentRow(0);
  panel->setPanelEnabled(false);
  for (int id : {IDC_ENTRY_TEXT, IDC_TITLE, IDC_ENTRY_LIST, IDC_ADD, IDC_DELETE}) {
    EXPECT_FALSE(findControl(panel, id)->isEnabled()) << id;
  }
  EXPECT_FALSE(answerMessageBox([&] { click(button(IDC_ADD)); }).seen);
  click(button(IDC_DELETE));
  typeText(edit(), "9");
  EXPECT_EQ(entries(), QStringList{"1.1.1.1"});

  panel->setPanelEnabled(true);
  click(button(IDC_ADD));
  EXPECT_EQ(entries(), (QStringList{"1.1.1.1", "2.2.2.2"}));
}

}  // namespace
