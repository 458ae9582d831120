#include "app/quillex_dlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScopedValueRollback>
#include <QScreen>
#include <algorithm>

#include "app/about_dlg.h"
#include "app/panel_columns.h"
#include "app/propaty_dlg.h"
#include "app/tray_icon.h"
#include "dialogs/event_log.h"
#include "dialogs/event_log_dlg.h"
#include "dialogs/setting_dlg.h"
#include "port/panels_profile.h"
#include "port/port_dlg.h"
#include "port/port_setting.h"
#include "resources/app_icon.h"
#include "resources/app_texts.h"
#include "resources/home_page.h"
#include "resources/message_box.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "settings/limits.h"

namespace {

constexpr int kTopStrip = 30;  // pixels above the panels
constexpr int kLinkTop = 2;

// The system properties offer the port counts in PORT_COUNT_CHOICES' order;
// -1 for a count that is none of them.
int portCountChoice(int count) {
  const auto* found = std::find(PORT_COUNT_CHOICES.begin(), PORT_COUNT_CHOICES.end(), count);
  return found == PORT_COUNT_CHOICES.end() ? -1 : int(found - PORT_COUNT_CHOICES.begin());
}
int portCountOf(int choice) {
  return choice >= 0 && choice < int(PORT_COUNT_CHOICES.size()) ? PORT_COUNT_CHOICES[size_t(choice)]
                                                                  : PORT_COUNT_CHOICES.back();
}

}  // namespace

CQuillexDlg::CQuillexDlg(const std::string& profilePath, CEventLoop& loop, QWidget* parent)
    : QDialog(parent),
      profilePath_(profilePath),
      loop_(loop),
      columns_(std::make_unique<CPanelColumns>(this, kTopStrip)) {
  buildDialog(this, IDD_QUILLEX_DIALOG);
  // Its own taskbar entry, a close box and minimise, no maximise.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  link_ = control<QLabel>(this, IDC_POWERED_LINK);
  if (link_) connect(link_, &QLabel::linkActivated, this, [] { openHomePage(); });
  buildSystemMenu();
  setWindowIcon(quillexIcon());
  // A port's reason for not listening shows on hover even while another window is active.
  setAttribute(Qt::WA_AlwaysShowToolTips);
  readSystemSettings();
  settingDlg_ = new CSettingDlg(this);
  settingDlg_->hide();
  eventLog_ = new CEventLog(CEventLog::kDefaultCapacity, this);
  // Every port has read its section and, when ON, listens before the window
  // is laid out, its icon made and the window shown.
  createPortPanels();
  layoutPortPanels();
  centreOnScreen();
  tray_ = new CTrayIcon(this);
  connect(tray_, &CTrayIcon::openRequested, this, &CQuillexDlg::OnTrayOpen);
  connect(tray_, &CTrayIcon::exitRequested, this, &CQuillexDlg::OnTrayExit);
  tray_->addTrayIcon();
  // Without a notification area the window is the only way in: show it.
  showMainWindow(startWindow_ == 1 || !CTrayIcon::available() ? 1 : 0);
  setWindowTitle(QString::fromUtf8(TRAY_TIP));
}

CQuillexDlg::~CQuillexDlg() {
  delete eventLogDlg_;  // before the log it shows
  if (!panels_.empty()) destroyPortPanels();
}

void CQuillexDlg::buildSystemMenu() {
  systemMenu_ = new QMenu(this);
  systemMenu_->addSeparator();
  systemMenu_->addAction(QString::fromUtf8(IDS_PROPERTIES), this, &CQuillexDlg::OnProperties);
  systemMenu_->addSeparator();
  systemMenu_->addAction(QString::fromUtf8(IDS_ABOUTBOX), this, &CQuillexDlg::OnAbout);
  systemMenu_->addSeparator();
  systemMenu_->addAction(QString::fromUtf8(MENU_EVENT_LOG), this, &CQuillexDlg::OnEventLog);
  exitSeparator_ = systemMenu_->addSeparator();
  exitAction_ = systemMenu_->addAction(QString::fromUtf8(TRAY_EXIT), this, &CQuillexDlg::OnTrayExit);
}

void CQuillexDlg::contextMenuEvent(QContextMenuEvent* event) {
  for (QAction* exit : {exitSeparator_, exitAction_}) exit->setVisible(!CTrayIcon::available());
  systemMenu_->popup(event->globalPos());
}

// Shown only while the visible flag allows it, so a window that starts
// hidden never flashes up.
void CQuillexDlg::setVisible(bool visible) {
  if (visible && !visibleFlag_) return;
  QDialog::setVisible(visible);
}

void CQuillexDlg::showMainWindow(int show) {
  visibleFlag_ = show;
  if (!show) {
    hide();
    return;
  }
  this->show();
  showNormal();
}

// Enter, Esc, the close box and a close request all end here.
void CQuillexDlg::reject() {
  if (CTrayIcon::available())
    showMainWindow(0);
  else
    showMinimized();
}

void CQuillexDlg::accept() { reject(); }

void CQuillexDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CQuillexDlg::OnTrayOpen() {
  showMainWindow(1);
  raise();
  activateWindow();
}

void CQuillexDlg::OnTrayExit() {
  // A modal dialog runs its loop on top of the frames of the window that
  // opened it, perhaps a panel about to be destroyed, and panels being made
  // are on the stack: close the dialog first and come back once its loop
  // and the making have returned.
  if (QWidget* modal = QApplication::activeModalWidget(); modal || creatingPanels_) {
    if (modal) modal->close();
    QMetaObject::invokeMethod(this, &CQuillexDlg::OnTrayExit, Qt::QueuedConnection);
    return;
  }
  showMainWindow(0);
  destroyPortPanels();
  delete settingDlg_;
  settingDlg_ = nullptr;
  tray_->removeTrayIcon();
  emit exitRequested(0);
}

