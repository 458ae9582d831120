#pragma once
// Runs every port that is ON in the profile, without any window, until
// SIGINT or SIGTERM. The profile is only read, never written.

#include <string>

// Returns the process exit code.
int runHeadless(const std::string& profilePath);
