#pragma once
// The system properties dialog: the window shown at start and the number
// of ports, as two radio groups. It only shows and returns the two choices;
// checking, applying and storing them is the main window's business.

#include "resources/template_dialog.h"

// "Propaty" is the class's own spelling, kept.
class CPropatyDlg : public CTemplateDialog {
  Q_OBJECT

 public:
  explicit CPropatyDlg(QWidget* parent = nullptr);

  // OK: reads both groups into the members, then closes.
  void accept() override;

  // Index in tab order of the selected button, -1 when none is selected.
  // Set before the dialog runs; read back only after OK.
  int startWindowChoice = -1;  // 0 "閉じる", 1 "開く"
  int portCountChoice = -1;    // 0 one port, 1 five, 2 ten

 private:
  // Selects the buttons of both members before the first showing.
  void OnInitDialog() override { updateData(false); }
  void updateData(bool save);
};
