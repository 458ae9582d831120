#include "app/propaty_dlg.h"

#include <QButtonGroup>
#include <QPushButton>

#include "resources/resource_ids.h"
#include "resources/template_builder.h"

CPropatyDlg::CPropatyDlg(QWidget* parent) : CTemplateDialog(IDD_PROPERTY, parent) {
  connect(control<QPushButton>(this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
  connect(control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
}

void CPropatyDlg::accept() {
  updateData(true);
  QDialog::accept();
}

// The group index follows template order (1057, 1053, 1054), not the ids.
void CPropatyDlg::updateData(bool save) {
  QButtonGroup* start = radioGroup(this, IDC_START_CLOSE);
  QButtonGroup* ports = radioGroup(this, IDC_PORTS_1);
  if (save) {
    startWindowChoice = checkedRadioIndex(start);
    portCountChoice = checkedRadioIndex(ports);
  } else {
    setCheckedRadioIndex(start, startWindowChoice);
    setCheckedRadioIndex(ports, portCountChoice);
  }
}
