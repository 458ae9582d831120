#pragma once
// The filter condition dialog: the filter mode as four radio buttons and, for
// the individual mode, the refused list (left) and the allowed list (right)
// in two address list panels. It edits the filter it is given, which the
// caller keeps as a private copy; only OK writes to it.

#include "resources/template_dialog.h"

class CIpConditionDlg;
class CIpFilter;

class CFilterConditionDlg : public CTemplateDialog {
  Q_OBJECT

 public:
  explicit CFilterConditionDlg(QWidget* parent = nullptr);

  // OK: writes the mode and both lists into the filter, then closes.
  void accept() override;

  int modeChoice = 0;          // radio index = filter mode; -1 when none is chosen
  CIpFilter* filter = nullptr;  // not owned; set by the caller before the dialog runs

 private:
  // Loads the filter into the controls before the first showing.
  void OnInitDialog() override;
  void OnBnClickedMode();
  void updateData(bool save);
  CIpConditionDlg* createPanel(const char* title, const std::string* entries, int count);

  // Children of the dialog, created at initialisation and deleted with it.
  CIpConditionDlg* refusePanel = nullptr;
  CIpConditionDlg* enablePanel = nullptr;
};
