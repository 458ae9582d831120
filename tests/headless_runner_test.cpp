// The headless runner as a user starts it: a separate process beside its profile.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/loopback.h"

using namespace loopback;
namespace fs = std::filesystem;

namespace {

uint16_t freePort() {
  uint16_t port = 0;
  listenAny(port);  // closed again at once
  return port;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Quillex --headless started from a copy of the program in a fresh directory.
class CRunner {
 public:
  CRunner(const fs::path& dir, const std::string& profile) {
    fs::copy_file(QUILLEX_BINARY, dir / "Quillex", fs::copy_options::overwrite_existing);
    std::ofstream(dir / "Quillex.ini", std::ios::binary) << profile;
    int err[2];
    EXPECT_EQ(pipe(err), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(err[1], 2);
      close(err[0]);
      execl((dir / "Quillex").c_str(), "Quillex", "--headless", nullptr);
      _exit(127);
    }
    close(err[1]);
    stderr_ = err[0];
  }
  ~CRunner() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(stderr_);
  }
  // Reads standard error until it holds the text or the time runs out.
  bool waitForOutput(const std::string& text, int timeoutMs = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output.find(text) == std::string::npos) {
      pollfd p{stderr_, POLLIN, 0};
      if (std::chrono::steady_clock::now() > deadline || poll(&p, 1, 100) < 0) return false;
      char chunk[4096];
      ssize_t n = p.revents ? read(stderr_, chunk, sizeof chunk) : 0;
      if (n > 0) output.append(chunk, size_t(n));
      if (p.revents && n <= 0) return false;
    }
    return true;
  }
  // Sends the signal and returns the exit status, or -1 if it did not end.
  int stop(int signal) {
    kill(pid_, signal);
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      poll(nullptr, 0, 50);
    }
    return -1;
  }
  std::string output;

 private:
  pid_t pid_ = -1;
  int stderr_ = -1;
};

TEST(HeadlessRunnerTest, RelaysRefusesZeroPortsAndExitsCleanlyOnSignals) {
  fs::path dir = fs::temp_directory_path() / ("quillex-headless-" + std::to_string(getpid()));
  fs::create_directories(dir);
  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort);
  uint16_t listenPort = freePort();
  std::string profile = "[SYSTEM]\nPORTNUM=3\n"
                        "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(listenPort) +
                        "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" + std::to_string(destinationPort) + "\n"
                        "[TCP-PORT1]\nACT=1\nPORT=0\nFORWARDPORT=80\n"
                        "[TCP-PORT2]\nACT=1\nPORT=1\nFORWARDPORT=0\n";
  for (int signal : {SIGTERM, SIGINT}) {
    CRunner runner(dir, profile);
    ASSERT_TRUE(runner.waitForOutput("TCP-PORT0: relaying 0.0.0.0:" + std::to_string(listenPort) + " -> 127.0.0.1:" +
                                     std::to_string(destinationPort) + " (filter mode 0)\n"))
        << runner.output;
    EXPECT_TRUE(runner.waitForOutput("TCP-PORT1: Listenポートが無効な設定です\n"));
    EXPECT_TRUE(runner.waitForOutput("TCP-PORT2: 転送先ポート番号が無効な設定です\n"));

    Fd client = connectTo(listenPort);
    Fd server = acceptOne(destination.get(), 10000);
    ASSERT_TRUE(server);
    char got[5];
    ASSERT_TRUE(writeAll(client.get(), "hello", 5));
    ASSERT_TRUE(readExact(server.get(), got, 5, 10000));
    EXPECT_EQ(std::string(got, 5), "hello");
    ASSERT_TRUE(writeAll(server.get(), "world", 5));
    ASSERT_TRUE(readExact(client.get(), got, 5, 10000));
    EXPECT_EQ(std::string(got, 5), "world");

    EXPECT_EQ(runner.stop(signal), 0);
    EXPECT_TRUE(atEndOfStream(server.get(), 5000));
    EXPECT_EQ(readFile(dir / "Quillex.ini"), profile);  // the runner writes nothing
  }
  fs::remove_all(dir);
}

TEST(HeadlessRunnerTest, PortThatCannotListenSaysWhy) {
  fs::path dir = fs::temp_directory_path() / ("quillex-taken-" + std::to_string(getpid()));
  fs::create_directories(dir);
  uint16_t takenPort = 0;
  Fd taken = listenAny(takenPort);
  CRunner runner(dir, "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(takenPort) +
                          "\nISLISTENBIND=1\nIPLISTENBIND=127.0.0.1\nFORWARDPORT=9\n");
  EXPECT_TRUE(runner.waitForOutput("TCP-PORT0: cannot listen on 127.0.0.1:" + std::to_string(takenPort) +
                                   ": address already in use (error 10048)\n"))
      << runner.output;
  EXPECT_EQ(runner.stop(SIGTERM), 0);
  fs::remove_all(dir);
}

}  // namespace
