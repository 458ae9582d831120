// Program entry of a build without Qt: the headless relay alone.
#include <cstdio>

#include "app/command_line.h"
#include "app/headless_start.h"
#include "relay/memory_reserve.h"
#include "relay/platform/descriptor.h"
#include "relay/platform/signals.h"

int main(int systemArgc, char** systemArgv) {
  // A reader that goes away (a closed pipe on the trace) must never end the
  // relay; a failed write is enough.
  platform::ignoreBrokenPipe();
  platform::passStandardStreamsUnchanged();
  CUtf8Arguments arguments(systemArgc, systemArgv);
  const int argc = arguments.argc();
  char** argv = arguments.argv();
  const CCommandLine command = parseCommandLine(argc, argv);
  if (const int code = refuseBeforeStart(command); code >= 0) return code;
  if (!command.headless) {
    std::fprintf(stderr, "Quillex: this build has no window (it was built without Qt 6): start it with --headless\n");
    return 2;
  }
  // Memory that runs short ends no connection for it.
  CMemoryReserve memoryReserve;
  return runHeadlessFromArguments(argc, argv, command, memoryReserve);
}
