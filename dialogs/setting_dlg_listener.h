#pragma once
// How the port settings dialog reports OK to the panel being edited; the
// panel then collects the values with CSettingDlg::readSettings.

class CSettingDlgListener {
 public:
  virtual void notifySettingOk() = 0;

 protected:
  ~CSettingDlgListener() = default;
};
