#pragma once
// Helpers shared by the GUI tests: answering modal windows, typing and
// clicking as a user does. The test main (gui_test_main.cpp) runs every test
// on the offscreen platform with the dialog font substitutions in place.

#include <QFont>
#include <QMessageBox>
#include <QString>
#include <functional>

class QAbstractButton;
class QLineEdit;
class QListWidget;
class QWidget;

// What a modal window showed when it appeared.
struct CModalRecord {
  bool seen = false;
  QString className;
  QString title;
  QString text;  // message boxes only
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QFont font;
};

// Runs trigger, which is expected to open a modal window; when one appears
// above the modal window active at the call, records it and hands it to
// handle, which must close it. Waits at most boundMs for the window; after
// trigger returns, a window that never appeared reads as seen = false.
CModalRecord handleModal(const std::function<void()>& trigger,
                         const std::function<void(QWidget*)>& handle, int boundMs = 5000);

// The same for a message box, answered with the given button.
CModalRecord answerMessageBox(const std::function<void()>& trigger,
                              QMessageBox::StandardButton answer = QMessageBox::Ok);

// Closes a modal window with Esc, as a user would.
void pressEscape(QWidget* window);

// Types text as key events that carry it, one character at a time
// (QTest::keyClicks refuses characters outside Latin-1).
void typeText(QWidget* target, const QString& text);
// Selects all, deletes it and types the new text.
void replaceText(QLineEdit* edit, const QString& text);
// A left click where the button reacts (the indicator for check boxes).
void click(QAbstractButton* button);
// A left click on a row of a list.
void clickRow(QListWidget* list, int row);
