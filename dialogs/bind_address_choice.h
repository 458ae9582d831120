#pragma once
// One bind address of the settings dialog, in either family. The IPv4
// address control stays as it always was; ticking "IPv6" puts a text field
// in its place, and clearing the tick brings the control back. Each keeps
// what it holds while the other is hidden, so an address loaded from the
// profile goes back as it came. The widgets are the dialog's; this object
// is a child of the dialog.

#include <QObject>
#include <string>

class CIpAddressEdit;
class QCheckBox;
class QLineEdit;
class QWidget;

class CBindAddressChoice : public QObject {
  Q_OBJECT

 public:
  // The ids of the address control, the "IPv6" box and the IPv6 field.
  CBindAddressChoice(QWidget* dialog, int addressId, int ipv6Id, int textId);

  // Text with a colon (no IPv4 address or name has one) ticks "IPv6" and
  // fills the field; any other text clears both. The address control shows
  // it as inet_addr reads it either way (what it cannot read shows as
  // 255.255.255.255).
  void load(const std::string& text);
  // The address shown is enabled exactly when its bind is on.
  void setBindEnabled(bool on);
  bool isIPv6() const;
  // The field's text while "IPv6" is ticked and it holds some, else the
  // control's dotted address.
  std::string address() const;
  // The IPv6 field when its address is in use (ticked, bind on) but is no
  // IPv6 address this machine can bind, else null.
  QLineEdit* badField() const;

 private:
  void showFamily();

  CIpAddressEdit* addressCtrl;
  QCheckBox* ipv6Check;
  QLineEdit* ipv6Text;
};
