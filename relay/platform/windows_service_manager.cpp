#include "relay/platform/service_manager.h"

#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>

#include "relay/platform/windows_process_signals.h"
#include "relay/platform/windows_system.h"

// No service manager speaks the notify socket's protocol here. The service
// control manager's dispatcher takes the program's first thread; it calls
// serviceMain on a thread of its own, which runs the relay, and the control
// handler on the first thread again.

namespace platform {
namespace {

// Enough for the profile to be read and every port to listen.
constexpr DWORD kStartHintMs = 10000;
// The loop ends at once; its last lines get a short while.
constexpr DWORD kStopHintMs = 3000;

// One service's state, reported from the handler's thread and the relay's.
// Lives on runAsService's stack; does not own the relay it runs.
struct CService {
  const std::function<int()>* relay = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  std::mutex lock;
  SERVICE_STATUS status{};
  int exitCode = 1;  // until the relay says otherwise

  void report(DWORD state, DWORD waitHintMs) {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWaitHint = waitHintMs;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
    SetServiceStatus(handle, &status);
  }
  // A stop that came first stays a stop: a later READY=1 never reports the service running again.
  void reportRunning() {
    const std::lock_guard<std::mutex> hold(lock);
    if (status.dwCurrentState == SERVICE_START_PENDING) report(SERVICE_RUNNING, 0);
  }
  void reportStopping() {
    const std::lock_guard<std::mutex> hold(lock);
    if (status.dwCurrentState != SERVICE_STOPPED) report(SERVICE_STOP_PENDING, kStopHintMs);
  }
  void reportStopped(int code) {
    const std::lock_guard<std::mutex> hold(lock);
    exitCode = code;
    status.dwWin32ExitCode = code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = DWORD(code);
    report(SERVICE_STOPPED, 0);
  }
};

// The manager calls serviceMain with no room for a context: the one run it
// serves is found here, set before the dispatcher starts and cleared after.
CService* gService = nullptr;

// Stop and shutdown end the relay as a termination does; the loop reads it.
DWORD WINAPI onControl(DWORD control, DWORD, void*, void* context) {
  auto& service = *static_cast<CService*>(context);
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      service.reportStopping();
      postProcessSignal(CProcessSignal::Terminate);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
  CService& service = *gService;
  // An own-process service's name is not checked; the manager passes it first all the same.
  service.handle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", onControl, &service);
  if (!service.handle) return;
  ignoreLogoffs();
  {
    const std::lock_guard<std::mutex> hold(service.lock);
    service.report(SERVICE_START_PENDING, kStartHintMs);
  }
  service.reportStopped((*service.relay)());
}

// The manager starts every service itself: a process that services.exe did
// not start was started from elsewhere (a console), and the dispatcher need
// not be asked (Wine's takes ten seconds to say no).
bool startedByManager() {
  const CHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return true;  // unknown: the dispatcher decides
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  std::wstring parentName;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    if (parent != 0 && entry.th32ProcessID == parent) parentName = entry.szExeFile;
  return CompareStringOrdinal(parentName.c_str(), -1, L"services.exe", -1, TRUE) == CSTR_EQUAL;
}

bool saysReady(std::string_view state) {
  for (size_t start = 0; start <= state.size();) {
    const size_t end = std::min(state.find('\n', start), state.size());
    if (state.substr(start, end - start) == "READY=1") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

int connectToServiceManager() { return -1; }

CDatagramSent sendDatagram(int, std::string_view) { return CDatagramSent::Failed; }

bool canRunAsService() { return true; }

CServiceRun runAsService(const std::function<int()>& relay, int& exitCode, int& error) {
  if (!startedByManager()) return CServiceRun::NotStartedByManager;
  CService service;
  service.relay = &relay;
  gService = &service;
  wchar_t name[] = L"";  // an own-process service's name is not looked at
  const SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
  const bool ran = StartServiceCtrlDispatcherW(table) != 0;
  error = ran ? 0 : int(GetLastError());
  gService = nullptr;
  if (!ran && error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return CServiceRun::NotStartedByManager;
  if (!ran) return CServiceRun::Failed;
  const std::lock_guard<std::mutex> hold(service.lock);
  exitCode = service.exitCode;
  return CServiceRun::Ran;
}

void reportServiceState(std::string_view state) {
  if (gService && saysReady(state)) gService->reportRunning();
}

}  // namespace platform
