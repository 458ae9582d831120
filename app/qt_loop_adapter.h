#pragma once
// Joins the engine's reactor to Qt's event loop. Where the backend has one
// descriptor for all (epoll), one QSocketNotifier watches it; where it has
// none (poll), the adapter watches every registered descriptor with
// notifiers of its own. Each activation dispatches what is ready, then
// waits in the reactor for what comes next, for a few milliseconds at most:
// a burst, or a request and its answer, costs one pass of Qt's loop instead
// of one per step, and input still gets its turn. A QTimer stands for the
// reactor's next timer. Qt's nested loops (modal dialogs, message boxes) keep serving the
// notifiers, so relaying goes on while a dialog is open. The adapter does
// not own the reactor, which must outlive it.

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <unordered_map>
#include <vector>

#include "relay/event_loop.h"

class CQtLoopAdapter : public QObject, private CDescriptorWatcher {
  Q_OBJECT

 public:
  explicit CQtLoopAdapter(CEventLoop& loop, QObject* parent = nullptr);
  ~CQtLoopAdapter() override;

 private:
  // The notifiers of one descriptor, each enabled while its readiness is wanted.
  struct CWatched {
    QPointer<QSocketNotifier> read, write, urgent;
  };

  void watchDescriptor(int fd, uint32_t interest) override;
  void unwatchDescriptor(int fd) override;
  QSocketNotifier* notifier(int fd, QSocketNotifier::Type type);
  void onActivated(QSocketNotifier* which);
  void armTimer();

  CEventLoop& loop_;
  std::unordered_map<int, CWatched> watched_;
  std::vector<QPointer<QSocketNotifier>> resting_;  // fired inside a dispatch; enabled after it
  QTimer timer_;
  int64_t armedDeadline_ = -1;  // what timer_ was set for
};
