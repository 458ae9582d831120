#pragma once
// The port settings dialog: one modeless instance shared by every port
// panel, so one port is edited at a time. A panel claims it (beginEdit),
// fills it (loadSettings) and is called back on OK through its listener;
// the dialog validates nothing and writes nothing back itself, except filter
// changes confirmed in the filter dialog, which go to the panel's working
// copy of its filter. Beyond the original, either bind address may be IPv6
// (OK refuses one that is none, with a message) and the listener without a
// bind address may take both families. Owned by the main window.

#include <QDialog>
#include <QString>
#include <string>

#include "settings/setting_values.h"

class CBindAddressChoice;
class CIpAddressEdit;
class CIpFilter;
class CSettingDlgListener;
class CSpinButton;

class CSettingDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CSettingDlg(QWidget* parent = nullptr);

  bool isEditing() const { return isFree == 0; }
  // Claims the dialog for a panel and centres it over the main window.
  void beginEdit(CSettingDlgListener* editor);
  // Fills every field and shows the dialog. editFilter stays the panel's.
  void loadSettings(const CSettingValues& values, CIpFilter* editFilter);
  // The values as they stand in the controls.
  CSettingValues readSettings();
  // Ends an open edit as Cancel does and forgets the panel's filter, so a
  // panel can be destroyed safely: call it first. With an editor, only that
  // panel's edit is ended; with none, whichever edit is open.
  void cancelEdit(const CSettingDlgListener* editor = nullptr);

  void accept() override;  // OK and Enter
  void reject() override;  // Cancel, Esc and the close box

 private:
  void OnBnClickedLocalhost();
  void OnBnClickedDefault();
  void OnBnClickedListenBind();
  void OnBnClickedConnectBind();
  void OnBnClickedFilter();
  void updateListenDual();
  // false, after telling the user, when a bind address is no address.
  bool checkBindAddresses();
  void OnOK();
  void OnCancel();
  void connectHandlers();
  void updateData(bool save);
  void updateFilterCaption();
  void centreOverMainWindow();

  CIpAddressEdit* connectBindAddressCtrl;
  CIpAddressEdit* listenBindAddressCtrl;
  CSpinButton* bufferSizeSpin;
  CSpinButton* forwardPortSpin;
  CSpinButton* listenPortSpin;
  CBindAddressChoice* listenBind;   // IPv4 or IPv6 around the controls above
  CBindAddressChoice* connectBind;
  QString forwardHost;
  int localhostCheck = 0;
  int isListenBind = 0;
  int isConnectBind = 0;
  int listenDual = 0;
  QString filterCaption;
  int isFree = 1;
  CSettingDlgListener* listener = nullptr;  // the panel being edited; not owned
  CIpFilter* filter = nullptr;              // the panel's working copy; not owned
};
