// The headless runner as a user starts it: a separate process beside its profile.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/child_process.h"
#include "tests/loopback.h"

using namespace loopback;
namespace fs = std::filesystem;

namespace {

// Quillex --headless started from a copy of the program in a fresh directory.
std::unique_ptr<CChildProcess> startRunner(const fs::path& dir, const std::string& profile) {
  fs::copy_file(QUILLEX_BINARY, dir / "Quillex", fs::copy_options::overwrite_existing);
  std::ofstream(dir / "Quillex.ini", std::ios::binary) << profile;
  return std::make_unique<CChildProcess>((dir / "Quillex").string(), std::vector<std::string>{"--headless"});
}

TEST(HeadlessRunnerTest, RelaysRefusesZeroPortsAndExitsCleanlyOnSignals) {
  TempDir temp;
  const fs::path dir = temp.path();
  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort);
  uint16_t listenPort = freePort();
  std::string profile = "[SYSTEM]\nPORTNUM=3\n"
                        "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(listenPort) +
                        "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" + std::to_string(destinationPort) + "\n"
                        "[TCP-PORT1]\nACT=1\nPORT=0\nFORWARDPORT=80\n"
                        "[TCP-PORT2]\nACT=1\nPORT=1\nFORWARDPORT=0\n";
  for (int signal : {SIGTERM, SIGINT}) {
    auto runner = startRunner(dir, profile);
    ASSERT_TRUE(runner->waitForOutput("TCP-PORT0: relaying 0.0.0.0:" + std::to_string(listenPort) + " -> 127.0.0.1:" +
                                     std::to_string(destinationPort) + " (filter mode 0)\n"))
        << runner->output;
    EXPECT_TRUE(runner->waitForOutput("TCP-PORT1: Listenポートが無効な設定です\n"));
    EXPECT_TRUE(runner->waitForOutput("TCP-PORT2: 転送先ポート番号が無効な設定です\n"));

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

    EXPECT_EQ(runner->stop(signal), 0);
    EXPECT_TRUE(atEndOfStream(server.get(), 5000));
    EXPECT_EQ(readFile(dir / "Quillex.ini"), profile);  // the runner writes nothing
  }
}

TEST(HeadlessRunnerTest, PortThatCannotListenSaysWhy) {
  TempDir temp;
  const fs::path dir = temp.path();
  uint16_t takenPort = 0;
  Fd taken = listenAny(takenPort);
  auto runner = startRunner(dir, "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(takenPort) +
                          "\nISLISTENBIND=1\nIPLISTENBIND=127.0.0.1\nFORWARDPORT=9\n");
  EXPECT_TRUE(runner->waitForOutput("TCP-PORT0: cannot listen on 127.0.0.1:" + std::to_string(takenPort) +
                                   ": address already in use (error 10048)\n"))
      << runner->output;
  EXPECT_EQ(runner->stop(SIGTERM), 0);
}

TEST(HeadlessRunnerTest, TheDebugSwitchStartsTheTraceAsTheWindowModeDoes) {
  TempDir temp;
  const fs::path dir = temp.path();
  fs::copy_file(QUILLEX_BINARY, dir / "Quillex");
  CChildProcess runner((dir / "Quillex").string(), {"--headless", "-D563"});
  EXPECT_TRUE(runner.waitForOutput("********** Start QUILLEX DEBUG MODE  *******\nDEBUG_MODE ON\n"))
      << runner.output;
}

}  // namespace
