#pragma once
// Where the profile lives: beside the program, or, when the program's
// directory is not writable (an installed copy), in the user's configuration
// directory. The main window and the headless runner both call locateProfile
// once at start and keep the path.

#include <string>

constexpr const char* PROFILE_FILE_NAME = "Quillex.ini";

// The directory of the running program file, without a trailing slash.
std::string executableDirectory();

// The decision alone, without touching the system. An empty or relative
// xdgConfigHome is ignored, as the base directory convention says; with no
// home either, the program's directory is kept (writes there fail and are traced).
std::string chooseProfileDirectory(const std::string& exeDir, bool exeDirWritable,
                                   const std::string& xdgConfigHome, const std::string& home);

// mkdir -p with mode 0700 for each directory it creates.
bool makeDirectories(const std::string& dir);

// The full profile path for this process; creates the fallback directory.
std::string locateProfile();
