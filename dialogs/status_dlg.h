#pragma once
// The connection status dialog: one row per connection pair of a port's
// repeater, read once when the dialog opens. It does not refresh, and it
// keeps no pointer into the connection table after that reading, so pairs
// that close while it is shown cannot leave it dangling. It opens at its
// template size and can be made larger, the columns sharing the width;
// "コピー" and Ctrl+C copy the selected row. An IPv6 address widens its
// column so it shows whole.
//
// Does not own the repeater.

#include <QList>

#include "resources/template_dialog.h"

class CTcpRepeater;
class QTableWidget;
class QTableWidgetItem;

class CStatusDlg : public CTemplateDialog {
  Q_OBJECT

 public:
  explicit CStatusDlg(QWidget* parent = nullptr);

  CTcpRepeater* repeater = nullptr;  // set by the caller before the dialog runs

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Takes the snapshot before the first showing.
  void OnInitDialog() override;
  void fitColumns();
  void insertColumns();
  void insertRows();
  void widenForIPv6(const QTableWidgetItem& item);

  QTableWidget* connectionList = nullptr;  // control 1029, owned by the dialog
  QList<int> columnWidths;  // the least width of each column, in pixels
};
