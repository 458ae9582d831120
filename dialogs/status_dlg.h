#pragma once
// The connection status dialog: one row per connection pair of a port's
// repeater, read once when the dialog opens. It does not refresh, and it
// keeps no pointer into the connection table after that reading, so pairs
// that close while it is shown cannot leave it dangling.
//
// Does not own the repeater.

#include "resources/template_dialog.h"

class CTcpRepeater;
class QTableWidget;

class CStatusDlg : public CTemplateDialog {
  Q_OBJECT

 public:
  explicit CStatusDlg(QWidget* parent = nullptr);

  CTcpRepeater* repeater = nullptr;  // set by the caller before the dialog runs

 private:
  // Takes the snapshot before the first showing.
  void OnInitDialog() override;
  void insertColumns();
  void insertRows();

  QTableWidget* connectionList = nullptr;  // control 1029, owned by the dialog
};
