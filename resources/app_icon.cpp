#include "resources/app_icon.h"

namespace {

// The sizes resources/icons holds, as drawn by icon_generator.cpp.
constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

}  // namespace

QIcon quillexIcon() {
  QIcon icon;
  for (int size : kIconSizes) {
    icon.addFile(QStringLiteral(":/icons/quillex_%1.png").arg(size), QSize(size, size));
  }
  return icon;
}
