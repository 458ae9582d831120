#pragma once
// The address list panel: edits one list of filter entries (a.b.c.d or
// a.b.c.d/n, or IPv6 as 2001:db8::1 or 2001:db8::/32) under a title, with "追加" and "削除". It checks the form of an
// entry when it is added and holds at most MAX_FILTER_ENTRIES entries; it
// stores nothing itself, its owner fills and reads the list. Enter and Esc
// typed inside it stay inside it: Enter in the entry field adds the entry,
// as "追加" does, so the dialog around it never closes with a typed entry
// dropped. An entry too long for the list shows whole as its tooltip.
// A child widget of its owner, which owns it.

#include <QString>
#include <QWidget>

class QKeyEvent;
class QListWidget;

class CIpConditionDlg : public QWidget {
  Q_OBJECT

 public:
  // Created hidden; the owner places and shows it.
  explicit CIpConditionDlg(QWidget* parent);

  void setTitle(const QString& title);
  // Appends without any check; for filling the panel.
  void appendEntry(const QString& text);
  int getEntryCount() const;
  QString getEntry(int index) const;
  // Greys, or brings back, every control and the panel itself.
  void setPanelEnabled(bool enabled);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void addEntry(const QString& text);
  void OnBnClickedAdd();
  void OnBnClickedDelete();
  // Controls to members when saving, members to controls otherwise.
  void updateData(bool save);

  QListWidget* entryList;  // control 1047, owned by the panel's widget tree
  QString entryText;       // text of edit 1046
};
