#include "relay/platform/signals.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "relay/platform/descriptor.h"
#include "relay/platform/unique_fd.h"
#include "relay/platform/windows_winsock.h"

// The console's control events arrive on a thread of their own; the handler
// writes one byte per event into a socket pair the event loop waits on.

namespace platform {
namespace {

constexpr char kInterrupt = 'I';
constexpr char kTerminate = 'T';

// The process's: the console has one handler list for the whole process.
std::atomic<intptr_t> gWriteEnd{-1};

char byteFor(DWORD event) { return event == CTRL_C_EVENT ? kInterrupt : kTerminate; }

// Set once the program's end has run (atexit), so a handler held for it returns.
HANDLE gEnded = nullptr;

void markEnded() {
  if (gEnded) SetEvent(gEnded);
}

// Closing the console, a logoff or a shutdown ends the process as soon as
// the handler returns: it waits for the program's own end instead, on the
// handler's thread, never on the relay's; the system still ends the process
// after its own timeout if the end does not come.
BOOL WINAPI onControlEvent(DWORD event) {
  const intptr_t writeEnd = gWriteEnd.load();
  if (writeEnd < 0) return FALSE;
  const char byte = byteFor(event);
  send(socketOf(int(writeEnd)), &byte, 1, 0);
  const bool ending = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (ending && gEnded) WaitForSingleObject(gEnded, INFINITE);
  return TRUE;
}

}  // namespace

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
  const intptr_t previous = gWriteEnd.exchange(writeEnd.release());
  if (previous >= 0) closeDescriptor(int(previous));
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
// The console has no quit key.
void ignoreQuitKey() {}
int processId() { return int(GetCurrentProcessId()); }

}  // namespace platform
