#include "relay/platform/signals.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "relay/platform/descriptor.h"
#include "relay/platform/unique_fd.h"
#include "relay/platform/windows_process_signals.h"
#include "relay/platform/windows_winsock.h"

// The console's control events arrive on a thread of their own; the handler
// writes one byte per event into a socket pair the event loop waits on. A
// service's stop and shutdown come the same way (windows_service_manager.cpp).

namespace platform {
namespace {

constexpr char kInterrupt = 'I';
constexpr char kTerminate = 'T';

// The process's, as the console has one handler list for the whole process:
// the write end, and a request that came before it existed.
std::mutex gWriteLock;
intptr_t gWriteEnd = -1;
char gWaiting = 0;
std::atomic<bool> gIgnoreLogoffs{false};

char byteFor(DWORD event) { return event == CTRL_C_EVENT ? kInterrupt : kTerminate; }

void post(char byte) {
  const std::lock_guard<std::mutex> hold(gWriteLock);
  if (gWriteEnd < 0) {
    gWaiting = byte;
    return;
  }
  send(socketOf(int(gWriteEnd)), &byte, 1, 0);
}

// Set once the program's end has run (atexit), so a handler held for it returns.
HANDLE gEnded = nullptr;

void markEnded() {
  if (gEnded) SetEvent(gEnded);
}

// Closing the console, a logoff or a shutdown ends the process as soon as
// the handler returns: it waits for the program's own end instead, on the
// handler's thread, never on the relay's; the system still ends the process
// after its own timeout if the end does not come. A service takes a logoff
// as handled, so that the default handler does not end it.
BOOL WINAPI onControlEvent(DWORD event) {
  if (event == CTRL_LOGOFF_EVENT && gIgnoreLogoffs) return TRUE;
  post(byteFor(event));
  const bool ending = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (ending && gEnded) WaitForSingleObject(gEnded, INFINITE);
  return TRUE;
}

}  // namespace

void postProcessSignal(CProcessSignal signal) { post(signal == CProcessSignal::Interrupt ? kInterrupt : kTerminate); }

void ignoreLogoffs() { gIgnoreLogoffs = true; }

// Nothing to block: the events come on the handler's thread only.
void blockProcessSignals() {}

// The write end stays open for the rest of the process: the handler may run at any time.
int openSignalDescriptor() {
  CUniqueFd readEnd, writeEnd;
  if (!makePipe(readEnd, writeEnd, true, true)) return -1;
  static const bool handled = [] {
    gEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atexit(markEnded);
    return SetConsoleCtrlHandler(onControlEvent, TRUE) != 0;
  }();
  if (!handled) return -1;
  const std::lock_guard<std::mutex> hold(gWriteLock);
  if (gWriteEnd >= 0) closeDescriptor(int(gWriteEnd));
  gWriteEnd = writeEnd.release();
  if (gWaiting) {
    send(socketOf(int(gWriteEnd)), &gWaiting, 1, 0);
    gWaiting = 0;
  }
  return readEnd.release();
}

bool takeSignal(int fd, CProcessSignal& signal) {
  char byte;
  for (;;) {
    if (recv(socketOf(fd), &byte, 1, 0) != 1) return false;
    switch (byte) {
      case kInterrupt: signal = CProcessSignal::Interrupt; return true;
      case kTerminate: signal = CProcessSignal::Terminate; return true;
      default: break;  // the handler writes no other
    }
  }
}

bool hasHangUpSignal() { return false; }

// A write to a socket whose reader went fails with an error; no signal is raised.
void ignoreBrokenPipe() {}
bool brokenPipeIsHarmless() { return true; }
// The console has no quit key.
void ignoreQuitKey() {}
int processId() { return int(GetCurrentProcessId()); }

}  // namespace platform
