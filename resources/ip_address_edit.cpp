#include "resources/ip_address_edit.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpressionValidator>
#include <memory>

#include "resources/dialog_texts.h"
#include "resources/message_box.h"

namespace {

constexpr int kMaxField = 255;
constexpr int kFieldDigits = 3;

QLineEdit* makeField(QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setFrame(false);
  field->setAlignment(Qt::AlignCenter);
  // No maximum length: it would cut a pasted "10.20.30.40" to "102"; the
  // validator refuses a fourth digit or a dot instead.
  field->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), field));
  field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  field->setTextMargins(0, 0, 0, 0);
  return field;
}

// Four parts of one to three digits, each at most 255.
bool parseDotted(const QString& text, std::array<int, 4>& parts) {
  const QStringList split = text.split(QLatin1Char('.'));
  if (split.size() != 4) return false;
  for (int i = 0; i < 4; ++i) {
    const QString& part = split[i];
    bool digits = !part.isEmpty() && part.size() <= kFieldDigits;
    for (QChar c : part) digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    parts[size_t(i)] = part.toInt();
    if (!digits || parts[size_t(i)] > kMaxField) return false;
  }
  return true;
}

}  // namespace

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->setSpacing(0);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) layout->addWidget(new QLabel(QStringLiteral("."), this));
    fields_[i] = makeField(this);
    fields_[i]->installEventFilter(this);
    // Only the first field is a Tab stop; the others take the focus from
    // typing and clicks.
    if (i > 0) fields_[i]->setFocusPolicy(Qt::ClickFocus);
    layout->addWidget(fields_[i], 1);
    connect(fields_[i], &QLineEdit::textEdited, this, [this, i] { onFieldEdited(i); });
  }
  setFocusProxy(fields_[0]);
}

void CIpAddressEdit::setAddress(uint32_t address) {
  for (int i = 0; i < 4; ++i) {
    const uint32_t part = (address >> (8 * (3 - i))) & 0xffu;
    fields_[i]->setText(QString::number(part));
  }
}

void CIpAddressEdit::clearAddress() {
  for (QLineEdit* field : fields_) field->clear();
}

QString CIpAddressEdit::addressText() const {
  QStringList parts;
  for (QLineEdit* field : fields_) {
    const int value = field->text().toInt();  // blank reads as 0
    parts << QString::number(std::min(value, kMaxField));
  }
  return parts.join(QLatin1Char('.'));
}

int CIpAddressEdit::fieldIndex(const QObject* watched) const {
  for (int i = 0; i < 4; ++i)
    if (watched == fields_[i]) return i;
  return -1;
}

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  const int index = fieldIndex(watched);
  if (index >= 0 && event->type() == QEvent::ContextMenu) {
    showFieldMenu(index, *static_cast<QContextMenuEvent*>(event));
    return true;
  }
  if (index < 0 || event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
  // Only the key right after the move counts as following it.
  const bool advanced = advancedInto_ == index;
  advancedInto_ = -1;
  return handleKey(index, *static_cast<QKeyEvent*>(event), advanced) || QFrame::eventFilter(watched, event);
}

bool CIpAddressEdit::handleKey(int index, const QKeyEvent& key, bool advancedByItself) {
  QLineEdit* field = fields_[index];
  const bool backtab = key.key() == Qt::Key_Backtab ||
                       (key.key() == Qt::Key_Tab && (key.modifiers() & Qt::ShiftModifier));
  const bool caret = !field->hasSelectedText();
  if (index > 0 && backtab) {
    leaveBackwards();
  } else if (key.text() == QLatin1String(".")) {
    // '.' moves on, as in a dotted address; it is never part of a field.
    if (!advancedByItself && index < 3 && !field->text().isEmpty()) focusField(index + 1);
  } else if (key.matches(QKeySequence::Paste)) {
    if (!pasteAddress()) return false;  // digits alone paste into the field
  } else if (index > 0 && ((key.key() == Qt::Key_Backspace && field->text().isEmpty()) ||
                           (key.key() == Qt::Key_Left && caret && field->cursorPosition() == 0))) {
    placeCursor(index - 1, int(fields_[index - 1]->text().size()));
  } else if (index < 3 && key.key() == Qt::Key_Right && caret && field->cursorPosition() == field->text().size()) {
    placeCursor(index + 1, 0);
  } else {
    return false;
  }
  return true;
}

bool CIpAddressEdit::pasteAddress() {
  const QString text = QGuiApplication::clipboard()->text().trimmed();
  std::array<int, 4> parts{};
  // Dotted text that is no address pastes nothing; digits alone go to the field.
  if (!parseDotted(text, parts)) return text.contains(QLatin1Char('.'));
  for (int i = 0; i < 4; ++i) fields_[i]->setText(QString::number(parts[size_t(i)]));
  placeCursor(3, int(fields_[3]->text().size()));
  return true;
}

// The field's own menu, whose "paste" takes a whole address too.
void CIpAddressEdit::showFieldMenu(int index, const QContextMenuEvent& event) {
  QLineEdit* field = fields_[index];
  std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
  // The menu's own texts are Qt's, translated as these are.
  const QString pasteText = QLineEdit::tr("&Paste");
  for (QAction* action : menu->actions()) {
    if (!action->text().startsWith(pasteText)) continue;
    disconnect(action, &QAction::triggered, field, nullptr);
    connect(action, &QAction::triggered, this, [this, field] {
      if (!pasteAddress()) field->paste();
    });
  }
  menu->exec(event.globalPos());
}

void CIpAddressEdit::onFieldEdited(int index) {
  if (fields_[index]->text().size() < kFieldDigits) return;
  if (checkRange(index) && index < 3) {
    focusField(index + 1);
    advancedInto_ = index + 1;
  }
}

bool CIpAddressEdit::checkRange(int index) {
  const QString typed = fields_[index]->text();
  if (typed.toInt() <= kMaxField) return true;
  fields_[index]->setText(QString::number(kMaxField));
  showMessage(this, QString::fromUtf8(kRangeMessage).arg(typed));
  focusField(index);
  return false;
}

// Shift+Tab from a later field goes where it goes from the first one: to
// the control before this one.
void CIpAddressEdit::leaveBackwards() {
  fields_[0]->setFocus();
  QKeyEvent backtab(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
  QCoreApplication::sendEvent(fields_[0], &backtab);
}

void CIpAddressEdit::focusField(int index) {
  fields_[index]->setFocus();
  fields_[index]->selectAll();
}

void CIpAddressEdit::placeCursor(int index, int position) {
  fields_[index]->setFocus();
  fields_[index]->deselect();
  fields_[index]->setCursorPosition(position);
}
