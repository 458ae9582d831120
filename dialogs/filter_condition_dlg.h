#pragma once
// The filter condition dialog: the filter mode as four radio buttons and, for
// the individual mode, the refused list (left) and the allowed list (right)
// in two address list panels. It edits the filter it is given, which the
// caller keeps as a private copy; only OK writes to it.

#include <QDialog>

class CIpConditionDlg;
class CIpFilter;

class CFilterConditionDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CFilterConditionDlg(QWidget* parent = nullptr);

  // Shows the dialog; the first time, loads the filter into the controls.
  void setVisible(bool visible) override;
  // OK: writes the mode and both lists into the filter, then closes.
  void accept() override;

  int modeChoice = 0;          // radio index = filter mode; -1 when none is chosen
  CIpFilter* filter = nullptr;  // not owned; set by the caller before the dialog runs

 private:
  void OnInitDialog();
  void OnBnClickedMode();
  void updateData(bool save);
  CIpConditionDlg* createPanel(const char* title, const std::string* entries, int count);

  // Children of the dialog, created at initialisation and deleted with it.
  CIpConditionDlg* refusePanel = nullptr;
  CIpConditionDlg* enablePanel = nullptr;
  bool initialised_ = false;
};
