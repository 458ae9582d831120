#pragma once
// Turns termination signals into ordinary events of the user-interface
// thread, through a signalfd watched by Qt. Call blockSignals() first thing
// in main, before any thread exists, so that no thread takes them.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "relay/unique_fd.h"

class CSignalBridge : public QObject {
  Q_OBJECT

 public:
  static void blockSignals();  // SIGTERM, SIGHUP and SIGINT
  explicit CSignalBridge(std::function<void(int signal)> handler, QObject* parent = nullptr);
  ~CSignalBridge() override;

 private:
  void onReadable();

  CUniqueFd fd_;
  std::function<void(int)> handler_;
  std::unique_ptr<QSocketNotifier> notifier_;
};
