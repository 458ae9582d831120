#include "tests/gui_test_util.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

namespace {

constexpr int kPollMs = 10;

CModalRecord describe(QWidget* window) {
  CModalRecord record;
  record.seen = true;
  record.className = QString::fromLatin1(window->metaObject()->className());
  record.title = window->windowTitle();
  record.font = window->font();
  if (auto* box = qobject_cast<QMessageBox*>(window)) {
    record.text = box->text();
    record.icon = box->icon();
    record.buttons = box->standardButtons();
  }
  return record;
}

QPoint clickPoint(QAbstractButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  if (qobject_cast<QCheckBox*>(button)) {
    return button->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, button).center();
  }
  if (qobject_cast<QRadioButton*>(button)) {
    return button->style()
        ->subElementRect(QStyle::SE_RadioButtonIndicator, &option, button)
        .center();
  }
  return button->rect().center();
}

}  // namespace

CModalRecord handleModal(const std::function<void()>& trigger,
                         const std::function<void(QWidget*)>& handle, int boundMs) {
  CModalRecord record;
  QPointer<QWidget> below = QApplication::activeModalWidget();
  QDeadlineTimer deadline(boundMs);
  QTimer poll;
  poll.setInterval(kPollMs);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != below && modal->isVisible()) {
      poll.stop();
      record = describe(modal);
      handle(modal);
    } else if (deadline.hasExpired()) {
      poll.stop();
    }
  });
  poll.start();
  trigger();
  poll.stop();
  return record;
}

CModalRecord answerMessageBox(const std::function<void()>& trigger,
                              QMessageBox::StandardButton answer) {
  return handleModal(trigger, [answer](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    QAbstractButton* button = box ? box->button(answer) : nullptr;
    if (button) {
      click(button);
    } else {
      pressEscape(window);  // not the expected box: close it and let the test see
    }
  });
}

void pressEscape(QWidget* window) {
  QWidget* target = window->focusWidget() ? window->focusWidget() : window;
  QTest::keyClick(target, Qt::Key_Escape);
}

void typeText(QWidget* target, const QString& text) {
  for (char32_t code : text.toUcs4()) {
    const QString one = QString::fromUcs4(&code, 1);
    // Key codes of printable ASCII are the upper-case characters.
    const int key = code < 0x80 ? int(QChar(code).toUpper().unicode()) : int(Qt::Key_unknown);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, one);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, one);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
  }
}

void replaceText(QLineEdit* edit, const QString& text) {
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit, Qt::Key_Delete);
  typeText(edit, text);
}

void click(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, clickPoint(button));
}

void clickRow(QListWidget* list, int row) {
  const QRect rect = list->visualItemRect(list->item(row));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}
