#include "dialogs/ip_condition_dlg.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <cstdint>

#include "dialogs/dialog_texts.h"
#include "filter/ip_filter.h"
#include "resources/message_box.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"

namespace {

// The filter's own parser is the only rule for a well-formed entry.
bool isWellFormedEntry(const QString& text) {
  uint8_t a = 0, b = 0, c = 0, d = 0;
  int prefix = 0;
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
  // Enter and Esc in the panel are the owning dialog's OK and Cancel; the
  // panel's own buttons never take Enter over from them.
  control<QPushButton>(this, IDC_ADD)->setAutoDefault(false);
  control<QPushButton>(this, IDC_DELETE)->setAutoDefault(false);
}

void CIpConditionDlg::setTitle(const QString& title) {
  control<QGroupBox>(this, IDC_TITLE)->setTitle(title);
}

void CIpConditionDlg::appendEntry(const QString& text) { entryList->addItem(text); }

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
    showMessage(this, QString::fromUtf8(kEntryFormatMessage));
    return;
  }
  if (getEntryCount() >= MAX_FILTER_ENTRIES) {
    showMessage(this, QString::asprintf(kEntryLimitFormat, MAX_FILTER_ENTRIES));
    return;
  }
  entryList->addItem(entryText);
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
