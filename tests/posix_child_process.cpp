#include "tests/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {
using Clock = std::chrono::steady_clock;
}

namespace {

void applyLimits(const CChildProcess::Limits& limits) {
  if (limits.openFiles) {
    rlimit files{rlim_t(limits.openFiles), rlim_t(limits.openFiles)};
    setrlimit(RLIMIT_NOFILE, &files);
  }
  int gone[2];
  if (limits.brokenStdout && pipe(gone) == 0) {
    close(gone[0]);
    dup2(gone[1], 1);
    close(gone[1]);
  }
}

}  // namespace

CChildProcess::CChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                             const std::vector<std::string>& extraEnv, Limits limits) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  int terminal = -1;
  if (limits.unreadTerminal) openpty(&terminalFd_, &terminal, nullptr, nullptr, nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    if (terminal >= 0) dup2(terminal, 1);
    applyLimits(limits);
    for (const std::string& e : extraEnv) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  if (terminal >= 0) close(terminal);
  outputFd_ = out[0];
  fcntl(outputFd_, F_SETFL, O_NONBLOCK);
}

CChildProcess::~CChildProcess() {
  if (running()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outputFd_ >= 0) close(outputFd_);
  if (terminalFd_ >= 0) close(terminalFd_);
}

void CChildProcess::readAvailable(int waitMs) {
  pollfd p{outputFd_, POLLIN, 0};
  if (poll(&p, 1, waitMs) <= 0) return;
  char chunk[4096];
  ssize_t n;
  while ((n = read(outputFd_, chunk, sizeof chunk)) > 0) output.append(chunk, size_t(n));
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
  if (pid_ <= 0 || status_ != -1) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return false;
}

int CChildProcess::waitForExit(int timeoutMs, Output output) {
  // The process's own descriptor wakes the wait as soon as it ends.
  const int ended = running() ? int(syscall(SYS_pidfd_open, pid_, 0)) : -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (running()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) break;
    pollfd p[2] = {{ended, POLLIN, 0}, {output == Output::Read ? outputFd_ : -1, POLLIN, 0}};
    poll(p, 2, int(std::min<long long>(left, ended >= 0 ? left : 50)));
    if (p[1].revents) readAvailable(0);
  }
  if (ended >= 0) close(ended);
  if (running()) return -1;
  if (output == Output::Read) readAvailable(0);
  return status_;
}

void CChildProcess::requestStop(int signal) {
  if (running()) kill(pid_, signal);
}

void CChildProcess::hangUp() { requestStop(SIGHUP); }

int CChildProcess::stop(int signal, int timeoutMs) {
  requestStop(signal);
  return waitForExit(timeoutMs);
}
