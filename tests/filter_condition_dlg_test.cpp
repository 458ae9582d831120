// The filter condition dialog run modally on a filter copy, driven by clicks
// on its radio buttons, panels and buttons from inside its own loop.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QGroupBox>
#include <QListWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "dialogs/filter_condition_dlg.h"
#include "dialogs/ip_condition_dlg.h"
#include "filter/ip_filter.h"
#include "resources/dialog_texts.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/gui_test_util.h"

namespace {

constexpr int kModeIds[] = {IDC_MODE_ALL, IDC_MODE_LOCALHOST, IDC_MODE_LAN, IDC_MODE_INDIVIDUAL};

CIpFilter sampleFilter(int mode) {
  CIpFilter filter;
  filter.mode = mode;
  filter.refuseIpCount = 2;
  filter.refuseIp[0] = "10.0.0.5";
  filter.refuseIp[1] = "192.168.1.0/24";
  filter.enableIpCount = 1;
  filter.enableIp[0] = "192.168.0.0/16";
  return filter;
}

// The two panels, refused first: they are the dialog's only panels, in
// creation order.
struct Panels {
  CIpConditionDlg* refuse;
  CIpConditionDlg* enable;
};
Panels panelsOf(QWidget* dialog) {
  const auto all = dialog->findChildren<CIpConditionDlg*>(Qt::FindDirectChildrenOnly);
  return {all.value(0), all.value(1)};
}

QStringList entriesOf(const CIpConditionDlg* panel) {
  QStringList all;
  for (int i = 0; i < panel->getEntryCount(); ++i) all << panel->getEntry(i);
  return all;
}

// Runs the dialog on filter; inside its loop, `drive` gets the dialog.
int runDialog(CIpFilter& filter, const std::function<void(QWidget*)>& drive) {
  CFilterConditionDlg dialog;
  dialog.filter = &filter;
  int result = -1;
  const CModalRecord seen = handleModal([&] { result = dialog.exec(); }, drive);
  EXPECT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, QString::fromUtf8("フィルタリング条件"));
  return result;
}

void addEntry(CIpConditionDlg* panel, const QString& text) {
  replaceText(control<QLineEdit>(panel, IDC_ENTRY_TEXT), text);
  const CModalRecord box = answerMessageBox([&] { click(control<QPushButton>(panel, IDC_ADD)); });
  EXPECT_FALSE(box.seen) << box.text.toStdString();
}

TEST(FilterConditionDlgTest, OpensWithTheModeAndListsAndEnablesPanelsOnlyForIndividual) {
  for (int mode = 0; mode < 4; ++mode) {
    SCOPED_TRACE(mode);
    CIpFilter filter = sampleFilter(mode);
    runDialog(filter, [&](QWidget* dialog) {
      EXPECT_TRUE(control<QRadioButton>(dialog, kModeIds[mode])->isChecked());
      const Panels panels = panelsOf(dialog);
      ASSERT_TRUE(panels.refuse && panels.enable);
      EXPECT_EQ(entriesOf(panels.refuse), (QStringList{"10.0.0.5", "192.168.1.0/24"}));
      EXPECT_EQ(entriesOf(panels.enable), QStringList{"192.168.0.0/16"});
      EXPECT_EQ(control<QGroupBox>(panels.refuse, IDC_TITLE)->title(), QString::fromUtf8("接続拒否"));
      EXPECT_EQ(control<QGroupBox>(panels.enable, IDC_TITLE)->title(), QString::fromUtf8("接続可能"));
      // Refused on the left, allowed on the right, side by side.
      EXPECT_LT(panels.refuse->x(), panels.enable->x());
      EXPECT_EQ(panels.refuse->y(), panels.enable->y());
      EXPECT_GE(panels.enable->geometry().right(), panels.refuse->geometry().right());
      EXPECT_LE(panels.enable->geometry().right(), dialog->width());
      const bool individual = mode == CIpFilter::FILTER_INDIVIDUAL;
      EXPECT_EQ(panels.refuse->isEnabled(), individual);
      EXPECT_EQ(panels.enable->isEnabled(), individual);
      pressEscape(dialog);
    });
  }
}

