#include "tests/test_system.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace testsys {

int openSocket(int family, int type) { return socket(family, type | SOCK_CLOEXEC, 0); }

int acceptCaller(int listenFd) { return accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC); }

bool waitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

bool waitWritable(int fd, int timeoutMs) {
  pollfd p{fd, POLLOUT, 0};
  int r;
  do {
    r = poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

bool setNonBlocking(int fd) { return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0; }

long sendBytes(int fd, const void* data, size_t size) { return send(fd, data, size, MSG_NOSIGNAL); }

long receiveBytes(int fd, void* data, size_t size, bool peek, bool now) {
  return recv(fd, data, size, (peek ? MSG_PEEK : 0) | (now ? MSG_DONTWAIT : 0));
}

bool interrupted() { return errno == EINTR; }
bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

long sendDatagram(int fd, const void* data, size_t size, const sockaddr_in& to) {
  return sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

long receiveDatagram(int fd, void* data, size_t size, sockaddr_in& from) {
  socklen_t length = sizeof from;
  return recvfrom(fd, data, size, 0, reinterpret_cast<sockaddr*>(&from), &length);
}

bool setIntOption(int fd, int level, int option, int value) {
  return setsockopt(fd, level, option, &value, sizeof value) == 0;
}

int intOption(int fd, int level, int option) {
  int value = -1;
  socklen_t length = sizeof value;
  return getsockopt(fd, level, option, &value, &length) == 0 ? value : -1;
}

int keepAliveIdleSeconds(int fd) { return intOption(fd, IPPROTO_TCP, TCP_KEEPIDLE); }

void boundSends(int fd, int seconds) {
  timeval tv{seconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void resetOnClose(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

bool shutDownSending(int fd) { return shutdown(fd, SHUT_WR) == 0; }
bool sendUrgentByte(int fd, char byte) { return send(fd, &byte, 1, MSG_OOB | MSG_NOSIGNAL) == 1; }
void letBrokenPipeEndTheProgram() { std::signal(SIGPIPE, SIG_DFL); }

bool makeFullPipe(CUniqueFd& readEnd, CUniqueFd& writeEnd, size_t capacity) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  readEnd.reset(ends[0]);
  writeEnd.reset(ends[1]);
  fcntl(ends[1], F_SETPIPE_SZ, int(capacity));
  while (write(ends[1], "f", 1) == 1) {
  }
  return fcntl(ends[1], F_SETFL, 0) == 0;
}

long readNow(int fd, void* data, size_t size) {
  const long n = read(fd, data, size);
  return n > 0 ? n : 0;
}

int openEmptyForAppend(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
}

// A write beyond the limit then fails instead of ending the process.
bool limitFileSize(long long bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes < 0 ? RLIM_INFINITY : rlim_t(bytes), RLIM_INFINITY};
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

CDescriptorShortage::CDescriptorShortage() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  savedLimit_ = long(limit.rlim_cur);
  int highest = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    highest = std::max(highest, std::atoi(entry.path().filename().c_str()));
  limit.rlim_cur = rlim_t(highest) + 1;
  setrlimit(RLIMIT_NOFILE, &limit);
  for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers_.push_back(fd);
}

CDescriptorShortage::~CDescriptorShortage() {
  for (int fd : fillers_) close(fd);
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = rlim_t(savedLimit_);
  setrlimit(RLIMIT_NOFILE, &limit);
}

long processCpuMillis() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000L +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000L;
}

// Root reads and writes anywhere, so the child drops to "nobody" first.
int runUnprivileged(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Linux has them all; a kernel older than 6.3 lacks the port range, which
// the test that needs it finds out itself.
const char* lacking(CFacility) { return nullptr; }

void setEnv(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }
void unsetEnv(const std::string& name) { ::unsetenv(name.c_str()); }

std::string makeTempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillex-test-XXXXXX").string();
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string executablePath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

int processId() { return int(getpid()); }

}  // namespace testsys
