#include "resources/dialog_look.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include "resources/dialog_font.h"
#include "resources/dialog_style.h"

namespace {

// The user interface is Japanese whatever the session's locale says.
void installQtTranslations() {
  auto* translator = new QTranslator(qApp);
  if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
  } else {
    delete translator;  // the package is missing: Qt's texts stay English
  }
}

// Without a desktop that names an icon theme, the system-wide default
// theme is the platform's.
void useSystemIconTheme() {
  const QString named = QIcon::themeName();
  if (named.isEmpty() || named == QLatin1String("hicolor")) QIcon::setThemeName(QStringLiteral("default"));
}

}  // namespace

void installDialogLook() {
  installFontSubstitutions();
  QApplication::setFont(dialogFont());
  QApplication::setStyle(new CDialogStyle);
  installQtTranslations();
  useSystemIconTheme();
}
