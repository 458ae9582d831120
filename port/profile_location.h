#pragma once
// Where the profile lives: beside the program, or, when the program's
// directory is not writable (an installed copy), in the user's configuration
// directory. The main window and the headless runner both call locateProfile
// once at start and keep the path.

#include <string>

constexpr const char* PROFILE_FILE_NAME = "Quillex.ini";

// The decision alone, without touching the system: with no per-user
// directory either, the program's directory is kept (writes there fail and
// are traced).
std::string chooseProfileDirectory(const std::string& exeDir, bool exeDirWritable,
                                   const std::string& userConfigDir);

// The full profile path for this process; creates the fallback directory.
std::string locateProfile();
