// The system properties and About dialogs, the version text and the icon,
// driven as the main window and a user drive them.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>
#include <functional>

#include "app/about_dlg.h"
#include "app/propaty_dlg.h"
#include "app/version_text.h"
#include "resources/app_icon.h"
#include "resources/home_page.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/gui_test_util.h"

namespace {

// Runs the dialog modally; act plays the user's part and must close it.
template <class Dialog>
int run(Dialog& dialog, const std::function<void(Dialog&)>& act) {
  int result = -1;
  const CModalRecord record = handleModal([&] { result = dialog.exec(); },
                                          [&](QWidget*) { act(dialog); });
  EXPECT_TRUE(record.seen);
  return result;
}

QRadioButton* radio(const QWidget* dialog, int id) { return control<QRadioButton>(dialog, id); }

// Which buttons of the two groups show checked, in template order.
QString checkedButtons(const CPropatyDlg& dialog) {
  QString marks;
  for (int id : {IDC_START_CLOSE, IDC_START_OPEN, IDC_PORTS_1, IDC_PORTS_5, IDC_PORTS_10}) {
    marks += radio(&dialog, id)->isChecked() ? QLatin1Char('x') : QLatin1Char('.');
  }
  return marks;
}

TEST(PropatyDlgTest, OpensOnTheStoredChoicesAndOkUnchangedReturnsThem) {
  CPropatyDlg dialog;
  dialog.startWindowChoice = 1;  // WINDOW 1
  dialog.portCountChoice = 1;    // PORTNUM 5
  const int result = run<CPropatyDlg>(dialog, [](CPropatyDlg& d) {
    EXPECT_EQ(d.windowTitle(), QString::fromUtf8("システムプロパティ"));
    EXPECT_EQ(checkedButtons(d), ".x.x.");
    EXPECT_EQ(radio(&d, IDC_START_OPEN)->text(), QString::fromUtf8("開く"));
    EXPECT_EQ(radio(&d, IDC_PORTS_5)->text(), QString::fromUtf8("５ポート"));
    // Each group is one Tab stop: its checked button.
    control<QPushButton>(&d, IDOK)->setFocus();
    for (int id : {IDC_PORTS_5, IDC_START_OPEN}) {
      QTest::keyClick(d.focusWidget(), Qt::Key_Backtab);
      EXPECT_EQ(d.focusWidget(), radio(&d, id));
    }
    click(control<QPushButton>(&d, IDOK));
  });
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(dialog.startWindowChoice, 1);
  EXPECT_EQ(dialog.portCountChoice, 1);
}

TEST(PropatyDlgTest, OkReturnsTheClickedButtonsByTabOrderAndCancelDropsThem) {
  CPropatyDlg dialog;
  dialog.startWindowChoice = 1;
  dialog.portCountChoice = 1;
  const auto choose = [](CPropatyDlg& d) {
    click(radio(&d, IDC_START_CLOSE));
    click(radio(&d, IDC_PORTS_10));  // id 1054, third in tab order
  };
  EXPECT_EQ(run<CPropatyDlg>(dialog, [&](CPropatyDlg& d) {
              choose(d);
              EXPECT_EQ(checkedButtons(d), "x...x");
              click(control<QPushButton>(&d, IDCANCEL));
            }),
            QDialog::Rejected);
  EXPECT_EQ(dialog.startWindowChoice, 1);
  EXPECT_EQ(dialog.portCountChoice, 1);

  CPropatyDlg accepted;
  accepted.startWindowChoice = 1;
  accepted.portCountChoice = 0;
  EXPECT_EQ(run<CPropatyDlg>(accepted, [&](CPropatyDlg& d) {
              choose(d);
              click(control<QPushButton>(&d, IDOK));
            }),
            QDialog::Accepted);
  EXPECT_EQ(accepted.startWindowChoice, 0);
  EXPECT_EQ(accepted.portCountChoice, 2);
}

TEST(PropatyDlgTest, AStoredValueOutsideTheGroupSelectsNothingAndOkReturnsMinusOne) {
  CPropatyDlg dialog;
  dialog.startWindowChoice = 3;  // WINDOW edited by hand
  dialog.portCountChoice = 2;
  EXPECT_EQ(run<CPropatyDlg>(dialog, [](CPropatyDlg& d) {
              EXPECT_EQ(checkedButtons(d), "....x");
              QTest::keyClick(control<QPushButton>(&d, IDOK), Qt::Key_Return);
            }),
            QDialog::Accepted);
  EXPECT_EQ(dialog.startWindowChoice, -1);
  EXPECT_EQ(dialog.portCountChoice, 2);
}

// Records what the home-page link asks to open instead of starting a browser.
class AboutDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setUrlOpener([this](const QUrl& url) { opened << url; });
  }
  void TearDown() override { setUrlOpener({}); }

  QList<QUrl> opened;
};

