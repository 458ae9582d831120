#include "relay/platform/signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <initializer_list>

namespace platform {
namespace {

sigset_t handledSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
  return set;
}

}  // namespace

void blockProcessSignals() {
  const sigset_t set = handledSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int openSignalDescriptor() {
  const sigset_t set = handledSignals();
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

bool takeSignal(int fd, CProcessSignal& signal) {
  signalfd_siginfo info;
  for (;;) {
    if (read(fd, &info, sizeof info) != ssize_t(sizeof info)) return false;
    switch (info.ssi_signo) {
      case SIGINT: signal = CProcessSignal::Interrupt; return true;
      case SIGTERM: signal = CProcessSignal::Terminate; return true;
      case SIGHUP: signal = CProcessSignal::HangUp; return true;
      default: break;  // none other is routed here
    }
  }
}

bool hasHangUpSignal() { return true; }

void ignoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

bool brokenPipeIsHarmless() {
  struct sigaction action {};
  return sigaction(SIGPIPE, nullptr, &action) == 0 && action.sa_handler != SIG_DFL;
}
void ignoreQuitKey() { ::signal(SIGQUIT, SIG_IGN); }
int processId() { return int(::getpid()); }

}  // namespace platform
