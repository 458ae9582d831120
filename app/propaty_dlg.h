#pragma once
// The system properties dialog: the window shown at start and the number
// of ports, as two radio groups. It only shows and returns the two choices;
// checking, applying and storing them is the main window's business.

#include <QDialog>

class CPropatyDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CPropatyDlg(QWidget* parent = nullptr);

  // Selects the buttons of both members the first time the dialog is shown.
  void setVisible(bool visible) override;
  // OK: reads both groups into the members, then closes.
  void accept() override;

  // Index in tab order of the selected button, -1 when none is selected.
  // Set before the dialog runs; read back only after OK.
  int startWindowChoice = -1;  // 0 "閉じる", 1 "開く"
  int portCountChoice = -1;    // 0 one port, 1 five, 2 ten

 private:
  void updateData(bool save);

  bool initialised_ = false;
};
