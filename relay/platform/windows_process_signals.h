#pragma once
// What the service code shares with the console's handler
// (windows_signals.cpp): a service's stop reaches the loop as a termination,
// through the same descriptor.

#include "relay/platform/signals.h"

namespace platform {

// Writes the request for the loop to read; one that comes before the
// descriptor is open waits for it.
void postProcessSignal(CProcessSignal signal);
// A service hears every user's logoff: that is no request to end it.
void ignoreLogoffs();

}  // namespace platform
