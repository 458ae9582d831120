// Entry point of every GUI test: the offscreen platform (also while CTest
// lists the tests at build time, without a display), a QApplication, and the
// look the program itself installs (font, style, Qt's Japanese texts).
#include <gtest/gtest.h>

#include <QApplication>

#include "resources/dialog_look.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  installDialogLook();
  return RUN_ALL_TESTS();
}
