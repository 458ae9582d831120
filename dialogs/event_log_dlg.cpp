#include "dialogs/event_log_dlg.h"

#include <QListView>
#include <algorithm>
#include <QScrollBar>

#include "dialogs/event_log.h"
#include "resources/copy_rows.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"

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
  connect(&log_, &QAbstractItemModel::rowsInserted, this, &CEventLogDlg::rowsCame);
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
