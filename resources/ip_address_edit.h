#pragma once
// A four-field IPv4 address entry that types as a native address control
// does. Each field takes up to three digits; a third digit moves on to the
// next field, and a "." typed right after that is swallowed, so typing a
// dotted address fills one field per part. A "." in a non-empty field moves
// on; Backspace in an empty field and Left at a field's start move back,
// Right at its end moves on. Pasting a dotted address fills all four fields.
// A blank field counts as 0; a field typed above 255 becomes 255 and a
// message names the range, so the control always hands back a dotted
// address. The control is one Tab stop: Tab and Shift+Tab leave it from any
// field. Disabling it greys it but keeps the address.

#include <QFrame>
#include <QString>
#include <array>
#include <cstdint>

class QContextMenuEvent;
class QKeyEvent;
class QLineEdit;

class CIpAddressEdit : public QFrame {
  Q_OBJECT

 public:
  explicit CIpAddressEdit(QWidget* parent = nullptr);

  // The address with its first part in the most significant byte.
  void setAddress(uint32_t address);
  void clearAddress();
  // Four decimal fields joined by '.'.
  QString addressText() const;
  QLineEdit* field(int index) const { return fields_.at(index); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int fieldIndex(const QObject* watched) const;
  // true when the key was taken here.
  bool handleKey(int index, const QKeyEvent& key, bool advancedByItself);
  // true when the clipboard held a dotted address, now in the four fields.
  bool pasteAddress();
  void showFieldMenu(int index, const QContextMenuEvent& event);
  void onFieldEdited(int index);
  // false when the field was above 255: it now holds 255 and the user was told.
  bool checkRange(int index);
  void focusField(int index);
  void placeCursor(int index, int position);
  void leaveBackwards();

  std::array<QLineEdit*, 4> fields_{};
  int advancedInto_ = -1;  // the field the last digit moved on to by itself
};