TEST(FilterConditionDlgTest, SwitchingModesEnablesAndDisablesBothPanelsAtOnce) {
  CIpFilter filter = sampleFilter(CIpFilter::FILTER_ALL);
  runDialog(filter, [&](QWidget* dialog) {
    const Panels panels = panelsOf(dialog);
    const auto choose = [&](int mode) { click(control<QRadioButton>(dialog, kModeIds[mode])); };
    choose(CIpFilter::FILTER_INDIVIDUAL);
    EXPECT_TRUE(panels.refuse->isEnabled());
    EXPECT_TRUE(panels.enable->isEnabled());
    EXPECT_TRUE(findControl(panels.enable, IDC_ADD)->isEnabled());
    choose(CIpFilter::FILTER_LAN);
    EXPECT_FALSE(panels.refuse->isEnabled());
    EXPECT_FALSE(panels.enable->isEnabled());
    EXPECT_FALSE(findControl(panels.refuse, IDC_TITLE)->isEnabled());
    choose(CIpFilter::FILTER_INDIVIDUAL);
    EXPECT_TRUE(panels.refuse->isEnabled());
    EXPECT_EQ(entriesOf(panels.refuse).size(), 2);  // lists survive the switching
    pressEscape(dialog);
  });
}

// Arrows go through the group in template order, not by screen position
// ("ＬＡＮ限定" stands below "全て許可"), and choose as a click does.
TEST(FilterConditionDlgTest, ArrowKeysChooseTheModesInTemplateOrder) {
  CIpFilter filter = sampleFilter(CIpFilter::FILTER_ALL);
  runDialog(filter, [&](QWidget* dialog) {
    QButtonGroup* modes = radioGroup(dialog, IDC_MODE_ALL);
    control<QRadioButton>(dialog, IDC_MODE_ALL)->setFocus();
    const auto press = [&](Qt::Key key, int chosen) {
      QTest::keyClick(dialog->focusWidget(), key);
      EXPECT_EQ(checkedRadioIndex(modes), chosen);
    };
    for (int mode : {1, 2, 3, 0}) press(Qt::Key_Down, mode);
    press(Qt::Key_Up, 3);
    EXPECT_TRUE(panelsOf(dialog).refuse->isEnabled());
    pressEscape(dialog);
  });
}

TEST(FilterConditionDlgTest, OkWritesTheModeAndBothListsInOrder) {
  CIpFilter filter = sampleFilter(CIpFilter::FILTER_LAN);
  filter.enableIpCount = 3;  // slots beyond the new count are left alone
  filter.enableIp[1] = "8.8.8.8";
  filter.enableIp[2] = "9.9.9.9";
  const int result = runDialog(filter, [&](QWidget* dialog) {
    const Panels panels = panelsOf(dialog);
    click(control<QRadioButton>(dialog, IDC_MODE_INDIVIDUAL));
    addEntry(panels.refuse, "172.16.0.0/12");
    addEntry(panels.refuse, "2001:DB8::/32");
    clickRow(control<QListWidget>(panels.enable, IDC_ENTRY_LIST), 1);
    click(control<QPushButton>(panels.enable, IDC_DELETE));
    addEntry(panels.enable, "127.0.0.1");
    // Back to "全て許可": the lists are still stored.
    click(control<QRadioButton>(dialog, IDC_MODE_ALL));
    click(control<QPushButton>(dialog, IDOK));
  });
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(filter.mode, CIpFilter::FILTER_ALL);
  ASSERT_EQ(filter.refuseIpCount, 4);
  EXPECT_EQ(filter.refuseIp[0], "10.0.0.5");
  EXPECT_EQ(filter.refuseIp[1], "192.168.1.0/24");
  EXPECT_EQ(filter.refuseIp[2], "172.16.0.0/12");
  EXPECT_EQ(filter.refuseIp[3], "2001:DB8::/32");  // as typed
  ASSERT_EQ(filter.enableIpCount, 3);
  EXPECT_EQ(filter.enableIp[0], "192.168.0.0/16");
  EXPECT_EQ(filter.enableIp[1], "9.9.9.9");
  EXPECT_EQ(filter.enableIp[2], "127.0.0.1");
}

