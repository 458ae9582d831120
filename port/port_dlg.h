#pragma once
// The panel of one relayed port in the main window: it shows the listen
// port, the destination and the number of connections, switches the port on
// and off, opens the shared settings dialog and the connection status
// dialog, and reads and writes its own section of the profile.
//
// A port that is ON but does not listen shows a warning mark in its count
// and says why, on hover and in a message when it is switched on. In the
// window the panel also tells the shared event log what its port does.
//
// The panel owns its settings record (with the live filter in it), the
// working copy of the filter handed to the settings dialog, and its
// repeater. It does not own the settings dialog or the event log, which the
// main window shares among all panels.

#include <QColor>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <string>

#include "dialogs/setting_dlg_listener.h"
#include "filter/ip_filter.h"
#include "port/listen_reason.h"
#include "port/port_setting.h"
#include "relay/tcp_repeater.h"

class CEventLog;
class CPanelsProfile;
class CSettingDlg;
class QLabel;

class CPortDlg : public QWidget,
                 public CSettingDlgListener,
                 public CTcpRepeaterListener,
                 public CConnectionObserver {
  Q_OBJECT

 public:
  // Builds the panel's controls, hidden until the main window shows it.
  // The loop relays the panel's port and must outlive the panel.
  explicit CPortDlg(CEventLoop& loop, QWidget* parent = nullptr);
  // Ends this panel's open settings edit, so the shared dialog never calls
  // a destroyed panel.
  ~CPortDlg() override;
  CPortDlg(const CPortDlg&) = delete;
  CPortDlg& operator=(const CPortDlg&) = delete;

  // Reads the panel's section and restores the stored ON/OFF state, with the
  // same checks and messages as a click on the switch.
  void initPort();
  // Before the panel is destroyed: the file receives the last state.
  void saveAndStop();
  // The same two for one of many panels made or destroyed together: the
  // panel reads and saves its section in `profile`, which the caller writes
  // back once.
  void initPort(CPanelsProfile& profile);
  void saveAndStop(CPanelsProfile& profile);
  // true: controls -> fields; false: fields -> controls (and their colours).
  void updateData(bool saveAndValidate);

  void notifySettingOk() override;
  void notifyConnectionCount(int count) override;
  void connectionEnded(const CConnectionRecord& record) override;

  // Texts of the count and the destination port.
  QString connectionCountText;
  QString forwardPortText;
  // Backgrounds behind the panel and its statics.
  const QColor greyBrush{220, 220, 220};
  const QColor yellowBrush{255, 255, 180};
  const QColor greenBrush{180, 255, 180};
  int portIndex = 0;  // selects the section "TCP-PORT<portIndex>"
  int portCount = 1;  // the panels of the main window, this one included
  std::string profilePath;
  CSettingDlg* settingDlg = nullptr;  // shared; owned by the main window
  CEventLog* eventLog = nullptr;      // shared; owned by the main window; null: none
  int connectionCount = 0;
  // The port's settings; act is also the switch's state (1 = ON) and
  // forwardHost the destination's text. The repeater reads the live filter
  // in it through a pointer, so it is declared first and outlives the repeater.
  CPortSetting setting;
  CIpFilter editFilter;  // working copy edited in the settings dialog
  CTcpRepeater repeater;

 private:
  void OnBnClickedOnOff();
  void OnBnClickedSetting();
  void OnBnClickedStatus();
  // Applies the switch; the user's own click also hears why a port that is
  // ON does not listen.
  void switchOnOff(bool userClick);
  void applyState();
  void loadProfile();
  void saveProfile();
  void setCaption();
  void OnCtlColor();
  void showCount();
  void updateListenReason();
  CListenBlock loopBlock() const;
  // "待ち受けていません: " and why, for the tooltip and the log; empty when fine.
  QString notListeningLine() const;
  void logListenState(bool wasListening);
  void connectHandlers();
  void startPort();

  // The dialog this panel claimed; it may be gone before the panel.
  QPointer<CSettingDlg> editingDlg_;
  CPanelsProfile* shared_ = nullptr;  // stands in for the file while one of the two above runs
  QTimer countRefresh_;  // shows the last reported count
  QLabel* failMark_ = nullptr;  // in the count; owned by the widget tree
  QString notListening_;        // why the port does not listen though ON; empty when fine
  CListenBlock listenBlock_;    // what, besides its socket, kept it from listening
  // The destination as the log names it; every event of this start shares its text.
  QString destination_;
};
