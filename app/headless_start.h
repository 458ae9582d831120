#pragma once
// The start of the relay without a window, as both programs begin it: the
// one with a window (for --headless) and the one built without Qt.

#include "app/command_line.h"

class CMemoryReserve;

// The debug switch, the start banner and the connection log's option read
// from the arguments, then the relay until it is told to end; the exit code.
int runHeadlessFromArguments(int argc, char** argv, const CCommandLine& command, CMemoryReserve& reserve);

// The checks every start makes before anything else: the exit code when
// the command line or the chosen backend ends the program, else -1.
int refuseBeforeStart(const CCommandLine& command);
