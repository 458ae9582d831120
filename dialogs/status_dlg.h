#pragma once
// The connection status dialog: one row per connection pair of a port's
// repeater, read once when the dialog opens. It does not refresh, and it
// keeps no pointer into the connection table after that reading, so pairs
// that close while it is shown cannot leave it dangling.
//
// Does not own the repeater.

#include <QDialog>

class CTcpRepeater;
class QTableWidget;

class CStatusDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CStatusDlg(QWidget* parent = nullptr);

  // Takes the snapshot the first time the dialog is shown.
  void setVisible(bool visible) override;

  CTcpRepeater* repeater = nullptr;  // set by the caller before the dialog runs

 private:
  void OnInitDialog();
  void insertColumns();
  void insertRows();

  QTableWidget* connectionList = nullptr;  // control 1029, owned by the dialog
  bool initialised_ = false;
};