QString versionShown(CAboutDlg& d) { return control<QLabel>(&d, IDC_VERSION)->text(); }

TEST_F(AboutDlgTest, ShowsTheIconAndTheCompiledInVersionWithHyphensBuiltOnce) {
  for (int opening = 0; opening < 2; ++opening) {
    CAboutDlg dialog;
    EXPECT_TRUE(dialog.versionLine.isEmpty());
    EXPECT_EQ(run<CAboutDlg>(dialog, [](CAboutDlg& d) {
                EXPECT_EQ(d.windowTitle(), QString::fromUtf8("Quillexのﾊﾞｰｼﾞｮﾝ情報"));
                EXPECT_EQ(versionShown(d), QString::fromUtf8("クイレクス Ver.:1- 1- 1- 115"));
                EXPECT_EQ(d.versionLine, versionShown(d));
                bool iconShown = false;
                for (const QLabel* label : d.findChildren<QLabel*>()) {
                  iconShown = iconShown || !label->pixmap().isNull();
                }
                EXPECT_TRUE(iconShown);
                click(control<QPushButton>(&d, IDOK));
              }),
              QDialog::Accepted);
  }
  EXPECT_EQ(getVersionText(), "Ver.:1, 1, 1, 115");
  EXPECT_EQ(&getVersionText(), &getVersionText());
  EXPECT_EQ(versionTextBuildCount(), 1);
}

TEST_F(AboutDlgTest, SemicolonsShowAsPeriodsAndCommasAsHyphens) {
  EXPECT_EQ(formatVersionText("1;2;3"), "Ver.:1;2;3");
  EXPECT_EQ(CAboutDlg::versionLineFor(formatVersionText("1;2;3")),
            QString::fromUtf8("クイレクス Ver.:1.2.3"));
  EXPECT_EQ(replaceVersionSeparators("2, 0;1,,5"), "2- 0.1--5");
  // No version at all: the title and one trailing blank.
  EXPECT_EQ(CAboutDlg::versionLineFor(""), QString::fromUtf8("クイレクス "));
}

TEST_F(AboutDlgTest, TheLinkOpensTheHomePageAndTheDialogStaysOpen) {
  CAboutDlg dialog;
  EXPECT_EQ(run<CAboutDlg>(dialog, [&](CAboutDlg& d) {
              auto* link = control<QLabel>(&d, IDC_HOME_LINK);
              const QPoint onText(link->fontMetrics().averageCharWidth() * 2, link->height() / 2);
              QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, onText);
              EXPECT_EQ(opened, QList<QUrl>{QUrl("https://bellmoth.example/")});
              EXPECT_TRUE(d.isVisible());
              pressEscape(&d);
            }),
            QDialog::Rejected);
}

TEST(AppIconTest, EverySizeIsEmbeddedAndDrawn) {
  const QIcon icon = quillexIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 32, 48, 64, 128, 256}) {
    SCOPED_TRACE(size);
    const QImage image = icon.pixmap(size, size).toImage();
    ASSERT_EQ(image.size(), QSize(size, size));
    // Opaque in the middle; the rounded corner is clear but for antialiasing.
    EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255);
    EXPECT_LT(qAlpha(image.pixel(0, 0)), 16);
  }
}

}  // namespace
