#include "resources/message_box.h"

#include <QMessageBox>

#include "resources/app_texts.h"
#include "resources/dialog_font.h"

namespace {

// The program's ending, which every box asks: set once, never cleared.
bool gEnding = false;

int runBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton escape) {
  if (gEnding) return escape;
  QMessageBox box(icon, QString::fromUtf8(kMessageCaption), text, buttons, parent);
  box.setFont(dialogFont());
  box.setEscapeButton(escape);
  return box.exec();
}

}  // namespace

void showMessage(QWidget* parent, const QString& text) {
  runBox(parent, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

void endMessages() { gEnding = true; }

bool askQuestion(QWidget* parent, const QString& text) {
  const int answer = runBox(parent, QMessageBox::Question, text,
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  return answer == QMessageBox::Yes;
}
