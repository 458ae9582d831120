#pragma once
// The main window: one port panel per configured port in one or two
// columns (the second scrolls beyond ten panels), the shared settings dialog,
// the notification-area icon, and the window menu with the system properties,
// the version dialog and the event log. Closing it only hides it; the program
// ends through the icon's "終了".
//
// Owns its panels, their columns, the settings dialog, the event log with its
// window, the tray icon, and both menus (its own and the tray's), as their Qt
// parent.

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CEventLog;
class CEventLogDlg;
class CEventLoop;
class CPanelColumns;
class CPortDlg;
class CSettingDlg;
class CTrayIcon;
class QLabel;
class QMenu;

class CQuillexDlg : public QDialog {
  Q_OBJECT

 public:
  // The loop relays every panel's port and must outlive the window.
  CQuillexDlg(const std::string& profilePath, CEventLoop& loop, QWidget* parent = nullptr);
  ~CQuillexDlg() override;

  void showMainWindow(int show);
  void OnTrayOpen();      // "メインウィンドウを開く", or a double click on the icon
  void OnTrayExit();      // "終了": saves and stops every port, then ends the program
  void OnProperties();    // "プロパティ設定"
  void OnAbout();         // "Quillex のﾊﾞｰｼﾞｮﾝ情報"
  void OnEventLog();      // "通信ログ"

  const std::vector<CPortDlg*>& panels() const { return panels_; }
  CSettingDlg* settingDialog() const { return settingDlg_; }
  CEventLog* eventLog() const { return eventLog_; }
  CEventLogDlg* eventLogDialog() const { return eventLogDlg_; }
  QMenu* systemMenu() const { return systemMenu_; }
  int portCount() const { return portCount_; }
  int startWindow() const { return startWindow_; }

  void setVisible(bool visible) override;
  void accept() override;
  void reject() override;

 signals:
  // The exit sequence has run; the program should end with this code.
  void exitRequested(int code);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  void buildSystemMenu();
  void readSystemSettings();
  void writeSystemSettings();
  void createPortPanels();
  void layoutPortPanels();
  void destroyPortPanels();
  void centreOnScreen();
  void placeBeside(QWidget* window);
  bool anyPortOn();

  std::string profilePath_;
  CEventLoop& loop_;
  std::vector<CPortDlg*> panels_;
  std::unique_ptr<CPanelColumns> columns_;
  CSettingDlg* settingDlg_ = nullptr;
  CEventLog* eventLog_ = nullptr;
  CEventLogDlg* eventLogDlg_ = nullptr;  // made when first asked for
  CTrayIcon* tray_ = nullptr;
  QMenu* systemMenu_ = nullptr;
  // In the window menu, after a separator of their own, only while there is
  // no notification area.
  QAction* exitSeparator_ = nullptr;
  QAction* exitAction_ = nullptr;
  QLabel* link_ = nullptr;
  int portCount_ = 1;        // panels laid out
  int storedPortCount_ = 1;  // PORTNUM as the profile holds it
  int startWindow_ = 1;
  int visibleFlag_ = 0;
  bool creatingPanels_ = false;  // a panel's start-up message may run a loop meanwhile
};
