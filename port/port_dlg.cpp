#include "port/port_dlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScopedValueRollback>

#include "dialogs/event_log.h"
#include "dialogs/setting_dlg.h"
#include "dialogs/status_dlg.h"
#include "port/listen_reason.h"
#include "port/panels_profile.h"
#include "port/panel_marks.h"
#include "port/port_check.h"
#include "port/port_setting.h"
#include "port/repeater_setup.h"
#include "relay/endpoint_text.h"
#include "resources/message_box.h"
#include "resources/port_texts.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "settings/limits.h"

namespace {

// One frame of a 60 Hz display.
constexpr int kCountRefreshMs = 16;

// Between the "Ip/Host" label and a destination that fills its box.
constexpr int kHostGap = 4;

// A static painted on a solid background of its own.
void paintBackground(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

// Only the caption of a frame takes a colour: the style fills the caption
// with the frame's window colour and leaves the frame's inside unfilled, so
// the controls within keep their own colours.
void paintCaption(QGroupBox* group, const QColor& colour) {
  QPalette palette = group->palette();
  palette.setColor(QPalette::Window, colour);
  group->setPalette(palette);
}

// A destination wider than its label shows its start, a little apart from
// its label, as an edit field does, and the whole name on hover; one that
// fits stays centred.
void showHost(QLabel* label, const QString& host) {
  label->setText(host);
  label->setContentsMargins(0, 0, 0, 0);
  const bool fits = label->fontMetrics().horizontalAdvance(host) <= label->contentsRect().width();
  const Qt::Alignment vertical = label->alignment() & Qt::AlignVertical_Mask;
  label->setAlignment((fits ? Qt::AlignHCenter : Qt::AlignLeft) | vertical);
  label->setContentsMargins(fits ? 0 : kHostGap, 0, 0, 0);
  label->setToolTip(fits ? QString() : host);
}

// The destination as the event log and the reasons name it.
QString destinationText(const CPortSetting& s) { return QString::fromStdString(endpointText(s.forwardHost, s.forwardPort)); }

}  // namespace

CPortDlg::CPortDlg(CEventLoop& loop, QWidget* parent) : QWidget(parent), repeater(loop) {
  buildDialog(this, IDD_PORT);
  paintBackground(this, greyBrush);
  paintBackground(findControl(this, IDC_FORWARD_PORT_TEXT), yellowBrush);
  paintBackground(findControl(this, IDC_FORWARD_HOST_TEXT), yellowBrush);
  paintCaption(control<QGroupBox>(this, IDC_TCP_GROUP), yellowBrush);
  auto* count = control<QLabel>(this, IDC_CONNECTION_COUNT);
  count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  failMark_ = makeFailMark(count);
  connectHandlers();
  countRefresh_.setSingleShot(true);
  countRefresh_.setInterval(kCountRefreshMs);
  connect(&countRefresh_, &QTimer::timeout, this, &CPortDlg::showCount);
}

CPortDlg::~CPortDlg() {
  if (editingDlg_) editingDlg_->cancelEdit(this);
}

void CPortDlg::connectHandlers() {
  const auto onClick = [this](int id, void (CPortDlg::*handler)()) {
    connect(control<QAbstractButton>(this, id), &QAbstractButton::clicked, this, handler);
  };
  onClick(IDC_SETTING, &CPortDlg::OnBnClickedSetting);
  onClick(IDC_ON_OFF, &CPortDlg::OnBnClickedOnOff);
  onClick(IDC_STATUS, &CPortDlg::OnBnClickedStatus);
}

void CPortDlg::initPort() { startPort(); }

void CPortDlg::initPort(CPanelsProfile& profile) {
  const QScopedValueRollback sharing(shared_, &profile);
  startPort();
}

void CPortDlg::startPort() {
  connectionCount = 0;
  loadProfile();
  connectionCountText = QString::number(connectionCount);
  forwardPortText = QString::number(setting.forwardPort);
  setCaption();
  updateData(false);
  // The switch already shows the stored state. No port waits for a message
  // about not listening at start: the mark, its tooltip and the log say it.
  switchOnOff(false);
}

void CPortDlg::OnBnClickedOnOff() { switchOnOff(true); }

void CPortDlg::switchOnOff(bool userClick) {
  updateData(true);
  if (setting.act == 1) {
    // A port beyond 65535 would wrap to another on the wire: refused like 0.
    if (const char* refusal = switchOnRefusal(setting.port, setting.forwardPort)) {
      showMessage(this, QString::fromUtf8(refusal));
      setting.act = 0;
      updateData(false);
      return;  // the file keeps what it held
    }
    control<QPushButton>(this, IDC_ON_OFF)->setText(QString::fromUtf8(kSwitchOn));
  } else {
    control<QPushButton>(this, IDC_ON_OFF)->setText(QString::fromUtf8(kSwitchOff));
  }
  applyState();
  saveProfile();
  // Never from a socket handler: only a click comes here.
  if (userClick && !notListening_.isEmpty()) {
    QString text = QString::fromUtf8(kNotListening).arg(setting.port).arg(notListening_);
    if (retryMaySucceed(repeater, listenBlock_)) text += QString::fromUtf8(kRetryAtNextStart);
    showMessage(this, text);
  }
}

void CPortDlg::applyState() {
  const bool wasListening = repeater.isListening();
  listenBlock_ = CListenBlock{};
  if (setting.act == 0) {
    repeater.stop();
  } else if (isUsablePort(setting.port) && isUsablePort(setting.forwardPort) && !setting.forwardHost.empty() &&
             (listenBlock_ = loopBlock()).loopsTo == 0) {
    destination_ = destinationText(setting);
    repeater.setConnectionObserver(eventLog ? this : nullptr);
    repeater.setListener(this);
    applyPortSetting(repeater, setting);
  }
  updateListenReason();
  logListenState(wasListening);
}

// A port that shows ON but does not listen has a mark that says so and says
// why on hover, for users without the debug console.
void CPortDlg::updateListenReason() {
  listenBlock_.noHost = setting.forwardHost.empty();
  notListening_ = listenReason(repeater, setting.act != 0, listenBlock_);
  setToolTip(notListeningLine());
  failMark_->setVisible(!notListening_.isEmpty());
}

// A destination that is one of the relay's own listening ports, this one's
// or another port's that is ON in the profile, would make one caller an
// endless chain of connections: such a port does not start.
CListenBlock CPortDlg::loopBlock() const {
  // Only a port listening on the destination's port number can be reached.
  const int at = setting.forwardPort;
  std::map<int, CPortSetting> on =
      shared_ ? shared_->portsOnAt(at) : CPanelsProfile(profilePath, portCount).portsOnAt(at);
  on[portIndex] = setting;  // as it is about to run, whatever the file holds yet
  CListenBlock block;
  const int target = relayLoopTarget(setting, on);
  if (target < 0) return block;
  block.loopsTo = on.at(target).port;
  block.loopsToItself = target == portIndex;
  block.destination = destinationText(setting);
  return block;
}

QString CPortDlg::notListeningLine() const {
  return notListening_.isEmpty() ? QString() : QString::fromUtf8(kNotListeningTip).arg(notListening_);
}

void CPortDlg::logListenState(bool wasListening) {
  if (!eventLog) return;
  using Kind = CLogEvent::Kind;
  if (setting.act == 0) {
    if (wasListening) eventLog->addListenEvent(Kind::ListenStopped, repeater.listenPort, destination_, {});
  } else if (repeater.isListening()) {
    eventLog->addListenEvent(Kind::ListenStarted, setting.port, destination_, listenEndpoint(repeater));
  } else {
    eventLog->addListenEvent(Kind::CannotListen, setting.port, destination_, notListeningLine());
  }
}

// Called from inside socket handlers, once per connection end: one record
// copied into the log, nothing formatted.
void CPortDlg::connectionEnded(const CConnectionRecord& record) {
  eventLog->addConnection(repeater.listenPort, destination_, record);
}

void CPortDlg::loadProfile() {
  setting = shared_ ? shared_->read(portIndex) : loadPortSetting(profilePath, portIndex);
}

// A failed write is traced by the profile code and leaves the file as it was.
void CPortDlg::saveProfile() {
  if (shared_)
    shared_->save(portIndex, setting);
  else
    savePortSetting(profilePath, portIndex, setting);
}

void CPortDlg::saveAndStop(CPanelsProfile& profile) {
  const QScopedValueRollback sharing(shared_, &profile);
  saveAndStop();
}

void CPortDlg::saveAndStop() {
  saveProfile();
  const bool wasListening = repeater.isListening();
  repeater.stop();
  if (eventLog && wasListening)
    eventLog->addListenEvent(CLogEvent::Kind::ListenStopped, repeater.listenPort, destination_, {});
}

void CPortDlg::OnBnClickedSetting() {
  updateData(true);
  if (setting.act != 0) {
    showMessage(this, QString::fromUtf8(kPortInUse));
    return;
  }
  if (!settingDlg) return;
  if (settingDlg->isEditing()) {
    showMessage(this, QString::fromUtf8(kSettingBusy));
    return;
  }
  settingDlg->beginEdit(this);
  editingDlg_ = settingDlg;
  editFilter = setting.filter;  // drops whatever a cancelled edit left in the copy
  settingDlg->loadSettings(setting, &editFilter);
}

void CPortDlg::notifySettingOk() {
  static_cast<CSettingValues&>(setting) = settingDlg->readSettings();
  setCaption();
  forwardPortText = QString::number(setting.forwardPort);
  setting.filter = editFilter;  // a running repeater applies it from its next caller
  updateData(false);
  saveProfile();
}

void CPortDlg::OnBnClickedStatus() {
  if (connectionCount == 0) {
    showMessage(this, QString::fromUtf8(kNoConnection));
    return;
  }
  CStatusDlg dlg(this);
  dlg.repeater = &repeater;
  dlg.exec();
}

// Called from inside socket handlers: labels and colours only, never a box.
// A busy port reports thousands of counts a second; the controls follow at
// most once a display frame, so the count shown is never older than that.
void CPortDlg::notifyConnectionCount(int count) {
  connectionCount = count;
  connectionCountText = QString::number(connectionCount);
  if (!countRefresh_.isActive()) countRefresh_.start();
}

void CPortDlg::setCaption() {
  control<QGroupBox>(this, IDC_TCP_GROUP)->setTitle(QString::fromUtf8(kPortCaption).arg(setting.port));
}

void CPortDlg::updateData(bool saveAndValidate) {
  auto* count = control<QLabel>(this, IDC_CONNECTION_COUNT);
  auto* portText = control<QLabel>(this, IDC_FORWARD_PORT_TEXT);
  auto* hostText = control<QLabel>(this, IDC_FORWARD_HOST_TEXT);
  auto* onOff = control<QPushButton>(this, IDC_ON_OFF);
  if (saveAndValidate) {
    // A count not yet shown would be read back stale: show it first. Only
    // the count: the switch keeps the state the user just gave it.
    if (countRefresh_.isActive()) showCount();
    connectionCountText = count->text();
    forwardPortText = portText->text();
    // The label cannot be edited; reading it back would turn bytes that are
    // not UTF-8 into replacement characters and store those.
    const QString host = hostText->text();
    if (host != QString::fromStdString(setting.forwardHost)) setting.forwardHost = host.toStdString();
    setting.act = onOff->isChecked() ? 1 : 0;
  } else {
    showCount();
    portText->setText(forwardPortText);
    showHost(hostText, QString::fromStdString(setting.forwardHost));
    onOff->setChecked(setting.act != 0);
    OnCtlColor();
  }
}

void CPortDlg::showCount() {
  countRefresh_.stop();
  control<QLabel>(this, IDC_CONNECTION_COUNT)->setText(connectionCountText);
  paintBackground(findControl(this, IDC_CONNECTION_COUNT), connectionCount > 0 ? greenBrush : yellowBrush);
}

// The filter mark's colour and words follow the live filter; the count's
// colour follows the count (showCount); the other statics keep the colours
// the constructor gave them.
void CPortDlg::OnCtlColor() {
  QWidget* mark = findControl(this, IDC_FILTER_MARK);
  paintBackground(mark, setting.filter.mode != 0 ? yellowBrush : greyBrush);
  mark->setToolTip(filterTip(setting.filter));
}
