#include "dialogs/filter_condition_dlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QPushButton>

#include "dialogs/ip_condition_dlg.h"
#include "filter/ip_filter.h"
#include "resources/dialog_texts.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "settings/limits.h"

namespace {

// Where the two panels sit, in dialog units: side by side below the mode
// group box and above the OK and Cancel buttons.
constexpr int kPanelLeft = 3;
constexpr int kPanelTop = 47;

}  // namespace

CFilterConditionDlg::CFilterConditionDlg(QWidget* parent)
    : CTemplateDialog(IDD_FILTER_CONDITION, parent) {
  connect(control<QPushButton>(this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
  connect(control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
  connect(radioGroup(this, IDC_MODE_ALL), &QButtonGroup::buttonClicked, this,
          &CFilterConditionDlg::OnBnClickedMode);
}

void CFilterConditionDlg::OnInitDialog() {
  if (filter) modeChoice = filter->mode;
  const std::string* refused = filter ? filter->refuseIp : nullptr;
  const std::string* enabled = filter ? filter->enableIp : nullptr;
  refusePanel = createPanel(kRefusePanelTitle, refused, filter ? filter->refuseIpCount : 0);
  enablePanel = createPanel(kEnablePanelTitle, enabled, filter ? filter->enableIpCount : 0);
  const CDialogUnits units(font());
  const QPoint origin(units.x(kPanelLeft), units.y(kPanelTop));
  refusePanel->move(origin);
  enablePanel->move(origin + QPoint(refusePanel->width(), 0));
  refusePanel->show();
  enablePanel->show();
  // The panels come after OK and Cancel in creation order, but stand
  // between the modes and the buttons on screen: Tab follows the screen.
  setTabOrder(findControl(enablePanel, IDC_DELETE), findControl(this, IDOK));
  setTabOrder(findControl(this, IDOK), findControl(this, IDCANCEL));
  updateData(false);
  OnBnClickedMode();
}

CIpConditionDlg* CFilterConditionDlg::createPanel(const char* title, const std::string* entries,
                                                  int count) {
  auto* panel = new CIpConditionDlg(this);
  panel->setTitle(QString::fromUtf8(title));
  for (int i = 0; entries && i < boundedEntryCount(count); ++i) {
    panel->appendEntry(QString::fromStdString(entries[i]));
  }
  return panel;
}

void CFilterConditionDlg::OnBnClickedMode() {
  updateData(true);
  const bool individual = modeChoice == CIpFilter::FILTER_INDIVIDUAL;
  refusePanel->setPanelEnabled(individual);
  enablePanel->setPanelEnabled(individual);
}

void CFilterConditionDlg::accept() {
  if (filter && initialised()) {
    updateData(true);
    filter->mode = modeChoice;
    // The panels never hold more than MAX_FILTER_ENTRIES; bound anyway.
    filter->enableIpCount = boundedEntryCount(enablePanel->getEntryCount());
    for (int i = 0; i < filter->enableIpCount; ++i) {
      filter->setEnableIp(i, enablePanel->getEntry(i).toStdString());
    }
    filter->refuseIpCount = boundedEntryCount(refusePanel->getEntryCount());
    for (int i = 0; i < filter->refuseIpCount; ++i) {
      filter->setRefuseIp(i, refusePanel->getEntry(i).toStdString());
    }
  }
  QDialog::accept();
}

void CFilterConditionDlg::updateData(bool save) {
  QButtonGroup* modes = radioGroup(this, IDC_MODE_ALL);
  if (save) {
    modeChoice = checkedRadioIndex(modes);
  } else {
    setCheckedRadioIndex(modes, modeChoice);
  }
}
