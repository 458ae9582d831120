#pragma once
// What makes every window of the program look and read as a Japanese
// desktop dialog: the dialog font everywhere (menus and message boxes too),
// Qt's own texts in Japanese (はい/いいえ, the edit fields' menus), the
// dialog style, and the system's icon theme for the message icons.

// Call once, after the QApplication exists and before the first window is
// built.
void installDialogLook();
