#include "app/panel_columns.h"

#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>

QWidget* CPanelColumns::parentFor(int index, int count) {
  if (index < kPanelsPerColumn || count <= 2 * kPanelsPerColumn) return window_;
  if (!scroll_) makeScrollArea();
  return scroll_->widget();
}

void CPanelColumns::makeScrollArea() {
  scroll_ = new QScrollArea(window_);
  // Its panels line up with the first column's, and Tab goes from panel to
  // panel, never to the area itself.
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setFocusPolicy(Qt::NoFocus);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  scroll_->setWidget(new QWidget(scroll_));
}

void CPanelColumns::place(const std::vector<QWidget*>& panels) {
  const QSize panel = panels.front()->size();
  const int n = int(panels.size());
  const QPoint secondColumn(panel.width(), top_);
  for (int i = 0; i < n; ++i) {
    const int column = i < kPanelsPerColumn ? 0 : 1;
    const QPoint at(column * panel.width(), top_ + (i - column * kPanelsPerColumn) * panel.height());
    QWidget* p = panels[size_t(i)];
    p->setGeometry(QRect(p->parentWidget() == window_ ? at : at - secondColumn, panel));
    p->show();
  }
  const int rows = std::min(n, kPanelsPerColumn);
  int width = (n > kPanelsPerColumn ? 2 : 1) * panel.width();
  if (scroll_) {
    // The scroll bar widens the window; its height stays that of five panels.
    const int bar = scroll_->verticalScrollBar()->sizeHint().width();
    scroll_->setGeometry(QRect(secondColumn, QSize(panel.width() + bar, rows * panel.height())));
    scroll_->widget()->resize(panel.width(), (n - kPanelsPerColumn) * panel.height());
    scroll_->verticalScrollBar()->setSingleStep(panel.height());
    width += bar;
  }
  window_->setFixedSize(width, top_ + rows * panel.height());
}

void CPanelColumns::reveal(QWidget* widget) {
  if (!scroll_) return;
  QWidget* content = scroll_->widget();
  while (widget && widget->parentWidget() != content) widget = widget->parentWidget();
  if (widget) scroll_->ensureWidgetVisible(widget, 0, 0);
}

void CPanelColumns::clear() {
  delete scroll_;
  scroll_ = nullptr;
}
