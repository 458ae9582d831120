#pragma once
// The version dialog: the program's icon, its title with the version text,
// the maker's notice and a link to the maker's home page. Keeps no state
// beyond its controls.

#include <QDialog>
#include <QString>
#include <string>

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  // Fills the version line the first time the dialog is shown.
  void setVisible(bool visible) override;

  // "クイレクス %s" with the version text as the dialog shows it.
  static QString versionLineFor(const std::string& versionText);

  QString versionLine;  // text of static 1028; empty until the dialog opens

 private:
  void OnInitDialog();
  void OnNMClickHomeLink();

  bool initialised_ = false;
};
