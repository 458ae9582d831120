#pragma once
// The notification-area icon with its two-entry menu. A one-second timer
// shows the icon again when the notification area comes back (or appears
// for the first time), tracing every attempt that fails. Owned by the main
// window given at construction, which is also its menu's Qt parent.

#include <QObject>
#include <QTimer>

class QMenu;
class QWidget;
class QSystemTrayIcon;

class CTrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit CTrayIcon(QWidget* window);

  // Whether a notification area exists now.
  static bool available();
  void addTrayIcon();
  void removeTrayIcon();
  QMenu* menu() const { return menu_; }

 signals:
  void openRequested();  // double click or "メインウィンドウを開く"
  void exitRequested();  // "終了"

 private:
  void onTimer();

  QSystemTrayIcon* icon_;
  QMenu* menu_;
  QTimer timer_;
};
