#pragma once
// The event log window: the latest events of every port, newest at the
// bottom, following new lines unless the user scrolled up to read older ones.
// Not modal; it can be resized, and "コピー" or Ctrl+C copy the selected
// lines. Closing it only hides it. Does not own the log it shows.

#include "resources/template_dialog.h"

class CEventLog;
class QListView;

class CEventLogDlg : public CTemplateDialog {
  Q_OBJECT

 public:
  CEventLogDlg(CEventLog& log, QWidget* parent = nullptr);

  QListView* lines() const { return lines_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void rowsComing();
  void rowsCame();

  CEventLog& log_;
  QListView* lines_ = nullptr;  // owned by the dialog's widget tree
  bool following_ = true;       // the last line was in sight before new ones came
  int scrolledTo_ = 0;          // where the user had scrolled to, in lines
};
