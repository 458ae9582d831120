#include "tests/process_probe.h"

#include <windows.h>

namespace {

// The handle of a process, asked for what a probe reads, closed with the probe.
class CProcessHandle {
 public:
  explicit CProcessHandle(int pid) : handle_(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid))) {}
  ~CProcessHandle() {
    if (handle_) CloseHandle(handle_);
  }
  CProcessHandle(const CProcessHandle&) = delete;
  CProcessHandle& operator=(const CProcessHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

int openDescriptors(int pid) {
  const CProcessHandle process(pid);
  DWORD count = 0;
  return process.get() && GetProcessHandleCount(process.get(), &count) ? int(count) : -1;
}

long cpuTicks(int pid) {
  const CProcessHandle process(pid);
  FILETIME created, exited, kernel, user;
  if (!process.get() || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return -1;
  const auto units = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return long((units(kernel) + units(user)) / 100000);  // 100 ns units
}

long statusKiB(int, const std::string&) { return -1; }
