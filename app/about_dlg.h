#pragma once
// The version dialog: the program's icon, its title with the version text,
// the maker's notice and a link to the maker's home page. Keeps no state
// beyond its controls.

#include <QString>
#include <string>

#include "resources/template_dialog.h"

class CAboutDlg : public CTemplateDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  // "クイレクス %s" with the version text as the dialog shows it.
  static QString versionLineFor(const std::string& versionText);

  QString versionLine;  // text of static 1028; empty until the dialog opens

 private:
  // Fills the version line before the first showing.
  void OnInitDialog() override;
  void OnNMClickHomeLink();
};
