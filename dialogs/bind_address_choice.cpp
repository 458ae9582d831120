#include "dialogs/bind_address_choice.h"

#include <QCheckBox>
#include <QLineEdit>

#include "relay/ip_text.h"
#include "relay/platform/net.h"
#include "resources/dialog_texts.h"
#include "resources/ip_address_edit.h"
#include "resources/template_builder.h"

CBindAddressChoice::CBindAddressChoice(QWidget* dialog, int addressId, int ipv6Id, int textId)
    : QObject(dialog),
      addressCtrl(control<CIpAddressEdit>(dialog, addressId)),
      ipv6Check(control<QCheckBox>(dialog, ipv6Id)),
      ipv6Text(control<QLineEdit>(dialog, textId)) {
  ipv6Text->setPlaceholderText(QString::fromUtf8(kBindHint6));
  connect(ipv6Check, &QCheckBox::toggled, this, &CBindAddressChoice::showFamily);
}

void CBindAddressChoice::load(const std::string& text) {
  const bool ipv6 = text.find(':') != std::string::npos;
  addressCtrl->setAddress(ntohl(::inet_addr(text.c_str())));
  ipv6Text->setText(ipv6 ? QString::fromStdString(text) : QString());
  ipv6Text->setCursorPosition(0);  // a long address shows its start
  ipv6Check->setChecked(ipv6);
  showFamily();
}

void CBindAddressChoice::setBindEnabled(bool on) {
  addressCtrl->setEnabled(on);
  ipv6Text->setEnabled(on);
}

bool CBindAddressChoice::isIPv6() const { return ipv6Check->isChecked(); }

std::string CBindAddressChoice::address() const {
  if (isIPv6() && !ipv6Text->text().isEmpty()) return ipv6Text->text().toStdString();
  return addressCtrl->addressText().toStdString();
}

QLineEdit* CBindAddressChoice::badField() const {
  sockaddr_in6 parsed{};
  if (!isIPv6() || !ipv6Text->isEnabled()) return nullptr;
  return parseIPv6Literal(ipv6Text->text().toStdString(), parsed) ? nullptr : ipv6Text;
}

void CBindAddressChoice::showFamily() {
  addressCtrl->setVisible(!isIPv6());
  ipv6Text->setVisible(isIPv6());
}
