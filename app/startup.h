#pragma once
// Start-up steps that need no window: the argument listing with the debug
// switch, and the program directory.

#include <cstdio>
#include <string>

struct CStartupOptions {
  bool debugMode = false;
  bool headless = false;
};

// Exactly "-D563": case-sensitive, nothing more, nothing less.
bool isDebugSwitch(const char* argument);

// Writes "%d番目の引数=%s\n" for each argument after the program name to out,
// and "DEBUGMODE ON\n" after each debug switch; out is the inherited
// standard output, before any stream is rebound. Null out lists nothing.
CStartupOptions listArguments(int argc, char** argv, std::FILE* out);

// The trace's first lines, the same in the window mode and headless: the
// start banner, and "DEBUG_MODE ON" in debug mode.
void traceStartBanner(bool debugMode);
