#include "resources/spin_button.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Longer digit runs cannot be an int; refuse them before converting.
constexpr int kMaxDigits = 10;

QToolButton* makeArrow(Qt::ArrowType type, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setArrowType(type);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  return button;
}

}  // namespace

CSpinButton::CSpinButton(QWidget* parent)
    : QWidget(parent),
      up_(makeArrow(Qt::UpArrow, this)),
      down_(makeArrow(Qt::DownArrow, this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(up_);
  layout->addWidget(down_);
  connect(up_, &QToolButton::clicked, this, [this] { step(1); });
  connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
}

void CSpinButton::setBuddy(QLineEdit* buddy) {
  if (buddy_) buddy_->removeEventFilter(this);
  buddy_ = buddy;
  if (buddy_) buddy_->installEventFilter(this);
}

void CSpinButton::setRange(int lower, int upper) {
  lower_ = std::min(lower, upper);
  upper_ = std::max(lower, upper);
}

void CSpinButton::setPosition(int position) {
  position_ = std::clamp(position, lower_, upper_);
  if (buddy_) buddy_->setText(format(position_));
}

int CSpinButton::position() {
  if (!buddy_) return position_;
  const std::optional<long long> typed = parseNumber(buddy_->text(), thousands_);
  if (typed && *typed >= lower_ && *typed <= upper_) position_ = static_cast<int>(*typed);
  return position_;
}

std::optional<long long> CSpinButton::parseNumber(const QString& text, bool thousands) {
  QString digits = text.trimmed();
  if (thousands) digits.remove(QLatin1Char(','));
  const bool negative = digits.startsWith(QLatin1Char('-'));
  if (negative) digits.remove(0, 1);
  if (digits.isEmpty() || digits.size() > kMaxDigits) return std::nullopt;
  for (QChar c : digits) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
  }
  const long long value = digits.toLongLong();
  return negative ? -value : value;
}

bool CSpinButton::eventFilter(QObject* watched, QEvent* event) {
  // The event type is tested first: the buddy may be half destroyed when
  // its last events pass through here, and must not be touched then.
  if (event->type() == QEvent::KeyPress && arrowKeys_ && isEnabled() && watched == buddy_) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      step(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CSpinButton::step(int delta) {
  // Stepping starts from what the buddy shows, as the user sees it.
  const long long next = static_cast<long long>(position()) + delta;
  setPosition(static_cast<int>(std::clamp<long long>(next, lower_, upper_)));
}

QString CSpinButton::format(int value) const {
  if (!thousands_) return QString::number(value);
  QLocale english(QLocale::English, QLocale::UnitedStates);
  return english.toString(value);
}
