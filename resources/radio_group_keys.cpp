#include "resources/radio_group_keys.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QKeyEvent>

namespace {

// +1 for the next button, -1 for the previous, 0 for any other key.
int stepOf(const QKeyEvent& key) {
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return 0;
  switch (key.key()) {
    case Qt::Key_Down:
    case Qt::Key_Right: return 1;
    case Qt::Key_Up:
    case Qt::Key_Left: return -1;
    default: return 0;
  }
}

}  // namespace

CRadioGroupKeys::CRadioGroupKeys(QButtonGroup* group) : QObject(group), group_(group) {
  for (QAbstractButton* button : group_->buttons()) button->installEventFilter(this);
  connect(group_, &QButtonGroup::buttonToggled, this, &CRadioGroupKeys::updateTabStop);
  updateTabStop();
}

void CRadioGroupKeys::updateTabStop() {
  const QList<QAbstractButton*> buttons = group_->buttons();  // in template order
  QAbstractButton* stop = group_->checkedButton();
  if (!stop && !buttons.isEmpty()) stop = buttons.first();
  for (QAbstractButton* button : buttons) {
    button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

bool CRadioGroupKeys::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
  auto* button = qobject_cast<QAbstractButton*>(watched);
  const int step = stepOf(*static_cast<QKeyEvent*>(event));
  if (!button || step == 0) return QObject::eventFilter(watched, event);
  moveFrom(button, step);
  return true;
}

// Disabled and hidden buttons are passed over; with none left the focus stays.
void CRadioGroupKeys::moveFrom(QAbstractButton* from, int step) {
  const QList<QAbstractButton*> buttons = group_->buttons();
  const int count = int(buttons.size());
  const int start = int(buttons.indexOf(from));
  for (int i = 1; i < count; ++i) {
    QAbstractButton* next = buttons.at(((start + step * i) % count + count) % count);
    if (!next->isEnabled() || next->isHidden()) continue;
    next->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    if (!next->isChecked()) next->click();
    return;
  }
}
