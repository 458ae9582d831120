#include "app/tray_icon.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "relay/trace.h"
#include "resources/app_icon.h"
#include "resources/app_texts.h"

CTrayIcon::CTrayIcon(QWidget* window)
    : QObject(window), icon_(new QSystemTrayIcon(quillexIcon(), this)), menu_(new QMenu(window)) {
  menu_->addAction(QString::fromUtf8(TRAY_OPEN), this, &CTrayIcon::openRequested);
  menu_->addSeparator();
  menu_->addAction(QString::fromUtf8(TRAY_EXIT), this, &CTrayIcon::exitRequested);
  icon_->setContextMenu(menu_);
  icon_->setToolTip(QString::fromUtf8(TRAY_TIP));
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) emit openRequested();
  });
  connect(&timer_, &QTimer::timeout, this, &CTrayIcon::onTimer);
  timer_.start(1000);
}

bool CTrayIcon::available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void CTrayIcon::addTrayIcon() {
  if (!available()) {
    // Qt reports no error number, so err is 0; the blank before it is the trace's own, kept.
    QTRACE("通知領域にアイコンを登録できませんでした。 err=%d\n", 0);
    return;
  }
  icon_->show();
}

void CTrayIcon::removeTrayIcon() {
  timer_.stop();
  icon_->hide();
}

// Every tick checks the icon: shown again when the notification area has
// restarted or appeared (Qt embeds it by itself), and each failed attempt
// is traced, as at start.
void CTrayIcon::onTimer() {
  if (!available() || !icon_->isVisible()) addTrayIcon();
}
