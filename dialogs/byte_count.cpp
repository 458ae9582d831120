#include "dialogs/byte_count.h"

#include <QLocale>

QString byteCountText(uint64_t bytes) {
  return QLocale(QLocale::Japanese, QLocale::Japan).toString(qulonglong(bytes));
}
