#include "tests/child_process.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "relay/platform/windows_system.h"

using platform::wide;

namespace {

using Clock = std::chrono::steady_clock;

// One argument as the C runtime's parser reads it back: quoted, with the
// backslashes before a quote doubled.
std::wstring quoted(const std::wstring& argument) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::wstring commandLine(const std::string& program, const std::vector<std::string>& arguments) {
  std::wstring line = quoted(wide(program));
  for (const std::string& argument : arguments) line += L" " + quoted(wide(argument));
  return line;
}

// This process's environment with the extra entries put over it, as a block.
std::wstring environmentWith(const std::vector<std::string>& extraEnv) {
  std::map<std::wstring, std::wstring> entries;
  const auto add = [&entries](const std::wstring& entry) {
    const size_t equals = entry.find(L'=', 1);  // "=C:=C:\..." entries begin with '='
    if (equals != std::wstring::npos) entries[entry.substr(0, equals)] = entry.substr(equals + 1);
  };
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) add(entry);
  FreeEnvironmentStringsW(block);
  for (const std::string& entry : extraEnv) add(wide(entry));
  std::wstring out;
  for (const auto& [name, value] : entries) out += name + L"=" + value + L'\0';
  return out + L'\0';
}

// The test itself hears nothing of the consoles it attaches to for a moment.
BOOL WINAPI ignoreConsoleEvents(DWORD) { return TRUE; }

}  // namespace

// The program gets a console of its own, without a window, so that it can
// be sent Ctrl+C or Ctrl+Break alone.
CChildProcess::CChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                             const std::vector<std::string>& extraEnv, Limits limits) {
  if (limits.openFiles || limits.unreadTerminal) return;
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE readEnd, writeEnd, goneRead = nullptr, goneWrite = nullptr;
  // As large as a pipe on Linux, so what fills it fills it alike.
  constexpr DWORD kPipeBytes = 65536;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, kPipeBytes)) return;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  // Standard output a pipe whose reader is gone already.
  if (limits.brokenStdout && CreatePipe(&goneRead, &goneWrite, &inherited, 0)) {
    CloseHandle(goneRead);
    startup.hStdOutput = goneWrite;
  }
  PROCESS_INFORMATION info{};
  std::wstring line = commandLine(program, arguments);
  std::wstring environment = environmentWith(extraEnv);
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr,
                                      &startup, &info);
  CloseHandle(writeEnd);
  if (goneWrite) CloseHandle(goneWrite);
  if (!started) {
    CloseHandle(readEnd);
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = int(info.dwProcessId);
  outputFd_ = int(intptr_t(readEnd));
}

CChildProcess::~CChildProcess() {
  if (running()) {
    TerminateProcess(HANDLE(process_), 137);
    WaitForSingleObject(HANDLE(process_), INFINITE);
  }
  if (process_) CloseHandle(HANDLE(process_));
  if (outputFd_ >= 0) CloseHandle(HANDLE(intptr_t(outputFd_)));
}

// An anonymous pipe cannot be waited on: it is looked at, then the process
// is waited on for the rest of the time, which ends early when it ends.
void CChildProcess::readAvailable(int waitMs) {
  const HANDLE pipe = HANDLE(intptr_t(outputFd_));
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
    if (waitMs > 0 && process_) WaitForSingleObject(HANDLE(process_), DWORD(waitMs));
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return;
  }
  char chunk[4096];
  while (available > 0) {
    DWORD n = 0;
    if (!ReadFile(pipe, chunk, std::min<DWORD>(available, sizeof chunk), &n, nullptr) || n == 0) return;
    output.append(chunk, n);
    available -= n;
    if (available == 0) PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr);
  }
}

bool CChildProcess::waitForOutput(const std::string& text, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (output.find(text) == std::string::npos) {
    if (Clock::now() > deadline) return false;
    readAvailable(50);
  }
  return true;
}

bool CChildProcess::running() {
  if (!process_ || status_ != -1) return false;
  DWORD code = 0;
  if (!GetExitCodeProcess(HANDLE(process_), &code) || code == STILL_ACTIVE) return true;
  status_ = int(code);
  return false;
}

int CChildProcess::waitForExit(int timeoutMs, Output output) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (running()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) break;
    if (output == Output::Read)
      readAvailable(int(std::min<long long>(left, 50)));
    else
      WaitForSingleObject(HANDLE(process_), DWORD(left));
  }
  if (running()) return -1;
  if (output == Output::Read) readAvailable(0);
  return status_;
}

// The console's events reach every process attached to it: the test attaches
// to the program's for the moment it takes, and ignores them itself. Both
// requests go as Ctrl+C, which the program hears as SIGINT: Wine sends no
// Ctrl+Break to a whole console.
void CChildProcess::requestStop(int) {
  if (!running()) return;
  static const bool ignoring = SetConsoleCtrlHandler(ignoreConsoleEvents, TRUE) != 0;
  (void)ignoring;
  FreeConsole();
  if (AttachConsole(DWORD(pid_))) {
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    FreeConsole();
  }
}

void CChildProcess::hangUp() {}

int CChildProcess::stop(int signal, int timeoutMs) {
  requestStop(signal);
  return waitForExit(timeoutMs);
}