void CQuillexDlg::readSystemSettings() {
  CSystemSetting system = loadSystemSetting(profilePath_);
  storedPortCount_ = system.portNum;
  portCount_ = boundedPortCount(system.portNum);
  startWindow_ = system.window;
}

void CQuillexDlg::writeSystemSettings() {
  saveSystemSetting(profilePath_, CSystemSetting{portCount_, startWindow_});
  storedPortCount_ = portCount_;
}

// Each panel reads its section and starts its port when it was ON, in turn,
// from one reading of the profile that is written back once after them.
void CQuillexDlg::createPortPanels() {
  const QScopedValueRollback creating(creatingPanels_, true);
  CPanelsProfile profile(profilePath_, portCount_);
  for (int i = 0; i < portCount_; ++i) {
    auto* panel = new CPortDlg(loop_, columns_->parentFor(i, portCount_));
    panel->portIndex = i;
    panel->portCount = portCount_;
    panel->profilePath = profilePath_;
    panel->settingDlg = settingDlg_;
    panel->eventLog = eventLog_;
    panel->initPort(profile);
    panels_.push_back(panel);
  }
  profile.writeBack();
}

void CQuillexDlg::layoutPortPanels() {
  columns_->place(std::vector<QWidget*>(panels_.begin(), panels_.end()));
  if (link_) link_->move(width() - link_->width(), kLinkTop);
}

// Tab brings a panel of the scrolled column whole into view.
bool CQuillexDlg::focusNextPrevChild(bool next) {
  const bool moved = QDialog::focusNextPrevChild(next);
  if (moved) columns_->reveal(focusWidget());
  return moved;
}

// Every panel saves its section into one reading of the profile, written
// back once after the last.
void CQuillexDlg::destroyPortPanels() {
  CPanelsProfile profile(profilePath_, int(panels_.size()));
  for (CPortDlg* panel : panels_) {
    panel->saveAndStop(profile);
    panel->hide();
    delete panel;
  }
  panels_.clear();
  columns_->clear();
  profile.writeBack();
}

// Beside the main window, so the log does not hide the panels it tells of:
// on its right or left where the screen has room, else below or above it
// (as wide as the screen allows), made lower when even that room is short;
// always on the screen.
void CQuillexDlg::placeBeside(QWidget* window) {
  QScreen* s = screen();
  if (!s) return;
  const QRect room = s->availableGeometry(), main = frameGeometry();
  const QSize frame = window->frameGeometry().size() - window->size();
  const QSize size = window->frameGeometry().size();
  const auto onScreen = [&](QPoint at) {
    at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() + 1 - window->width() - frame.width())));
    at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() + 1 - window->height() - frame.height())));
    return at;
  };
  if (room.right() - main.right() >= size.width()) {
    window->move(onScreen(QPoint(main.right() + 1, main.top())));
    return;
  }
  if (main.left() - room.left() >= size.width()) {
    window->move(onScreen(QPoint(main.left() - size.width(), main.top())));
    return;
  }
  const int below = room.bottom() - main.bottom(), above = main.top() - room.top();
  const bool useBelow = below >= size.height() || (above < size.height() && below >= above);
  // Never lower than a few lines of the log.
  const int lowest = 6 * fontMetrics().height();
  const int space = std::max((useBelow ? below : above) - frame.height(), lowest);
  window->setMinimumHeight(std::min(window->minimumHeight(), space));
  window->resize(window->width(), std::min(window->height(), space));
  const int top = useBelow ? main.bottom() + 1 : main.top() - window->height() - frame.height();
  window->move(onScreen(QPoint(main.left(), top)));
}

void CQuillexDlg::centreOnScreen() {
  if (QScreen* s = screen()) move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

bool CQuillexDlg::anyPortOn() {
  bool on = false;
  for (CPortDlg* panel : panels_) {  // every panel takes its controls, without stopping early
    panel->updateData(true);
    if (panel->setting.act != 0) on = true;
  }
  return on;
}

void CQuillexDlg::OnProperties() {
  if (anyPortOn()) {
    showMessage(this, QString::fromUtf8(MSG_PORTS_ON));
    return;
  }
  CPropatyDlg dialog(this);
  // The count as stored, not as laid out: a hand-edited 0 or 11 is refused too.
  dialog.portCountChoice = portCountChoice(storedPortCount_);
  if (dialog.portCountChoice < 0) {
    showMessage(this, QString::fromUtf8(MSG_PORT_COUNT));
    return;
  }
  dialog.startWindowChoice = startWindow_;
  if (dialog.exec() != QDialog::Accepted) return;
  int count = portCountOf(dialog.portCountChoice);
  if (count != portCount_) {
    portCount_ = count;
    // An edit still open in the shared dialog must not call a panel that goes away.
    settingDlg_->cancelEdit();
    destroyPortPanels();
    createPortPanels();
    layoutPortPanels();
  }
  startWindow_ = dialog.startWindowChoice;
  writeSystemSettings();
}

void CQuillexDlg::OnAbout() {
  CAboutDlg dialog(this);
  dialog.exec();
}

void CQuillexDlg::OnEventLog() {
  const bool first = !eventLogDlg_;
  if (first) eventLogDlg_ = new CEventLogDlg(*eventLog_, this);
  eventLogDlg_->show();
  if (first) placeBeside(eventLogDlg_);  // shown, it knows its frame
  eventLogDlg_->raise();
  eventLogDlg_->activateWindow();
}

