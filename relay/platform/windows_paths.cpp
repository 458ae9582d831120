#include "relay/platform/paths.h"

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>  // CommandLineToArgvW; after windows.h, which it needs first

#include <direct.h>

#include <cerrno>
#include <string_view>

#include "relay/platform/windows_system.h"

// Paths are UTF-8 here and UTF-16 for the system. A failure leaves its
// errno value in WSAGetLastError, where lastSystemError() reads every error.

namespace platform {
namespace {

std::string envOrEmpty(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value ? utf8(value) : std::string();
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isDirectory(const std::string& dir) {
  const DWORD attributes = GetFileAttributesW(wide(dir).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::string joinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && isSeparator(dir.back())) return dir + name;
  return dir + "\\" + name;
}

// Either separator ends the directory; a path with none ("C:x.ini") keeps its drive.
std::string siblingPath(const std::string& path, const std::string& name) {
  const size_t end = path.find_last_of("/\\:");
  return end == std::string::npos ? name : path.substr(0, end + 1) + name;
}

std::string executableDirectory() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (n == 0) return ".";
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);  // cut short: a long path
  }
  const size_t slash = buffer.find_last_of(L"\\/");
  return slash == std::wstring::npos ? "." : utf8(std::wstring_view(buffer).substr(0, slash));
}

bool changeDirectory(const std::string& dir) {
  if (_wchdir(wide(dir).c_str()) == 0) return true;
  WSASetLastError(errno);
  return false;
}

// The environment's XDG value means nothing here; `home` is %APPDATA%.
std::string userConfigDirectoryFrom(const std::string&, const std::string& home) {
  return home.empty() ? std::string() : joinPath(home, "quillex");
}

std::string userConfigDirectory() { return userConfigDirectoryFrom(std::string(), envOrEmpty(L"APPDATA")); }

const char* nullDevice() { return "NUL"; }

std::string systemHostsFile() {
  const std::string root = envOrEmpty(L"SystemRoot");
  return joinPath(root.empty() ? "C:\\Windows" : root, "System32\\drivers\\etc\\hosts");
}

// No such file: the name servers are in the registry.
std::string systemResolverFile() { return std::string(); }

// Whether a file can be made there, as the profile's replacement will be.
bool isWritableDirectory(const std::string& dir) {
  const std::wstring probe = wide(joinPath(dir, "quillex-write-test-" + std::to_string(GetCurrentProcessId())));
  const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Each part in turn, after either separator; a drive ("C:") or a share's
// name fails to be made and is passed over, as an existing part is.
bool makeDirectories(const std::string& dir) {
  DWORD lastError = 0;
  for (size_t at = dir.find_first_of("/\\", 1);; at = dir.find_first_of("/\\", at + 1)) {
    const std::string part = dir.substr(0, at);
    if (!part.empty() && !isSeparator(part.back()) && !CreateDirectoryW(wide(part).c_str(), nullptr))
      lastError = GetLastError();
    if (at == std::string::npos) break;
  }
  if (isDirectory(dir)) return true;
  WSASetLastError(errnoOf(lastError));
  return false;
}

std::string absolutePath(const std::string& path) {
  const std::wstring given = wide(path);
  const DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(given.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) return path;
  full.resize(written);
  return utf8(full);
}

// argv is in the ANSI code page here, which cannot hold every path.
std::vector<std::string> programArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(utf8(arguments[i]));
  LocalFree(arguments);
  return out;
}

}  // namespace platform
