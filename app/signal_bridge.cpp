#include "app/signal_bridge.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t bridgedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGINT);
  return set;
}
}  // namespace

void CSignalBridge::blockSignals() {
  sigset_t set = bridgedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

CSignalBridge::CSignalBridge(std::function<void(int)> handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
  sigset_t set = bridgedSignals();
  fd_.reset(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!fd_) return;
  notifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &CSignalBridge::onReadable);
}

// The notifier goes before the descriptor it watches.
CSignalBridge::~CSignalBridge() { notifier_.reset(); }

void CSignalBridge::onReadable() {
  signalfd_siginfo info;
  while (read(fd_.get(), &info, sizeof info) == ssize_t(sizeof info)) handler_(int(info.ssi_signo));
}
