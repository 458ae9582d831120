// The options beside the debug switch, read in-process and as a user meets
// them, and the readiness datagram for a service manager.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/service_notify.h"
#include "relay/event_loop.h"
#include "tests/child_process.h"
#include "tests/loopback.h"
#include "tests/notify_socket.h"

using namespace loopback;
namespace fs = std::filesystem;

namespace {

CCommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), "quillex");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return parseCommandLine(int(argv.size()), argv.data());
}

TEST(CommandLineTest, ReadsItsOwnOptionsAndLeavesTheRestAlone) {
  const std::string cwd = fs::current_path().string();
  struct Case {
    std::vector<std::string> args;
    bool headless, help;
    std::string profile, unknown;
    bool error;
  } cases[] = {
      {{}, false, false, "", "", false},
      {{"--headless", "-D563", "word", "-platform", "offscreen"}, true, false, "", "", false},
      {{"--profile", "/etc/quillex/Quillex.ini", "--headless"}, true, false, "/etc/quillex/Quillex.ini", "", false},
      {{"--profile=/a/b.ini"}, false, false, "/a/b.ini", "", false},
      {{"--profile", "x/../q.ini"}, false, false, cwd + "/q.ini", "", false},
      {{"--profile", "/a.ini", "--profile", "/b.ini"}, false, false, "/b.ini", "", false},
      {{"--help", "--bogus"}, false, true, "", "--bogus", false},
      {{"--platform", "offscreen", "--nope"}, false, false, "", "--platform", false},
      {{"--profile"}, false, false, "", "", true},
      {{"--profile="}, false, false, "", "", true},
      {{"--profile", "--headless"}, false, false, "", "", true},
      {{"--profile", "-D563"}, false, false, "", "", true},
  };
  for (const Case& c : cases) {
    const std::string shown = ::testing::PrintToString(c.args);
    CCommandLine line = parse(c.args);
    EXPECT_EQ(line.headless, c.headless) << shown;
    EXPECT_EQ(line.help, c.help) << shown;
    EXPECT_EQ(line.profilePath, c.profile) << shown;
    EXPECT_EQ(line.unknownOption, c.unknown) << shown;
    EXPECT_EQ(!line.error.empty(), c.error) << shown;
  }
}

struct CRun {
  int status;
  std::string output;
};

// The program with arguments and the loop backend chosen; only the named
// stream ("1" or "2") is kept.
CRun run(const std::string& arguments, const char* stream, const std::string& backend) {
  const std::string other = std::string(stream) == "1" ? "2" : "1";
  CChildProcess p("/bin/sh", {"-c", std::string("exec \"$0\" ") + arguments + " " + other + ">/dev/null", QUILLEX_BINARY},
                  {"QT_QPA_PLATFORM=offscreen", "QUILLEX_POLLER=" + backend});
  const int status = p.waitForExit(20000);
  return {status, p.output};
}

TEST(CommandLineTest, HelpAndBadLinesAnswerBeforeAnythingStarts) {
  struct Case {
    std::string arguments;
    const char* stream;
    int status;
    std::string text;
    std::string backend = "";
  } cases[] = {
      {"--help", "1", 0, "  --profile PATH  "},
      {"--help", "1", 0, "  --service       with --headless, on Windows: run as a service"},
      {"--headless --service", "2", 2, "quillex: --service is for the Windows service control manager"},
      {"--headless --help", "1", 0, "Usage: quillex"},
      {"--headless --bogus", "2", 2, "quillex: unknown option --bogus\n\nUsage: quillex"},
      {"--headless --profile", "2", 2, "quillex: --profile needs the path of a profile file\n"},
      {"--headless", "2", 2, "quillex: QUILLEX_POLLER=\"poll \" names no event loop backend: choose epoll or poll\n",
       "poll "},
  };
  for (const Case& c : cases) {
    CRun r = run(c.arguments, c.stream, c.backend);
    EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.text), std::string::npos) << c.arguments << "\n" << r.output;
    EXPECT_EQ(r.output.find("番目の引数"), std::string::npos) << c.arguments;
  }
}

// Only the service refuses a typo; the window lists it, warns and starts.
TEST(CommandLineTest, AnUnknownOptionInWindowModeIsListedAndWarnedAbout) {
  TempDir dir;
  CChildProcess p(QUILLEX_BINARY, {"--bogus", "--profile", dir.path() + "/Quillex.ini"},
                  {"QT_QPA_PLATFORM=offscreen", "QUILLEX_POLLER=kqueue"});
  ASSERT_TRUE(p.waitForOutput("quillex: warning: QUILLEX_POLLER=\"kqueue\" names no event loop backend (epoll or "
                              "poll); using epoll\n",
                              20000))
      << p.output;
  ASSERT_TRUE(p.waitForOutput("quillex: warning: unknown option --bogus ignored\n", 20000)) << p.output;
  EXPECT_TRUE(p.waitForOutput("1番目の引数=--bogus\n", 20000)) << p.output;
  EXPECT_EQ(p.stop(SIGTERM, 20000), 0) << p.output;
}

