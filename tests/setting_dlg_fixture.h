#pragma once
// The settings dialog's test fixture: a stand-in panel and the dialog it
// edits, with the helpers a user's actions need.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "dialogs/setting_dlg.h"
#include "dialogs/setting_dlg_listener.h"
#include "filter/ip_filter.h"
#include "resources/ip_address_edit.h"
#include "resources/resource_ids.h"
#include "resources/template_builder.h"
#include "tests/gui_test_util.h"

// Stands in for a port panel: a live filter, the working copy the dialog
// edits, and the values collected on OK.
class CFakePanel : public CSettingDlgListener {
 public:
  explicit CFakePanel(CSettingDlg& dialog) : dialog_(dialog) {}
  void notifySettingOk() override {
    ++calls;
    values = dialog_.readSettings();
    filter = editFilter;
  }
  void edit(const CSettingValues& loaded) {
    editFilter = filter;
    dialog_.beginEdit(this);
    dialog_.loadSettings(loaded, &editFilter);
  }

  int calls = 0;
  CSettingValues values;
  CIpFilter filter;
  CIpFilter editFilter;

 private:
  CSettingDlg& dialog_;
};

inline CSettingValues defaults() {
  return {.port = 10080, .forwardHost = "server1", .forwardPort = 80, .bufferSize = 128, .isListenBind = 0,
          .ipListenBind = "127.0.0.1", .isConnectBind = 1, .ipConnectBind = "192.168.1.5"};
}

class SettingDlgTest : public ::testing::Test {
 protected:
  QLineEdit* edit(int id) { return control<QLineEdit>(&dialog, id); }
  QCheckBox* check(int id) { return control<QCheckBox>(&dialog, id); }
  QPushButton* button(int id) { return control<QPushButton>(&dialog, id); }
  CIpAddressEdit* address(int id) { return control<CIpAddressEdit>(&dialog, id); }
  QString caption() { return control<QLabel>(&dialog, IDC_FILTER_CAPTION)->text(); }
  // Clicks OK and returns what the panel collected.
  CSettingValues ok() {
    const int before = panel.calls;
    click(button(IDOK));
    EXPECT_EQ(panel.calls, before + 1);
    return panel.values;
  }
  CModalRecord clickLocalhost(QMessageBox::StandardButton answer) {
    return answerMessageBox([&] { click(check(IDC_LOCALHOST)); }, answer);
  }

  CSettingDlg dialog;
  CFakePanel panel{dialog};
};
