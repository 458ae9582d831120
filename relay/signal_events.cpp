#include "relay/signal_events.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t handledSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
  return set;
}

}  // namespace

void CSignalEvents::blockSignals() {
  const sigset_t set = handledSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

CSignalEvents::CSignalEvents(CEventLoop& loop, std::function<void(int)> handler)
    : loop_(loop), handler_(std::move(handler)) {
  blockSignals();  // a single-threaded caller may rely on this alone
  const sigset_t set = handledSignals();
  fd_.reset(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (fd_) registration_ = loop_.add(fd_.get(), ready::kReadable, this);
}

CSignalEvents::~CSignalEvents() { loop_.remove(registration_); }

void CSignalEvents::handleEvents(uint32_t) {
  signalfd_siginfo info;
  while (read(fd_.get(), &info, sizeof info) == ssize_t(sizeof info)) handler_(int(info.ssi_signo));
}
