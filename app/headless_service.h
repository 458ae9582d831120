#pragma once
// The headless relay as a Windows service (--headless --service): the
// service control manager starts it, the relay runs on the service's own
// thread, and its lines go to Quillex.log beside the profile, since a
// service has no console. Elsewhere a service manager runs plain --headless.

#include <string>

#include "app/command_line.h"
#include "app/headless_runner.h"

class CMemoryReserve;

// -1 to go on. Otherwise the one line on standard error that says why
// --service cannot be, and 2: the system runs services otherwise, or
// --headless is missing.
int refuseService(const CCommandLine& command);

// The relay under the service control manager; the exit code. Started from
// a console instead, it says so in one line and returns 2 at once.
int runHeadlessService(const std::string& profilePath, const CHeadlessOptions& options, CMemoryReserve* reserve);
