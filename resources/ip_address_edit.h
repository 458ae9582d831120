#pragma once
// A four-field IPv4 address entry. Each field takes up to three digits;
// typing '.' or a third digit moves on to the next field. A blank field
// counts as 0; a field typed above 255 becomes 255 and a message names the
// range, so the control always hands back a dotted address. The control is
// one Tab stop, as a native address control is: Tab and Shift+Tab leave it
// from any field. Disabling it greys it but keeps the address.

#include <QFrame>
#include <QString>
#include <array>
#include <cstdint>

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
  void onFieldEdited(int index);
  // false when the field was above 255: it now holds 255 and the user was told.
  bool checkRange(int index);
  void focusField(int index);
  void leaveBackwards();

  std::array<QLineEdit*, 4> fields_{};
};
