#include "app/headless_start.h"

#include "app/headless_runner.h"
#include "app/headless_service.h"
#include "app/startup.h"
#include "port/profile_location.h"
#include "relay/trace.h"

int runHeadlessFromArguments(int argc, char** argv, const CCommandLine& command, CMemoryReserve& reserve) {
  for (int i = 1; i < argc; ++i)
    if (isDebugSwitch(argv[i])) trace::setEnabled(true);
  traceStartBanner(trace::enabled());
  CHeadlessOptions options;
  options.connectionLog = !command.quiet;
  // An unreadable profile is reported by the runner itself.
  const std::string profilePath = command.profilePath.empty() ? locateProfile() : command.profilePath;
  if (command.service) return runHeadlessService(profilePath, options, &reserve);
  return runHeadless(profilePath, options, &reserve);
}

int refuseBeforeStart(const CCommandLine& command) {
  if (const int code = commandLineExitCode(command, command.headless); code >= 0) return code;
  if (const int code = refuseService(command); code >= 0) return code;
  return checkChosenBackend(command.headless);
}
