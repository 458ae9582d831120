#pragma once
// The process-wide reference to the one main window, for windows that place
// themselves over it. It does not own the window and reads null once the
// window is gone.

class QWidget;

QWidget* mainWindow();
void setMainWindow(QWidget* window);
