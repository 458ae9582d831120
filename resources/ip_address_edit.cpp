#include "resources/ip_address_edit.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "resources/message_box.h"

namespace {

constexpr int kMaxField = 255;
constexpr int kFieldDigits = 3;
constexpr const char* kRangeMessage = "%1 は無効な値です。0 から 255 までの値を指定してください。";

QLineEdit* makeField(QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setFrame(false);
  field->setAlignment(Qt::AlignCenter);
  field->setMaxLength(kFieldDigits);
  field->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), field));
  field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  field->setTextMargins(0, 0, 0, 0);
  return field;
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

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  for (int i = 0; i < 4; ++i) {
    if (watched != fields_[i]) continue;
    const bool backtab = key->key() == Qt::Key_Backtab ||
                         (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
    if (i > 0 && backtab) {
      leaveBackwards();
      return true;
    }
    if (key->text() == QLatin1String(".")) {
      // '.' moves on, as in a dotted address; it is never part of a field.
      if (i < 3 && !fields_[i]->text().isEmpty()) focusField(i + 1);
      return true;
    }
  }
  return QFrame::eventFilter(watched, event);
}

void CIpAddressEdit::onFieldEdited(int index) {
  if (fields_[index]->text().size() < kFieldDigits) return;
  if (checkRange(index) && index < 3) focusField(index + 1);
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
