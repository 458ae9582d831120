#pragma once
// Joins the engine's reactor to Qt's event loop: one QSocketNotifier watches
// the reactor's epoll descriptor, and each activation dispatches what is
// ready without waiting, batch after batch while more keeps coming, for a
// few milliseconds at most, so that a busy relay costs few passes of Qt's
// loop and input still gets its turn. Qt's nested loops (modal dialogs,
// message boxes) keep serving the notifier, so relaying goes on while a
// dialog is open. The adapter does not own the reactor, which must outlive it.

#include <QObject>
#include <QSocketNotifier>

class CEventLoop;

class CQtLoopAdapter : public QObject {
  Q_OBJECT

 public:
  explicit CQtLoopAdapter(CEventLoop& loop, QObject* parent = nullptr);

 private:
  void onActivated();

  CEventLoop& loop_;
  QSocketNotifier notifier_;
};
