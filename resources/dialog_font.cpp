#include "resources/dialog_font.h"

#include <QStringList>

namespace {

constexpr const char* kDialogFamily = "ＭＳ Ｐゴシック";
constexpr int kDialogPointSize = 9;

}  // namespace

void installFontSubstitutions() {
  const QStringList gothic{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")};
  QFont::insertSubstitutions(QString::fromUtf8(kDialogFamily), gothic);
  QFont::insertSubstitutions(QStringLiteral("MS PGothic"), gothic);
}

QFont dialogFont() {
  return QFont(QString::fromUtf8(kDialogFamily), kDialogPointSize);
}