// The window mode makes the program's directory current; a relative profile
// still means the one beside the caller.
TEST(CommandLineTest, RelativeProfileIsTheCallersInWindowMode) {
  TempDir caller, programDir;
  fs::copy_file(QUILLEX_BINARY, fs::path(programDir.path()) / "Quillex");
  const std::string program = programDir.path() + "/Quillex";
  CChildProcess p("/bin/sh", {"-c", "cd \"$1\" && exec \"$0\" --profile own.ini", program, caller.path()},
                  {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_TRUE(p.waitForOutput("2番目の引数=own.ini\n", 20000)) << p.output;
  EXPECT_EQ(p.stop(SIGTERM, 20000), 0) << p.output;
  EXPECT_NE(readFile(caller.path() + "/own.ini").find("[TCP-PORT0]"), std::string::npos);
  EXPECT_FALSE(fs::exists(programDir.path() + "/own.ini"));
}

// The window mode's trace on a terminal that nobody reads (a terminal that
// stopped scrolling): relaying goes on.
TEST(CommandLineTest, ATraceTerminalNobodyReadsNeverStallsTheWindowMode) {
  TempDir temp;
  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort, 1024);
  const uint16_t listenPort = freePort();
  const std::string profile = temp.path() + "/Quillex.ini";
  std::ofstream(profile) << "[TCP-PORT0]\nACT=1\nPORT=" << listenPort << "\nFORWARDPORT=" << destinationPort << "\n";
  CChildProcess p(QUILLEX_BINARY, {"-D563", "--profile", profile}, {"QT_QPA_PLATFORM=offscreen"},
                  CChildLimits{0, false, true});
  Fd first;
  for (int i = 0; i < 200 && !first; ++i) {
    first = connectTo(listenPort);
    if (!first) p.waitForOutput("\x01", 50);
  }
  ASSERT_TRUE(first) << p.output;
  for (int i = 0; i < 500; ++i) {  // each connection is some twenty trace lines
    Fd client = i == 0 ? std::move(first) : connectTo(listenPort), server = acceptOne(destination.get(), 5000);
    ASSERT_TRUE(server) << "connection " << i;
    char byte = 0;
    ASSERT_TRUE(writeAll(client.get(), "t", 1) && readExact(server.get(), &byte, 1, 5000)) << "connection " << i;
  }
  EXPECT_TRUE(p.running());
}

// An abstract name is what the install test's service manager uses.
TEST(ServiceNotifyTest, OneDatagramToASocketPath) {
  TempDir temp;
  CNotifySocket manager(temp.path() + "/notify");
  ASSERT_TRUE(manager.bound());
  setenv("NOTIFY_SOCKET", manager.name().c_str(), 1);
  EXPECT_TRUE(CServiceNotifier().notify("READY=1\nSTATUS=relaying"));
  EXPECT_EQ(manager.receive(5000), "READY=1\nSTATUS=relaying");
  for (const char* unusable : {"", "relative/socket", "@"}) {
    setenv("NOTIFY_SOCKET", unusable, 1);
    EXPECT_FALSE(CServiceNotifier().notify("READY=1")) << unusable;
  }
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(CServiceNotifier().notify("READY=1"));
}

// A manager that does not read never holds the relay up: the latest state
// waits and goes out once the manager reads again.
TEST(ServiceNotifyTest, AManagerThatDoesNotReadGetsTheLatestStateLater) {
  TempDir temp;
  CNotifySocket manager(temp.path() + "/notify");
  setenv("NOTIFY_SOCKET", manager.name().c_str(), 1);
  CEventLoop loop;
  CServiceNotifier notifier(&loop);
  unsetenv("NOTIFY_SOCKET");
  int sent = 0;
  for (int i = 0; i < 1000 && notifier.notify("STATUS=" + std::to_string(i)); ++i) ++sent;
  ASSERT_LT(sent, 1000);
  notifier.notify("READY=1");
  EXPECT_TRUE(notifier.waiting());
  for (int i = 0; i < sent; ++i) ASSERT_EQ(manager.receive(1000), "STATUS=" + std::to_string(i));
  ASSERT_TRUE(pumpUntil(loop, [&] { return !notifier.waiting(); }, 5000));
  EXPECT_EQ(manager.receive(1000), "READY=1");
}

}  // namespace
