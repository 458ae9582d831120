#include "relay/platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace platform {
namespace {

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry && entry->pw_dir ? entry->pw_dir : "";
}

std::string envOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::string joinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string siblingPath(const std::string& path, const std::string& name) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

std::string executableDirectory() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) {
    // Without /proc the working directory is the best guess left.
    return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
  }
  const std::string exe(buffer, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : exe.substr(0, slash);
}

bool changeDirectory(const std::string& dir) { return ::chdir(dir.c_str()) == 0; }

std::string userConfigDirectoryFrom(const std::string& xdgConfigHome, const std::string& home) {
  if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/') return joinPath(xdgConfigHome, "quillex");
  if (!home.empty()) return joinPath(joinPath(home, ".config"), "quillex");
  return std::string();
}

std::string userConfigDirectory() { return userConfigDirectoryFrom(envOrEmpty("XDG_CONFIG_HOME"), homeDirectory()); }

const char* nullDevice() { return "/dev/null"; }

std::string systemHostsFile() { return "/etc/hosts"; }
std::string systemResolverFile() { return "/etc/resolv.conf"; }

bool isWritableDirectory(const std::string& dir) { return ::access(dir.c_str(), W_OK | X_OK) == 0; }

bool makeDirectories(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? path : full.lexically_normal().string();
}

std::vector<std::string> programArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

}  // namespace platform
