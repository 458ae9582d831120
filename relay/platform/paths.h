#pragma once
// Where the program is and where a user's settings may go.

#include <string>

namespace platform {

std::string executableDirectory();
bool changeDirectory(const std::string& dir);
// The per-user directory for Quillex's settings ("" when the user has no home).
std::string userConfigDirectory();
// The rule userConfigDirectory() follows, from the environment's values.
std::string userConfigDirectoryFrom(const std::string& xdgConfigHome, const std::string& home);
bool isWritableDirectory(const std::string& dir);
// Creates the directory and every missing parent (owner-only); true when it exists after.
bool makeDirectories(const std::string& dir);
// The file of names the system answers before any name server.
std::string systemHostsFile();
// The system resolver's configuration (name servers, timeouts, attempts).
std::string systemResolverFile();
// The device that reads as empty and takes every write.
const char* nullDevice();
// The path of `name` inside `dir`.
std::string joinPath(const std::string& dir, const std::string& name);
// The path of `name` in the directory that holds `path`.
std::string siblingPath(const std::string& path, const std::string& name);

}  // namespace platform
