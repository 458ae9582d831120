#include "dialogs/event_log_dlg.h"

#include <QListView>
#include <QPointer>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>

#include "dialogs/event_log.h"
#include "resources/copy_rows.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"

namespace {

// Every line of the log is as wide as the widest one shown so far, so a
// long line is read by scrolling sideways instead of being cut. The lines
// share one size (only those in sight are formatted): a wider one, once
// painted, widens them all.
class CWidestLine : public QStyledItemDelegate {
 public:
  explicit CWidestLine(QListView* view) : QStyledItemDelegate(view), view_(view) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(std::max(size.width(), widest_));
    return size;
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int width = QStyledItemDelegate::sizeHint(option, index).width();
    if (width > widest_) {
      widest_ = width;
      QMetaObject::invokeMethod(view_, [view = QPointer<QListView>(view_)] {
        if (view) view->doItemsLayout();
      }, Qt::QueuedConnection);
    }
    QStyledItemDelegate::paint(painter, option, index);
  }

 private:
  QListView* view_;
  mutable int widest_ = 0;
};

}  // namespace

CEventLogDlg::CEventLogDlg(CEventLog& log, QWidget* parent) : CTemplateDialog(IDD_EVENT_LOG, parent), log_(log) {
  // A window of its own, not one that stays above the main window.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  lines_ = control<QListView>(this, IDC_EVENT_LIST);
  lines_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  lines_->setModel(&log_);
  addCopyAction(lines_);
  connect(&log_, &QAbstractItemModel::rowsAboutToBeRemoved, this, &CEventLogDlg::rowsComing);
  connect(&log_, &QAbstractItemModel::rowsAboutToBeInserted, this, &CEventLogDlg::rowsComing);
  connect(&log_, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
    scrolledTo_ -= last - first + 1;  // the lines read stay in sight as older ones go
    rowsCame();
  });
  connect(&log_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
    if (first == 0 && log_.rowCount() > last + 1) scrolledTo_ += last - first + 1;  // the count row came on top
    rowsCame();
  });
  lines_->setItemDelegate(new CWidestLine(lines_));
  lines_->setTextElideMode(Qt::ElideNone);
  lines_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void CEventLogDlg::showEvent(QShowEvent* event) {
  CTemplateDialog::showEvent(event);
  following_ = true;
  log_.setLive(true);
  lines_->scrollToBottom();
}

// A hidden log costs nothing per event; it catches up when shown again.
void CEventLogDlg::hideEvent(QHideEvent* event) {
  log_.setLive(false);
  CTemplateDialog::hideEvent(event);
}

void CEventLogDlg::rowsComing() {
  const QScrollBar* bar = lines_->verticalScrollBar();
  following_ = bar->value() >= bar->maximum();
  scrolledTo_ = bar->value();
}

void CEventLogDlg::rowsCame() {
  if (following_) {
    lines_->scrollToBottom();
  } else {
    lines_->verticalScrollBar()->setValue(std::max(scrolledTo_, 0));
  }
}