// Enter and Esc in a list's panel, wherever its focus is, neither close the
// dialog nor change the list, and the typed text stays; Tab runs through the
// lists before OK and Cancel, as they stand on screen.
TEST(FilterConditionDlgTest, EnterAndEscInAListStayThereAndTabFollowsTheScreen) {
  CIpFilter filter = sampleFilter(CIpFilter::FILTER_INDIVIDUAL);
  runDialog(filter, [&](QWidget* dialog) {
    const Panels panels = panelsOf(dialog);
    auto* edit = control<QLineEdit>(panels.refuse, IDC_ENTRY_TEXT);
    replaceText(edit, "172.16.0.0/12");
    control<QListWidget>(panels.refuse, IDC_ENTRY_LIST)->setCurrentRow(0);
    for (int id : {IDC_ENTRY_TEXT, IDC_ENTRY_LIST, IDC_ADD, IDC_DELETE})
      for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QWidget* focused = findControl(panels.refuse, id);
        focused->setFocus();
        const CModalRecord box = answerMessageBox([&] { QTest::keyClick(focused, key); });
        EXPECT_FALSE(box.seen) << id << " " << key;
        EXPECT_TRUE(dialog->isVisible()) << id << " " << key;
        EXPECT_EQ(panels.refuse->getEntryCount(), 2) << id << " " << key;
        EXPECT_EQ(edit->text(), "172.16.0.0/12") << id << " " << key;
      }

    control<QRadioButton>(dialog, IDC_MODE_INDIVIDUAL)->setFocus();
    std::vector<QWidget*> order;
    for (int i = 0; i < 10; ++i) {
      QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
      order.push_back(dialog->focusWidget());
    }
    std::vector<QWidget*> expected;
    for (CIpConditionDlg* panel : {panels.refuse, panels.enable})
      for (int id : {IDC_ENTRY_TEXT, IDC_ENTRY_LIST, IDC_ADD, IDC_DELETE}) expected.push_back(findControl(panel, id));
    expected.push_back(findControl(dialog, IDOK));
    expected.push_back(findControl(dialog, IDCANCEL));
    EXPECT_EQ(order, expected);
    click(control<QPushButton>(dialog, IDOK));
  });
  EXPECT_EQ(filter.refuseIpCount, 2);
}

TEST(FilterConditionDlgTest, CancelEscAndTheCloseBoxLeaveTheFilterUntouched) {
  const std::function<void(QWidget*)> closers[] = {
      [](QWidget* d) { click(control<QPushButton>(d, IDCANCEL)); },
      [](QWidget* d) { pressEscape(d); },
      [](QWidget* d) { d->close(); },
  };
  for (const auto& close : closers) {
    CIpFilter filter = sampleFilter(CIpFilter::FILTER_INDIVIDUAL);
    const int result = runDialog(filter, [&](QWidget* dialog) {
      const Panels panels = panelsOf(dialog);
      addEntry(panels.enable, "1.2.3.4");
      click(control<QRadioButton>(dialog, IDC_MODE_LAN));
      close(dialog);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(filter.mode, CIpFilter::FILTER_INDIVIDUAL);
    EXPECT_EQ(filter.enableIpCount, 1);
    EXPECT_EQ(filter.enableIp[1], "");
  }
}

TEST(FilterConditionDlgTest, AModeOutsideTheRangeOpensWithNoChoiceAndOkStoresMinusOne) {
  CIpFilter filter = sampleFilter(7);
  runDialog(filter, [&](QWidget* dialog) {
    EXPECT_EQ(radioGroup(dialog, IDC_MODE_ALL)->checkedButton(), nullptr);
    const Panels panels = panelsOf(dialog);
    EXPECT_FALSE(panels.refuse->isEnabled());
    EXPECT_FALSE(panels.enable->isEnabled());
    click(control<QPushButton>(dialog, IDOK));
  });
  EXPECT_EQ(filter.mode, -1);
  EXPECT_EQ(filter.refuseIpCount, 2);
}

TEST(FilterConditionDlgTest, CountsOutsideTheRangeNeverReachPastTheTenthEntry) {
  CIpFilter filter;
  filter.mode = CIpFilter::FILTER_INDIVIDUAL;
  filter.enableIpCount = 1000;
  filter.refuseIpCount = -5;
  for (int i = 0; i < MAX_FILTER_ENTRIES; ++i) filter.enableIp[i] = QString("10.0.0.%1").arg(i).toStdString();
  runDialog(filter, [&](QWidget* dialog) {
    const Panels panels = panelsOf(dialog);
    EXPECT_EQ(panels.enable->getEntryCount(), MAX_FILTER_ENTRIES);
    EXPECT_EQ(panels.refuse->getEntryCount(), 0);
    click(control<QPushButton>(dialog, IDOK));
  });
  EXPECT_EQ(filter.enableIpCount, MAX_FILTER_ENTRIES);
  EXPECT_EQ(filter.refuseIpCount, 0);
  EXPECT_EQ(filter.enableIp[9], "10.0.0.9");
}

}  // namespace
