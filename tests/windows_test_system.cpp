#include "tests/test_system.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <random>

#include "relay/platform/socket.h"
#include "relay/platform/unique_fd.h"
#include "relay/platform/windows_winsock.h"

namespace testsys {

using platform::socketOf;
using platform::winsockStarted;

namespace {

int chunkOf(size_t size) { return size < size_t(INT_MAX) ? int(size) : INT_MAX; }

}  // namespace

int openSocket(int family, int type) {
  if (!winsockStarted()) return -1;
  const SOCKET s = WSASocketW(family, type, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  return s == INVALID_SOCKET ? -1 : int(s);
}

int acceptCaller(int listenFd) {
  const SOCKET s = accept(socketOf(listenFd), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  SetHandleInformation(HANDLE(s), HANDLE_FLAG_INHERIT, 0);
  return int(s);
}

// Nothing interrupts a wait here.
bool waitReadable(int fd, int timeoutMs) {
  WSAPOLLFD p{socketOf(fd), POLLRDNORM, 0};
  return WSAPoll(&p, 1, timeoutMs) > 0;
}

bool waitWritable(int fd, int timeoutMs) {
  WSAPOLLFD p{socketOf(fd), POLLWRNORM, 0};
  return WSAPoll(&p, 1, timeoutMs) > 0;
}

bool setNonBlocking(int fd) {
  u_long on = 1;
  return ioctlsocket(socketOf(fd), FIONBIO, &on) == 0;
}

long sendBytes(int fd, const void* data, size_t size) {
  return send(socketOf(fd), static_cast<const char*>(data), chunkOf(size), 0);
}

// A socket is blocking or not as a whole: a look that must not wait asks first whether anything waits.
long receiveBytes(int fd, void* data, size_t size, bool peek, bool now) {
  if (now && !waitReadable(fd, 0)) {
    WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  return recv(socketOf(fd), static_cast<char*>(data), chunkOf(size), peek ? MSG_PEEK : 0);
}

bool interrupted() { return WSAGetLastError() == WSAEINTR; }
bool wouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

long sendDatagram(int fd, const void* data, size_t size, const sockaddr_in& to) {
  return sendto(socketOf(fd), static_cast<const char*>(data), chunkOf(size), 0,
                reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

long receiveDatagram(int fd, void* data, size_t size, sockaddr_in& from) {
  int length = sizeof from;
  return recvfrom(socketOf(fd), static_cast<char*>(data), chunkOf(size), 0, reinterpret_cast<sockaddr*>(&from),
                  &length);
}

bool setIntOption(int fd, int level, int option, int value) {
  return setsockopt(socketOf(fd), level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

// Some systems write a flag's one byte only.
int intOption(int fd, int level, int option) {
  int value = 0;
  int length = sizeof value;
  return getsockopt(socketOf(fd), level, option, reinterpret_cast<char*>(&value), &length) == 0 ? value : -1;
}

int keepAliveIdleSeconds(int fd) {
  constexpr int kKeepAliveTime = 3;  // TCP_KEEPALIVE (Windows 10 1709 on), which these headers do not name
  return intOption(fd, IPPROTO_TCP, kKeepAliveTime);
}

// Milliseconds, where POSIX takes a timeval.
void boundSends(int fd, int seconds) {
  const DWORD ms = DWORD(seconds) * 1000;
  setsockopt(socketOf(fd), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

void resetOnClose(int fd) {
  linger l{1, 0};
  setsockopt(socketOf(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

bool shutDownSending(int fd) { return shutdown(socketOf(fd), SD_SEND) == 0; }
bool sendUrgentByte(int fd, char byte) { return send(socketOf(fd), &byte, 1, MSG_OOB) == 1; }
void letBrokenPipeEndTheProgram() {}

namespace {

bool setPipeWaits(int fd, bool waits) {
  DWORD mode = waits ? PIPE_WAIT : PIPE_NOWAIT;
  return SetNamedPipeHandleState(HANDLE(_get_osfhandle(fd)), &mode, nullptr, nullptr) != 0;
}

}  // namespace

// C runtime descriptors, as standard output would be one.
bool makeFullPipe(CUniqueFd& readEnd, CUniqueFd& writeEnd, size_t capacity) {
  int ends[2];
  if (_pipe(ends, unsigned(capacity), _O_BINARY | _O_NOINHERIT) != 0) return false;
  readEnd.reset(ends[0]);
  writeEnd.reset(ends[1]);
  if (!setPipeWaits(ends[1], false)) return false;
  while (_write(ends[1], "f", 1) == 1) {
  }
  return setPipeWaits(ends[1], true);
}

long readNow(int fd, void* data, size_t size) {
  DWORD available = 0;
  if (!PeekNamedPipe(HANDLE(_get_osfhandle(fd)), nullptr, 0, nullptr, &available, nullptr) || available == 0) return 0;
  const int n = _read(fd, data, unsigned(std::min<size_t>(size, available)));
  return n > 0 ? n : 0;
}

int openEmptyForAppend(const std::string& path) {
  return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_APPEND | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}

bool limitFileSize(long long) { return false; }

int runUnprivileged(const std::function<int()>&) { return -1; }

// Nothing to take: no test that needs a shortage runs here.
CDescriptorShortage::CDescriptorShortage() = default;
CDescriptorShortage::~CDescriptorShortage() = default;

long processCpuMillis() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto units = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return long((units(kernel) + units(user)) / 10000);  // 100 ns units
}

namespace {

// A connected pair on 127.0.0.1, for a look at what the system does.
struct CProbePair {
  CUniqueFd listener, caller, accepted;
};

CProbePair connectedPair() {
  CProbePair pair{CUniqueFd(openSocket(AF_INET, SOCK_STREAM)), CUniqueFd(openSocket(AF_INET, SOCK_STREAM)), {}};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if (bind(socketOf(pair.listener.get()), raw, length) == 0 && listen(socketOf(pair.listener.get()), 1) == 0 &&
      getsockname(socketOf(pair.listener.get()), raw, &length) == 0 &&
      connect(socketOf(pair.caller.get()), raw, length) == 0)
    pair.accepted.reset(acceptCaller(pair.listener.get()));
  return pair;
}

bool readsAResetAsSuch() {
  CProbePair pair = connectedPair();
  resetOnClose(pair.caller.get());
  pair.caller.reset();
  char byte;
  return waitReadable(pair.accepted.get(), 2000) && recv(socketOf(pair.accepted.get()), &byte, 1, 0) < 0 &&
         WSAGetLastError() == WSAECONNRESET;
}

// Two listeners on one port, each set up as the relay sets up its own.
bool refusesATakenPortAsInUse() {
  const CUniqueFd first(platform::openStreamSocket(AF_INET)), second(platform::openStreamSocket(AF_INET));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  const int on = 1;
  platform::setReuseAddress(first.get(), &on, sizeof on);
  platform::setReuseAddress(second.get(), &on, sizeof on);
  if (bind(socketOf(first.get()), raw, length) != 0 || listen(socketOf(first.get()), 1) != 0 ||
      getsockname(socketOf(first.get()), raw, &length) != 0)
    return false;
  return bind(socketOf(second.get()), raw, length) != 0 && WSAGetLastError() == WSAEADDRINUSE;
}

}  // namespace

const char* lacking(CFacility facility) {
  switch (facility) {
    case CFacility::TestNameServer: return "names go to the system's own resolver here, which no test answers for";
    case CFacility::DescriptorLimit: return "Windows has no limit on a process's sockets to lower";
    case CFacility::FileSizeLimit: return "Windows has no limit on a process's file sizes to lower";
    case CFacility::SilentListener: return "Windows refuses a caller when a listener's queue is full";
    case CFacility::LocalPortRange: return "Windows gives a socket no range of local ports of its own";
    case CFacility::SendQueueQuery:
      return platform::unsentBytes(connectedPair().caller.get()) < 0
                 ? "this system does not say what a send queue holds (SIO_TCP_INFO; Wine has none)"
                 : nullptr;
    case CFacility::KeepAliveQuery:
      return keepAliveIdleSeconds(connectedPair().caller.get()) < 0
                 ? "this system does not say a socket's keepalive time (TCP_KEEPALIVE; Wine has none)"
                 : nullptr;
    case CFacility::KeepAliveAsAsked: {
      constexpr int kLongest = 40000;  // the longest the tests ask for
      return platform::setKeepAlive(connectedPair().caller.get(), kLongest, kLongest / 3, 3)
                 ? nullptr
                 : "this system refuses a keepalive time Windows takes (Wine: Linux's limit of 32767 s beneath)";
    }
    case CFacility::ResetReadAsReset:
      return readsAResetAsSuch() ? nullptr : "this system reads a peer's reset as its end (Wine does)";
    case CFacility::Permissions: return "Windows files have no POSIX permission bits, and no user to drop to here";
    case CFacility::XdgDirectories: return "Windows keeps a user's settings under %APPDATA%";
    case CFacility::AddressInUseReported:
      return refusesATakenPortAsInUse() ? nullptr
                                        : "this system refuses a taken listen port as access denied (Wine does)";
  }
  return nullptr;
}

void setEnv(const std::string& name, const std::string& value) { _putenv_s(name.c_str(), value.c_str()); }
// An empty value removes the variable.
void unsetEnv(const std::string& name) { _putenv_s(name.c_str(), ""); }

std::string makeTempDirectory() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("quillex-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) return dir.string();
  }
  return std::string();
}

std::string executablePath() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(std::wstring(path, n)).string();
}

int processId() { return int(GetCurrentProcessId()); }

}  // namespace testsys
