#include "resources/main_window_ref.h"

#include <QPointer>
#include <QWidget>

namespace {

// A guarded pointer, so a destroyed main window reads as null.
QPointer<QWidget> gMainWindow;

}  // namespace

QWidget* mainWindow() { return gMainWindow.data(); }

void setMainWindow(QWidget* window) { gMainWindow = window; }
