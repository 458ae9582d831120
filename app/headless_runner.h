#pragma once
// Runs every port that is ON in the profile, without any window, until
// SIGINT or SIGTERM (on Windows: Ctrl+C, the console's close, a service's
// stop). SIGHUP reads the profile again, and so does a change of the
// profile's file where no SIGHUP reaches the process: a port whose settings
// did not change keeps its connections, one whose filter alone changed takes
// the new filter for its next callers, any other change restarts the port.
// The profile is only read, never written.

#include <string>

struct CHeadlessOptions {
  bool connectionLog = true;  // one line per connection end on standard error
  // The descriptor every line goes to instead of standard error (a
  // service's log file), or -1; not owned.
  int output = -1;
};

class CMemoryReserve;

// Returns the process exit code. reserve: the process's (made in main), which
// the relay gives up when memory runs out; null where none is held.
int runHeadless(const std::string& profilePath, const CHeadlessOptions& options, CMemoryReserve* reserve);
