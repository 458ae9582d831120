#pragma once
// The program's message boxes: errors with an OK button and the warning
// icon, and the one Yes/No question. Both run modally and carry the caption
// "Quillex".

class QString;
class QWidget;

// OK only, warning icon.
void showMessage(QWidget* parent, const QString& text);

// Yes and No with the question icon. Only an explicit Yes returns true;
// No, Esc and the close box all count as No.
bool askQuestion(QWidget* parent, const QString& text);

// The program is ending: every box from now on answers at once as its Esc
// would, so nothing waits for a click. A box already open is its caller's
// to close.
void endMessages();
