#pragma once
// The process's requests from outside (an interrupt, a termination, a hang-up)
// as something the event loop can wait on: a descriptor that becomes
// readable when one arrives. Also the process's own small facts.

namespace platform {

enum class CProcessSignal { Interrupt, Terminate, HangUp };

// Keeps the requests from interrupting any thread, so that only the
// descriptor hears them: call first thing in main, before any thread exists.
void blockProcessSignals();
// A non-blocking descriptor for the requests; -1 when the system gives none.
int openSignalDescriptor();
// The next request waiting on that descriptor; false when none waits.
bool takeSignal(int fd, CProcessSignal& signal);
// Whether a hang-up (SIGHUP) can reach the process; where none can
// (Windows), a change of the profile asks for it to be read again.
bool hasHangUpSignal();

// A reader that goes away (a closed pipe) makes the write fail, never ends the program.
void ignoreBrokenPipe();
// Whether a write to a socket whose reader went leaves the program running.
// Moving bytes from a pipe into a socket cannot ask for no signal, as a
// send does, so bytes move only where it does.
bool brokenPipeIsHarmless();
// The terminal's quit key does not end a program that shows its trace there.
void ignoreQuitKey();
int processId();

}  // namespace platform
