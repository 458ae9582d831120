#pragma once
// Where the program is and where a user's settings may go. Paths are UTF-8
// on every system.

#include <string>
#include <vector>

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
// The path made absolute against the current directory and normalized; as
// given when that cannot be done.
std::string absolutePath(const std::string& path);
// The program's arguments in UTF-8, the program's name first: argv itself
// where the system hands them over so, the system's own UTF-16 otherwise.
std::vector<std::string> programArguments(int argc, char** argv);

}  // namespace platform
