#include "tests/process_probe.h"

#include <windows.h>

#include "relay/platform/windows_system.h"

namespace {

// The handle of a process, asked for what a probe reads.
platform::CHandle openProcess(int pid) {
  return platform::CHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid)));
}

}  // namespace

int openDescriptors(int pid) {
  const platform::CHandle process = openProcess(pid);
  DWORD count = 0;
  return process.get() && GetProcessHandleCount(process.get(), &count) ? int(count) : -1;
}

long cpuTicks(int pid) {
  const platform::CHandle process = openProcess(pid);
  FILETIME created, exited, kernel, user;
  if (!process.get() || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return -1;
  const auto units = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return long((units(kernel) + units(user)) / 100000);  // 100 ns units
}

long statusKiB(int, const std::string&) { return -1; }
