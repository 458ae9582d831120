#include "dialogs/ip_condition_dlg.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <cstdint>

#include "filter/ip_filter.h"
#include "resources/dialog_texts.h"
#include "resources/message_box.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "settings/limits.h"

namespace {

// An entry with a colon is IPv6; any other keeps the IPv4 rules and
// message, none of which takes a colon.
bool isIPv6Entry(const QString& text) { return text.contains(QLatin1Char(':')); }

// The filter's own parsers are the only rule for a well-formed entry.
bool isWellFormedEntry(const QString& text) {
  int prefix = 0;
  if (isIPv6Entry(text)) {
    uint8_t bytes[16];
    return CIpFilter::parseEntry6(text.toStdString(), bytes, prefix);
  }
  uint8_t a = 0, b = 0, c = 0, d = 0;
  return CIpFilter::parseEntry(text.toStdString(), a, b, c, d, prefix);
}

}  // namespace

CIpConditionDlg::CIpConditionDlg(QWidget* parent) : QWidget(parent) {
  buildDialog(this, IDD_IP_CONDITION);
  entryList = control<QListWidget>(this, IDC_ENTRY_LIST);
  connect(control<QPushButton>(this, IDC_ADD), &QPushButton::clicked, this,
          &CIpConditionDlg::OnBnClickedAdd);
  connect(control<QPushButton>(this, IDC_DELETE), &QPushButton::clicked, this,
          &CIpConditionDlg::OnBnClickedDelete);
  // Enter reaches keyPressEvent below instead of making these the default.
  control<QPushButton>(this, IDC_ADD)->setAutoDefault(false);
  control<QPushButton>(this, IDC_DELETE)->setAutoDefault(false);
}

// Enter and Esc arrive here when the focused control leaves them. Taken
// here, they neither end the owning dialog as its OK or Cancel nor change
// the list: the typed text stays in the field for "追加".
void CIpConditionDlg::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void CIpConditionDlg::setTitle(const QString& title) {
  control<QGroupBox>(this, IDC_TITLE)->setTitle(title);
}

void CIpConditionDlg::appendEntry(const QString& text) { addEntry(text); }

void CIpConditionDlg::addEntry(const QString& text) {
  auto* item = new QListWidgetItem(text, entryList);
  // The room beside a scroll bar, less the margins the style keeps around an item's text.
  const int margin = entryList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, entryList) + 1;
  const int room = entryList->contentsRect().width() - entryList->verticalScrollBar()->sizeHint().width() - 2 * margin;
  if (entryList->fontMetrics().horizontalAdvance(text) > room) item->setToolTip(text);
}

int CIpConditionDlg::getEntryCount() const { return entryList->count(); }

QString CIpConditionDlg::getEntry(int index) const {
  const QListWidgetItem* item = entryList->item(index);
  return item ? item->text() : QString();
}

void CIpConditionDlg::setPanelEnabled(bool enabled) {
  for (int id : {IDC_ENTRY_TEXT, IDC_TITLE, IDC_ENTRY_LIST, IDC_ADD, IDC_DELETE}) {
    findControl(this, id)->setEnabled(enabled);
  }
  setEnabled(enabled);
}

void CIpConditionDlg::OnBnClickedAdd() {
  updateData(true);
  // The form is checked before the count, so a full list still tells the
  // user that a malformed entry is malformed.
  if (!isWellFormedEntry(entryText)) {
    showMessage(this, QString::fromUtf8(isIPv6Entry(entryText) ? kEntryFormatMessage6 : kEntryFormatMessage));
    return;
  }
  if (getEntryCount() >= MAX_FILTER_ENTRIES) {
    showMessage(this, QString::asprintf(kEntryLimitFormat, MAX_FILTER_ENTRIES));
    return;
  }
  addEntry(entryText);
  entryList->setCurrentRow(getEntryCount() - 1);
}

void CIpConditionDlg::OnBnClickedDelete() {
  updateData(true);
  const QList<QListWidgetItem*> selected = entryList->selectedItems();
  if (selected.isEmpty()) return;
  delete entryList->takeItem(entryList->row(selected.first()));
  entryList->clearSelection();
  entryList->setCurrentRow(-1);
}

void CIpConditionDlg::updateData(bool save) {
  QLineEdit* edit = control<QLineEdit>(this, IDC_ENTRY_TEXT);
  if (save) {
    entryText = edit->text();
  } else {
    edit->setText(entryText);
  }
}
