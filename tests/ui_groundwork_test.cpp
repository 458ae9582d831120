// The groundwork under every window: templates and their builder, the
// message boxes, the dialog font's coverage of every text, and the reactor
// joined to Qt's loop.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <QButtonGroup>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRawFont>
#include <QStyleOptionGroupBox>
#include <QSet>
#include <QTableWidget>
#include <QTest>
#include <QTextDocumentFragment>

#include "app/about_dlg.h"
#include "app/propaty_dlg.h"
#include "app/qt_loop_adapter.h"
#include "dialogs/status_dlg.h"
#include "relay/event_loop.h"
#include "resources/dialog_font.h"
#include "resources/dialog_texts.h"
#include "resources/ip_address_edit.h"
#include "resources/message_box.h"
#include "resources/resource_ids.h"
#include "resources/spin_button.h"
#include "resources/template_builder.h"
#include "resources/templates.h"
#include "tests/gui_test_util.h"

namespace {

TEST(TemplateTest, IdsAreUniqueWithinATemplateAndSpinBuddiesComeFirst) {
  for (const DialogTemplate* t : allDialogTemplates()) {
    SCOPED_TRACE(t->id);
    QSet<int> seen;
    for (const ControlTemplate& c : t->controls) {
      if (c.kind == ControlKind::Spin) {
        EXPECT_TRUE(seen.contains(c.buddy)) << c.id;
      }
      if (c.id == kNoId) continue;
      EXPECT_FALSE(seen.contains(c.id)) << c.id;
      seen.insert(c.id);
      EXPECT_LE(c.x + c.width, t->width + 1) << c.id;
      EXPECT_LE(c.y + c.height, t->height + 1) << c.id;
    }
  }
}

TEST(TemplateBuilderTest, DialogUnitsFollowTheFontsAverageCharacterSize) {
  const CDialogUnits units(dialogFont());
  ASSERT_GT(units.baseWidth(), 2);
  ASSERT_GT(units.baseHeight(), 6);
  EXPECT_EQ(units.x(4), units.baseWidth());
  EXPECT_EQ(units.y(8), units.baseHeight());
  EXPECT_EQ(units.map(2, 4, 185, 44),
            QRect(units.x(2), units.y(4), units.x(185), units.y(44)));
}

TEST(TemplateBuilderTest, BuildsEveryControlAtItsRectangleFindableById) {
  QDialog dialog;
  buildDialog(&dialog, IDD_SETTING);
  const CDialogUnits units(dialog.font());
  EXPECT_EQ(dialog.size(), units.size(191, 186));
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("QUILLEX設定"));
  EXPECT_EQ(findControl(&dialog, IDC_LISTEN_PORT)->geometry(), units.map(13, 29, 33, 12));
  // An edit that runs under its spin's arrows ends where they begin.
  EXPECT_EQ(findControl(&dialog, IDC_BUFFER_SIZE)->geometry(),
            QRect(QPoint(units.x(13), units.y(67)), QPoint(units.x(54) - 1, units.y(67) + units.y(12) - 1)));
  EXPECT_TRUE(control<QPushButton>(&dialog, IDOK)->isDefault());
  EXPECT_FALSE(control<QPushButton>(&dialog, IDCANCEL)->isDefault());
  EXPECT_TRUE(control<CIpAddressEdit>(&dialog, IDC_LISTEN_BIND_ADDRESS));
  auto* spin = control<CSpinButton>(&dialog, IDC_BUFFER_SIZE_SPIN);
  ASSERT_TRUE(spin);
  EXPECT_EQ(spin->buddy(), control<QLineEdit>(&dialog, IDC_BUFFER_SIZE));
  EXPECT_EQ(control<QLineEdit>(&dialog, IDC_LISTEN_PORT)->alignment() & Qt::AlignRight,
            Qt::AlignRight);
  auto* caption = control<QLabel>(&dialog, IDC_FILTER_CAPTION);
  EXPECT_EQ(caption->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
  EXPECT_EQ(caption->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(findControl(&dialog, 9999), nullptr);
  // Labels without an id are not found by any id.
  EXPECT_EQ(findControl(&dialog, kNoId), nullptr);
}

TEST(TemplateBuilderTest, RadioButtonsFormOneGroupPerGroupStart) {
  QDialog dialog;
  buildDialog(&dialog, IDD_PROPERTY);
  QButtonGroup* start = radioGroup(&dialog, IDC_START_CLOSE);
  QButtonGroup* ports = radioGroup(&dialog, IDC_PORTS_1);
  ASSERT_TRUE(start && ports);
  EXPECT_EQ(start->buttons().size(), 2);
  EXPECT_EQ(ports->buttons().size(), 3);
  EXPECT_EQ(ports->id(control<QRadioButton>(&dialog, IDC_PORTS_10)), 2);

  setCheckedRadioIndex(ports, 1);
  click(control<QRadioButton>(&dialog, IDC_START_OPEN));
  EXPECT_EQ(checkedRadioIndex(ports), 1);  // the other group is left alone
  EXPECT_EQ(checkedRadioIndex(start), 1);
  setCheckedRadioIndex(ports, -1);
  EXPECT_EQ(checkedRadioIndex(ports), -1);
  EXPECT_EQ(ports->checkedButton(), nullptr);
}

TEST(MessageBoxTest, ErrorsAreWarningsWithOkAndTheQuestionTakesOnlyYesAsYes) {
  QWidget parent;
  const CModalRecord error = answerMessageBox([&] { showMessage(&parent, "text"); });
  ASSERT_TRUE(error.seen);
  EXPECT_EQ(error.title, "Quillex");
  EXPECT_EQ(error.text, "text");
  EXPECT_EQ(error.icon, QMessageBox::Warning);
  EXPECT_EQ(error.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(error.font, dialogFont());

  bool answer = false;
  const auto ask = [&] { answer = askQuestion(&parent, "q"); };
  const CModalRecord yes = answerMessageBox(ask, QMessageBox::Yes);
  EXPECT_EQ(yes.icon, QMessageBox::Question);
  EXPECT_EQ(yes.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(answer);
  answerMessageBox(ask, QMessageBox::No);
  EXPECT_FALSE(answer);
  answer = true;
  handleModal(ask, pressEscape);
  EXPECT_FALSE(answer);
}

// Qt's own texts come in Japanese.
TEST(MessageBoxTest, TheQuestionAnswersInJapanese) {
  QWidget parent;
  QStringList texts;
  handleModal([&] { askQuestion(&parent, "q"); },
              [&](QWidget* window) {
                for (QAbstractButton* button : qobject_cast<QMessageBox*>(window)->buttons()) texts << button->text();
                pressEscape(window);
              });
  texts.sort();
  ASSERT_EQ(texts.size(), 2);
  EXPECT_TRUE(texts[0].startsWith(QString::fromUtf8("いいえ"))) << texts[0].toStdString();
  EXPECT_TRUE(texts[1].startsWith(QString::fromUtf8("はい"))) << texts[1].toStdString();
}

// The templates place a group's contents below a caption that sits on the
// frame's top line, not above the frame.
TEST(TemplateBuilderTest, EveryGroupCaptionSitsOnItsFramesTopLine) {
  for (const DialogTemplate* t : allDialogTemplates()) {
    QDialog window;
    buildDialog(&window, *t);
    for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
      SCOPED_TRACE(group->title().toStdString());
      QStyleOptionGroupBox option;
      option.initFrom(group);
      option.text = group->title();
      option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
      const QRect frame = group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, group);
      const QRect caption = group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
      EXPECT_LT(caption.top(), frame.top());
      EXPECT_GT(caption.bottom(), frame.top());
      EXPECT_TRUE(group->rect().contains(caption));
    }
  }
}

// Every text a window of these templates or the settings dialogs can show.
QStringList textsOf(const QWidget* window) {
  QStringList texts{window->windowTitle()};
  for (const QObject* child : window->children()) {
    if (auto* label = qobject_cast<const QLabel*>(child)) {
      texts << QTextDocumentFragment::fromHtml(label->text()).toPlainText();
    } else if (auto* button = qobject_cast<const QAbstractButton*>(child)) {
      texts << button->text();
    } else if (auto* group = qobject_cast<const QGroupBox*>(child)) {
      texts << group->title();
    }
  }
  return texts;
}

QStringList settingMessages() {
  QStringList texts{QString::fromUtf8(kEntryFormatMessage), QString::fromUtf8(kEntryFormatMessage6),
                    QString::asprintf(kEntryLimitFormat, 10),
                    QString::fromUtf8(kRefusePanelTitle), QString::fromUtf8(kEnablePanelTitle),
                    QString::fromUtf8(kLocalhostQuestion), QString::fromUtf8(kBindFormatMessage6),
                    QString::fromUtf8(kBindHint6), QStringLiteral("Quillex")};
  for (const char* caption : kFilterCaptions) texts << QString::fromUtf8(caption);
  return texts;
}

void expectFontCovers(const QFont& font, const QStringList& texts) {
  const QRawFont raw = QRawFont::fromFont(font);
  ASSERT_TRUE(raw.isValid());
  for (const QString& text : texts) {
    for (char32_t code : text.toUcs4()) {
      if (QChar::isSpace(code)) continue;
      EXPECT_TRUE(raw.supportsCharacter(code))
          << raw.familyName().toStdString() << " lacks U+" << std::hex << uint32_t(code)
          << " of \"" << text.toStdString() << "\"";
    }
  }
}

TEST(FontCoverageTest, TheDialogFontHasAGlyphForEveryCharacterShown) {
  for (const DialogTemplate* t : allDialogTemplates()) {
    SCOPED_TRACE(t->id);
    QDialog window;
    buildDialog(&window, *t);
    expectFontCovers(window.font(), textsOf(&window));
  }
  expectFontCovers(dialogFont(), settingMessages());
}

// What these dialogs fill in when they open: the version line, the column headings.
TEST(FontCoverageTest, TheShellAndStatusDialogsCoverWhatTheyFillInWhenOpened) {
  CAboutDlg about;
  CPropatyDlg properties;
  CStatusDlg status;
  for (QDialog* dialog : std::initializer_list<QDialog*>{&about, &properties, &status}) {
    dialog->show();
    QStringList texts = textsOf(dialog);
    if (auto* table = dialog->findChild<QTableWidget*>()) {
      ASSERT_GT(table->columnCount(), 0);
      for (int column = 0; column < table->columnCount(); ++column) {
        texts << table->horizontalHeaderItem(column)->text();
      }
    }
    expectFontCovers(dialog->font(), texts);
    dialog->hide();
  }
  EXPECT_EQ(about.versionLine, QString::fromUtf8("クイレクス Ver.:1- 1- 1- 115"));
}

// Counts and drains readiness of a pipe's read end; not draining, it stays
// ready and is called without end.
class CPipeReader : public CEventHandler {
 public:
  explicit CPipeReader(int fd) : fd_(fd) {}
  void handleEvents(uint32_t) override {
    ++calls;
    char buffer[64];
    while (drain && ::read(fd_, buffer, sizeof buffer) > 0) ++batches;
  }
  int batches = 0, calls = 0;
  bool drain = true;

 private:
  int fd_;
};

TEST(QtLoopAdapterTest, TheReactorRunsInsideQtsLoopAndInsideModalDialogsAndLeavesTheWindowItsTurn) {
  CEventLoop loop;
  ASSERT_TRUE(loop.ok());
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  CPipeReader reader(fds[0]);
  const CEventLoop::Registration registration = loop.add(fds[0], ready::kReadable, &reader);
  ASSERT_TRUE(registration);
  CQtLoopAdapter adapter(loop);

  ASSERT_EQ(::write(fds[1], "a", 1), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return reader.batches == 1; }, 5000));
  bool fired = false;
  CTimer timer([&] { fired = true; });
  loop.schedule(timer, 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return fired; }, 5000));

  // While a modal box runs its own loop, the reactor still dispatches.
  bool servedInsideModal = false;
  QWidget parent;
  const CModalRecord box = handleModal([&] { showMessage(&parent, "modal"); },
                                       [&](QWidget* modal) {
                                         EXPECT_EQ(::write(fds[1], "b", 1), 1);
                                         servedInsideModal = QTest::qWaitFor(
                                             [&] { return reader.batches == 2; }, 5000);
                                         pressEscape(modal);
                                       });
  EXPECT_TRUE(box.seen);
  EXPECT_TRUE(servedInsideModal);

  // A reactor that is never idle still leaves the window its turns.
  reader.drain = false;
  ASSERT_EQ(::write(fds[1], "c", 1), 1);
  int turns = 0;
  const int callsBefore = reader.calls;
  QTimer windowTimer;
  QObject::connect(&windowTimer, &QTimer::timeout, [&] { ++turns; });
  windowTimer.start(0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return turns >= 20; }, 5000));
  EXPECT_GT(reader.calls - callsBefore, 20);
  loop.remove(registration);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace

