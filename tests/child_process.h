#pragma once
// A program started by a test as a user would start it, with its standard
// output and error collected, and bounded waits for what it prints and for
// its end.

#include <string>
#include <vector>

// What a test may impose on the program it starts. Windows has no limit on
// open files: a program is not started there with one set, nor on a terminal.
struct CChildLimits {
  int openFiles = 0;          // RLIMIT_NOFILE when not 0
  bool brokenStdout = false;  // standard output a pipe nobody reads any more
  bool unreadTerminal = false;  // standard output a terminal nobody reads
};

class CChildProcess {
 public:
  using Limits = CChildLimits;
  // Starts program with the arguments; extraEnv entries are "NAME=value".
  CChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                const std::vector<std::string>& extraEnv = {}, Limits limits = {});
  ~CChildProcess();  // kills the program if it still runs
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  int pid() const { return pid_; }
  // Reads the output (standard output and error together) until it holds text.
  bool waitForOutput(const std::string& text, int timeoutMs = 10000);
  enum class Output { Read, LeftUnread };
  // Waits for the end; the exit status, or -1 if it did not end in time.
  // LeftUnread keeps the output pipe as full as a reader that stopped leaves it.
  int waitForExit(int timeoutMs = 10000, Output output = Output::Read);
  // Sends the signal (SIGTERM or SIGINT; on Windows the console's Ctrl+C,
  // which the program hears as an interrupt), then waits for the end.
  int stop(int signal, int timeoutMs = 10000);
  // The same request, without waiting.
  void requestStop(int signal);
  // SIGHUP, where the system has it (Windows has not: nothing is sent).
  void hangUp();
  bool running();

  std::string output;

 private:
  void readAvailable(int waitMs);

  int pid_ = -1;
  int outputFd_ = -1;
  int terminalFd_ = -1;  // the unread terminal's other side
  int status_ = -1;
  void* process_ = nullptr;  // Windows: the process's handle
};
