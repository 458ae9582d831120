#include "resources/template_anchors.h"

#include <QEvent>
#include <QWidget>

#include "resources/dialog_template.h"

namespace {

constexpr uint32_t kAnchors = kAnchorRight | kAnchorBottom | kStretchWidth | kStretchHeight;

}  // namespace

CTemplateAnchors::CTemplateAnchors(QWidget* window, QSize size) : QObject(window), base_(size) {
  window->installEventFilter(this);
}

void CTemplateAnchors::add(QWidget* control, uint32_t style) {
  if (style & kAnchors) anchored_.push_back({control, control->geometry(), style});
}

bool CTemplateAnchors::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) place(static_cast<QWidget*>(watched)->size());
  return QObject::eventFilter(watched, event);
}

void CTemplateAnchors::place(QSize size) {
  const int dx = size.width() - base_.width();
  const int dy = size.height() - base_.height();
  for (const CAnchored& a : anchored_) {
    if (!a.control) continue;
    QRect rect = a.rect;
    if (a.style & kAnchorRight) rect.translate(dx, 0);
    if (a.style & kAnchorBottom) rect.translate(0, dy);
    if (a.style & kStretchWidth) rect.setWidth(rect.width() + dx);
    if (a.style & kStretchHeight) rect.setHeight(rect.height() + dy);
    a.control->setGeometry(rect);
  }
}
