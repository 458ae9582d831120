#pragma once
// The options this program defines beside the debug switch: --headless,
// --service, --profile PATH, --quiet and --help. No Qt, so the headless
// runner reads them too.
// Other arguments (Qt's own options, -D563, plain words) are left alone. An
// argument beginning with "--" that is not defined here is refused headless;
// the window mode lists it like any other argument and only warns, once Qt
// has taken its own options out of argv.

#include <string>
#include <vector>

struct CCommandLine {
  bool headless = false;
  bool help = false;
  bool quiet = false;  // headless: no connection log
  bool service = false;  // headless, run by the Windows service control manager
  std::string profilePath;    // absolute; empty: the located profile
  std::string unknownOption;  // the first "--" argument nobody defines
  std::string error;          // an option used wrongly, e.g. --profile without a path
};

// The program's arguments in UTF-8 (from the system's own where argv is in
// another code page, as on Windows), as argc and argv.
class CUtf8Arguments {
 public:
  CUtf8Arguments(int argc, char** argv);
  int argc() const { return int(pointers_.size()) - 1; }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> text_;
  std::vector<char*> pointers_;  // ends in a null, as argv does
};

// Relative profile paths are made absolute here, against the directory the
// program was started from: the window mode changes directory later.
CCommandLine parseCommandLine(int argc, char** argv);

// -1 to go on. Otherwise prints the usage (--help, on standard output) or
// the error with the usage (on standard error) and returns the exit code:
// 0 for --help, 2 for a line that cannot be used. An unknown option counts
// only when refuseUnknown.
int commandLineExitCode(const CCommandLine& line, bool refuseUnknown);

// A warning on standard error naming an unknown option, if there is one.
void warnUnknownOption(const CCommandLine& line);

// QUILLEX_POLLER set to no backend's name: the headless relay refuses it
// (the line on standard error, and 2), the window warns and returns -1 to
// go on with the default backend. -1 when it is unset or a backend's name.
int checkChosenBackend(bool refuse);

