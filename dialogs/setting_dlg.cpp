#include "dialogs/setting_dlg.h"


#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include "dialogs/bind_address_choice.h"
#include "dialogs/filter_condition_dlg.h"
#include "dialogs/setting_dlg_listener.h"
#include "filter/ip_filter.h"
#include "resources/dialog_texts.h"
#include "resources/ip_address_edit.h"
#include "resources/message_box.h"
#include "resources/resource_ids.h"
#include "resources/spin_button.h"
#include "resources/template_builder.h"
#include "settings/limits.h"

namespace {


// Only ASCII letters change case: a non-ASCII letter whose capital happens
// to be ASCII (the long s) must not turn a host into "LOCALHOST".
QString asciiUpper(const QString& text) {
  QString upper = text;
  for (QChar& c : upper) {
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
  }
  return upper;
}

bool namesThisComputer(const QString& host) {
  const QString upper = asciiUpper(host);
  return upper == QLatin1String("LOCALHOST") || upper == QLatin1String("127.0.0.1");
}

}  // namespace

CSettingDlg::CSettingDlg(QWidget* parent) : QDialog(parent) {
  buildDialog(this, IDD_SETTING);
  connectBindAddressCtrl = control<CIpAddressEdit>(this, IDC_CONNECT_BIND_ADDRESS);
  listenBindAddressCtrl = control<CIpAddressEdit>(this, IDC_LISTEN_BIND_ADDRESS);
  bufferSizeSpin = control<CSpinButton>(this, IDC_BUFFER_SIZE_SPIN);
  forwardPortSpin = control<CSpinButton>(this, IDC_FORWARD_PORT_SPIN);
  listenPortSpin = control<CSpinButton>(this, IDC_LISTEN_PORT_SPIN);
  listenBind = new CBindAddressChoice(this, IDC_LISTEN_BIND_ADDRESS, IDC_LISTEN_BIND_IPV6, IDC_LISTEN_BIND_TEXT);
  connectBind = new CBindAddressChoice(this, IDC_CONNECT_BIND_ADDRESS, IDC_CONNECT_BIND_IPV6, IDC_CONNECT_BIND_TEXT);
  connectHandlers();
}

