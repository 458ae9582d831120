#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/version_text.h"
#include "resources/app_icon.h"
#include "resources/app_texts.h"
#include "resources/home_page.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"

namespace {

// Icons are drawn at the size the platform uses for a dialog's large icon,
// from the control's top-left corner, whatever the template's rectangle.
constexpr int kIconPixels = 32;

QLabel* iconLabel(const QWidget* window) {
  for (QObject* child : window->children()) {
    auto* label = qobject_cast<QLabel*>(child);
    if (label && label->objectName().isEmpty() && label->text().isEmpty()) return label;
  }
  return nullptr;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : CTemplateDialog(IDD_ABOUTBOX, parent) {
  setWindowIcon(quillexIcon());
  if (QLabel* icon = iconLabel(this)) {
    icon->setPixmap(quillexIcon().pixmap(kIconPixels, kIconPixels));
    icon->resize(kIconPixels, kIconPixels);
  }
  connect(control<QPushButton>(this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
  connect(control<QLabel>(this, IDC_HOME_LINK), &QLabel::linkActivated, this,
          &CAboutDlg::OnNMClickHomeLink);
}

QString CAboutDlg::versionLineFor(const std::string& versionText) {
  return QString::fromUtf8(kVersionLineFormat)
      .replace(QStringLiteral("%s"), QString::fromStdString(replaceVersionSeparators(versionText)));
}

void CAboutDlg::OnInitDialog() {
  versionLine = versionLineFor(getVersionText());
  control<QLabel>(this, IDC_VERSION)->setText(versionLine);
}

// The dialog stays open; the browser opens beside it.
void CAboutDlg::OnNMClickHomeLink() { openHomePage(); }
