#include "app/headless_service.h"

#include <cstdio>

#include "relay/platform/files.h"
#include "relay/platform/paths.h"
#include "relay/platform/service_manager.h"

namespace {

constexpr const char* kLogFileName = "Quillex.log";
// The service's own exit code when its log cannot be opened: no line could say why.
constexpr int kLogUnwritable = 3;

int runWithLog(const std::string& profilePath, CHeadlessOptions options, CMemoryReserve* reserve) {
  const platform::CAppendFile log(platform::siblingPath(profilePath, kLogFileName));
  if (log.descriptor() < 0) return kLogUnwritable;
  options.output = log.descriptor();
  return runHeadless(profilePath, options, reserve);
}

}  // namespace

int refuseService(const CCommandLine& command) {
  if (!command.service) return -1;
  if (!platform::canRunAsService()) {
    std::fprintf(stderr, "quillex: --service is for the Windows service control manager; a systemd unit runs "
                         "--headless alone\n");
    return 2;
  }
  if (!command.headless) {
    std::fprintf(stderr, "quillex: --service runs the relay without a window: start it with --headless --service\n");
    return 2;
  }
  return -1;
}

int runHeadlessService(const std::string& profilePath, const CHeadlessOptions& options, CMemoryReserve* reserve) {
  int exitCode = 0;
  int error = 0;
  const auto relay = [&] { return runWithLog(profilePath, options, reserve); };
  switch (platform::runAsService(relay, exitCode, error)) {
    case platform::CServiceRun::Ran: return exitCode;
    case platform::CServiceRun::NotStartedByManager:
      std::fprintf(stderr,
                   "quillex: --service runs only when the service control manager starts it (sc start); from a "
                   "console, leave --service out\n");
      return 2;
    case platform::CServiceRun::Failed: break;
  }
  std::fprintf(stderr, "quillex: cannot connect to the service control manager (system error %d)\n", error);
  return 1;
}