void CSettingDlg::connectHandlers() {
  const auto onClick = [this](int id, void (CSettingDlg::*handler)()) {
    connect(control<QAbstractButton>(this, id), &QAbstractButton::clicked, this, handler);
  };
  onClick(IDC_LOCALHOST, &CSettingDlg::OnBnClickedLocalhost);
  onClick(IDC_DEFAULT, &CSettingDlg::OnBnClickedDefault);
  onClick(IDC_LISTEN_BIND, &CSettingDlg::OnBnClickedListenBind);
  onClick(IDC_CONNECT_BIND, &CSettingDlg::OnBnClickedConnectBind);
  onClick(IDC_FILTER, &CSettingDlg::OnBnClickedFilter);
  connect(control<QPushButton>(this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
  connect(control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
}

void CSettingDlg::beginEdit(CSettingDlgListener* editor) {
  isFree = 0;
  listener = editor;
  centreOverMainWindow();
}

void CSettingDlg::loadSettings(const CSettingValues& values, CIpFilter* editFilter) {
  listenPortSpin->setRange(0, MAX_PORT_NUMBER);
  listenPortSpin->setPosition(values.port);
  forwardHost = QString::fromStdString(values.forwardHost);
  forwardPortSpin->setRange(0, MAX_PORT_NUMBER);
  forwardPortSpin->setPosition(values.forwardPort);
  localhostCheck = namesThisComputer(forwardHost) ? 1 : 0;
  findControl(this, IDC_FORWARD_HOST)->setEnabled(localhostCheck == 0);
  bufferSizeSpin->setRange(MIN_BUFFER_KBYTES, MAX_BUFFER_KBYTES);
  bufferSizeSpin->setPosition(values.bufferSize);
  isListenBind = values.isListenBind != 0 ? 1 : 0;
  listenBind->setBindEnabled(isListenBind != 0);
  listenBind->load(values.ipListenBind);
  isConnectBind = values.isConnectBind != 0 ? 1 : 0;
  connectBind->setBindEnabled(isConnectBind != 0);
  connectBind->load(values.ipConnectBind);
  listenDual = values.listenDual == 1 ? 1 : 0;
  filter = editFilter;
  updateFilterCaption();
  updateData(false);
  show();
  raise();
  activateWindow();
}

CSettingValues CSettingDlg::readSettings() {
  updateData(true);
  CSettingValues values;
  values.port = listenPortSpin->position();
  values.forwardHost = forwardHost.toStdString();
  values.forwardPort = forwardPortSpin->position();
  values.bufferSize = bufferSizeSpin->position();
  values.isListenBind = isListenBind;
  values.ipListenBind = listenBind->address();
  values.isConnectBind = isConnectBind;
  values.ipConnectBind = connectBind->address();
  values.listenDual = listenDual;
  return values;
}

void CSettingDlg::cancelEdit(const CSettingDlgListener* editor) {
  if (!isEditing() || (editor && editor != listener)) return;
  filter = nullptr;  // it belongs to the panel that is going away
  reject();
}

void CSettingDlg::accept() {
  if (!checkBindAddresses()) return;
  QPointer<CSettingDlg> self(this);
  OnOK();
  if (self) QDialog::accept();
}

void CSettingDlg::reject() {
  OnCancel();
  QDialog::reject();
}

void CSettingDlg::OnBnClickedLocalhost() {
  updateData(true);
  QWidget* hostEdit = findControl(this, IDC_FORWARD_HOST);
  if (localhostCheck == 0) {
    hostEdit->setEnabled(true);
    return;
  }
  if (namesThisComputer(forwardHost)) return;
  if (!askQuestion(this, QString::fromUtf8(kLocalhostQuestion))) return;
  forwardHost = QStringLiteral("127.0.0.1");
  hostEdit->setEnabled(false);
  updateData(false);
}

void CSettingDlg::OnBnClickedDefault() { bufferSizeSpin->setPosition(DEFAULT_BUFFER_KBYTES); }

void CSettingDlg::OnBnClickedListenBind() {
  updateData(true);
  listenBind->setBindEnabled(isListenBind == 1);
  updateListenDual();
}

void CSettingDlg::OnBnClickedConnectBind() {
  updateData(true);
  connectBind->setBindEnabled(isConnectBind == 1);
}

// Both families are a choice for the listener without a bind address only;
// with one, the choice is kept but has no say.
void CSettingDlg::updateListenDual() { findControl(this, IDC_LISTEN_DUAL)->setEnabled(isListenBind == 0); }

bool CSettingDlg::checkBindAddresses() {
  updateData(true);
  for (const CBindAddressChoice* side : {listenBind, connectBind}) {
    QLineEdit* bad = side->badField();
    if (!bad) continue;
    showMessage(this, QString::fromUtf8(kBindFormatMessage6));
    bad->setFocus();
    bad->selectAll();
    return false;
  }
  return true;
}

void CSettingDlg::OnBnClickedFilter() {
  if (!filter) return;
  CIpFilter* const target = filter;
  CIpFilter copy = *target;
  QPointer<CSettingDlg> self(this);
  QPointer<CFilterConditionDlg> dialog = new CFilterConditionDlg(this);
  dialog->filter = &copy;
  const int result = dialog->exec();
  // The nested loop may have ended this edit, or this dialog, meanwhile.
  if (!self) return;
  delete dialog;
  if (result != QDialog::Accepted || filter != target || !isEditing()) return;
  *target = copy;
  updateFilterCaption();
  control<QLabel>(this, IDC_FILTER_CAPTION)->setText(filterCaption);
}

void CSettingDlg::OnOK() {
  isFree = 1;
  // Cleared before the call, so a panel that claims the dialog again from
  // its callback keeps its claim.
  CSettingDlgListener* editor = listener;
  listener = nullptr;
  if (editor) editor->notifySettingOk();
}

void CSettingDlg::OnCancel() {
  isFree = 1;
  listener = nullptr;
}

void CSettingDlg::updateData(bool save) {
  auto* hostEdit = control<QLineEdit>(this, IDC_FORWARD_HOST);
  auto* localhost = control<QCheckBox>(this, IDC_LOCALHOST);
  auto* listenBindCheck = control<QCheckBox>(this, IDC_LISTEN_BIND);
  auto* connectBindCheck = control<QCheckBox>(this, IDC_CONNECT_BIND);
  auto* dual = control<QCheckBox>(this, IDC_LISTEN_DUAL);
  auto* caption = control<QLabel>(this, IDC_FILTER_CAPTION);
  if (save) {
    forwardHost = hostEdit->text();
    localhostCheck = localhost->isChecked() ? 1 : 0;
    isListenBind = listenBindCheck->isChecked() ? 1 : 0;
    isConnectBind = connectBindCheck->isChecked() ? 1 : 0;
    listenDual = dual->isChecked() ? 1 : 0;
    filterCaption = caption->text();
  } else {
    hostEdit->setText(forwardHost);
    hostEdit->setCursorPosition(0);  // a long host shows its start, not its end
    localhost->setChecked(localhostCheck != 0);
    listenBindCheck->setChecked(isListenBind != 0);
    connectBindCheck->setChecked(isConnectBind != 0);
    dual->setChecked(listenDual != 0);
    updateListenDual();
    caption->setText(filterCaption);
  }
}

void CSettingDlg::updateFilterCaption() {
  if (!filter) return;
  const int mode = filter->mode;
  if (mode >= 0 && mode < static_cast<int>(kFilterCaptions.size())) {
    filterCaption = QString::fromUtf8(kFilterCaptions[mode]);
  }
}

void CSettingDlg::centreOverMainWindow() {
  QWidget* owner = parentWidget();  // the main window, which owns the dialog
  QRect area;
  if (owner && owner->isVisible()) {
    area = owner->frameGeometry();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  QRect frame = frameGeometry();
  frame.moveCenter(area.center());
  move(frame.topLeft());
}
