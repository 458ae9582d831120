// The whole program as a user runs it: a copy of Quillex beside its own
// profile, on a private X server, with and without a notification area.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "port/profile.h"
#include "tests/child_process.h"
#include "tests/loopback.h"
#include "tests/x_session.h"

using namespace loopback;
namespace fs = std::filesystem;

namespace {

const std::string kTitle = "クイレクス";
const std::string kTraceTitle = "Quillex debug trace";
constexpr int kExitMs = 30000;  // a sanitizer build checks for leaks on the way out

CProfile readProfile(const fs::path& path) { return CProfile(readFile(path)); }

std::string onPortProfile(int portCount, uint16_t listenPort, uint16_t destinationPort,
                          const std::string& system = "") {
  return "[SYSTEM]\nPORTNUM=" + std::to_string(portCount) + "\n" + system +
         "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(listenPort) +
         "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" + std::to_string(destinationPort) + "\n";
}

// Every section is written whole on exit, so its last key is there too.
void expectSavedSections(const CProfile& profile, const std::vector<int>& acts) {
  for (size_t i = 0; i < acts.size(); ++i) {
    std::string section = "TCP-PORT" + std::to_string(i);
    EXPECT_EQ(profile.findValue(section, "ACT"), std::to_string(acts[i])) << section;
    EXPECT_EQ(profile.findValue(section, "REFUSEIPCOUNT"), std::string("0")) << section;
  }
  EXPECT_FALSE(profile.findValue("TCP-PORT" + std::to_string(acts.size()), "ACT"));
}

// A client connected through the relay and the far side the test accepted.
struct Link {
  Fd client;
  Fd server;
};

// Waits for the relay to listen, connects through it and accepts the far side.
Link connectThrough(uint16_t listenPort, const Fd& destination) {
  Link link;
  waitUntil([&] {
    link.client = connectTo(listenPort);
    return bool(link.client);
  });
  if (link.client) link.server = acceptOne(destination.get(), 10000);
  return link;
}

// Sends text each way; true when both arrived unchanged.
bool exchange(const Link& link, const std::string& text) {
  std::string got(text.size(), '\0');
  if (!writeAll(link.client.get(), text.data(), text.size()) ||
      !readExact(link.server.get(), got.data(), got.size(), 10000) || got != text)
    return false;
  return writeAll(link.server.get(), text.data(), text.size()) &&
         readExact(link.client.get(), got.data(), got.size(), 10000) && got == text;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CXSession::xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed";
    fs::copy_file(QUILLEX_BINARY, dir_ / "Quillex");
  }

  void TearDown() override {
    quillex_.reset();  // before its display goes away
    x_.reset();
  }

  // A fresh display (with a notification area when asked), then the program.
  void start(bool withTrayHost, const std::string& profile, const std::vector<std::string>& arguments = {}) {
    x_ = std::make_unique<CXSession>(withTrayHost);
    ASSERT_TRUE(x_->ok()) << x_->log();
    std::ofstream(dir_ / "Quillex.ini", std::ios::binary) << profile;
    quillex_ = std::make_unique<CChildProcess>((dir_ / "Quillex").string(), arguments, x_->programEnvironment());
  }

  bool windowVisible(const std::string& title) { return !x_->search({"--name", "^" + title + "$"}).empty(); }

  // The program's small window inside the tray host's panel.
  std::optional<XWindow> trayIcon() {
    std::optional<XGeometry> panel = x_->trayHostGeometry();
    if (!panel) return std::nullopt;
    for (XWindow w : x_->search({"--class", "^Quillex$"})) {
      std::optional<XGeometry> g = x_->geometry(w);
      if (g && panel->contains(*g)) return w;
    }
    return std::nullopt;
  }

  // Mouse input on the icon's centre, e.g. {"click", "3"}.
  void clickTrayIcon(const std::vector<std::string>& click) {
    std::optional<XWindow> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = trayIcon()).has_value(); })) << "no icon in the tray";
    std::optional<XGeometry> g = x_->geometry(*icon);
    ASSERT_TRUE(g);
    std::vector<std::string> input{"mousemove", std::to_string(g->x + g->width / 2),
                                   std::to_string(g->y + g->height / 2)};
    input.insert(input.end(), click.begin(), click.end());
    ASSERT_TRUE(x_->xdotool(input));
  }

  // A visible window of the program that is neither a named window nor the icon.
  bool trayMenuOpen(XWindow icon) {
    for (XWindow w : x_->search({"--class", "^Quillex$"})) {
      std::string name = x_->windowName(w);
      if (w != icon && name != kTitle && name != kTraceTitle) return true;
    }
    return false;
  }

  // Right-clicks the icon and chooses "終了", the menu's last entry.
  void exitThroughTrayMenu() {
    ASSERT_NO_FATAL_FAILURE(clickTrayIcon({"click", "3"}));
    std::optional<XWindow> icon = trayIcon();
    ASSERT_TRUE(icon);
    ASSERT_TRUE(waitUntil([&] { return trayMenuOpen(*icon); })) << "the tray menu did not open";
    ASSERT_TRUE(x_->xdotool({"key", "Up", "Return"}));
  }

  fs::path profilePath() const { return dir_ / "Quillex.ini"; }

  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort);
  uint16_t listenPort = freePort();
  std::unique_ptr<CXSession> x_;
  std::unique_ptr<CChildProcess> quillex_;

 private:
  TempDir temp_;
  fs::path dir_ = temp_.path();
};

// Without a notification area the window shows even though WINDOW says
// hidden, and a termination saves and stops every port like "終了".
TEST_F(ProgramTest, PortThatIsOnRelaysFromTheStartAndTerminationSavesEverySection) {
  ASSERT_NO_FATAL_FAILURE(start(false, onPortProfile(2, listenPort, destinationPort, "WINDOW=0\n")));

  Link link = connectThrough(listenPort, destination);
  ASSERT_TRUE(link.server) << quillex_->output;
  EXPECT_TRUE(exchange(link, "hello through the relay"));
  EXPECT_TRUE(waitUntil([&] { return windowVisible(kTitle); })) << "no notification area: the window must show";

  EXPECT_EQ(quillex_->stop(SIGTERM, kExitMs), 0) << quillex_->output;
  CProfile saved = readProfile(profilePath());
  expectSavedSections(saved, {1, 0});
  EXPECT_EQ(saved.findValue("SYSTEM", "WINDOW"), "0");
}

TEST_F(ProgramTest, TrayExitEndsWithZeroAfterSavingEverySection) {
  ASSERT_NO_FATAL_FAILURE(start(true, onPortProfile(3, listenPort, destinationPort)));
  Link link = connectThrough(listenPort, destination);
  ASSERT_TRUE(link.server) << quillex_->output;
  ASSERT_TRUE(waitUntil([&] { return windowVisible(kTitle); }));

  ASSERT_NO_FATAL_FAILURE(exitThroughTrayMenu());
  EXPECT_EQ(quillex_->waitForExit(kExitMs), 0) << quillex_->output;
  expectSavedSections(readProfile(profilePath()), {1, 0, 0});
  EXPECT_TRUE(atEndOfStream(link.server.get(), 5000));  // the open connection was closed, not left hanging
}

TEST_F(ProgramTest, WindowZeroStartsWithOnlyTheIconAndDoubleClickShowsTheWindow) {
  ASSERT_NO_FATAL_FAILURE(start(true, "[SYSTEM]\nPORTNUM=1\nWINDOW=0\n"));
  // The icon is embedded only after a round trip through the tray host, so
  // by then a window shown at start would be mapped already.
  ASSERT_TRUE(waitUntil([&] { return trayIcon().has_value(); })) << quillex_->output;
  EXPECT_FALSE(windowVisible(kTitle));

  ASSERT_NO_FATAL_FAILURE(clickTrayIcon({"click", "--repeat", "2", "--delay", "80", "1"}));
  EXPECT_TRUE(waitUntil([&] { return windowVisible(kTitle); })) << "a double click must show the window";

  ASSERT_NO_FATAL_FAILURE(exitThroughTrayMenu());
  EXPECT_EQ(quillex_->waitForExit(kExitMs), 0) << quillex_->output;
  EXPECT_EQ(readProfile(profilePath()).findValue("SYSTEM", "WINDOW"), "0");
}

// In debug mode a termination is only a close request and an interrupt is
// ignored: the window hides, the relay goes on until "終了".
TEST_F(ProgramTest, DebugTerminationHidesTheWindowAndTheRelayGoesOnUntilExit) {
  ASSERT_NO_FATAL_FAILURE(start(true, onPortProfile(1, listenPort, destinationPort), {"-D563"}));
  EXPECT_TRUE(quillex_->waitForOutput("1番目の引数=-D563\nDEBUGMODE ON\n"));
  Link before = connectThrough(listenPort, destination);
  ASSERT_TRUE(before.server) << quillex_->output;
  ASSERT_TRUE(waitUntil([&] { return windowVisible(kTitle) && windowVisible(kTraceTitle); }));

  // The relay's events come after the signal's, so once a new connection
  // has carried bytes the interrupt has been handled.
  kill(quillex_->pid(), SIGINT);
  Link afterInterrupt = connectThrough(listenPort, destination);
  ASSERT_TRUE(afterInterrupt.server) << quillex_->output;
  EXPECT_TRUE(exchange(afterInterrupt, "after the interrupt"));
  EXPECT_TRUE(windowVisible(kTitle)) << "an interrupt must be ignored";

  kill(quillex_->pid(), SIGTERM);
  EXPECT_TRUE(waitUntil([&] { return !windowVisible(kTitle); })) << "the close request must hide the window";
  Link afterClose = connectThrough(listenPort, destination);
  ASSERT_TRUE(afterClose.server) << quillex_->output;
  EXPECT_TRUE(exchange(afterClose, "after the close request"));
  EXPECT_TRUE(exchange(before, "still open"));
  EXPECT_TRUE(quillex_->running());

  ASSERT_NO_FATAL_FAILURE(exitThroughTrayMenu());
  EXPECT_EQ(quillex_->waitForExit(kExitMs), 0) << quillex_->output;
  expectSavedSections(readProfile(profilePath()), {1});
}

// A termination may come while a panel's own message box runs its loop on
// top of the panel: the box must be closed before the panel goes.
TEST_F(ProgramTest, TerminationWhileAPanelsMessageBoxIsOpenEndsCleanly) {
  ASSERT_NO_FATAL_FAILURE(start(false, onPortProfile(1, listenPort, destinationPort)));
  ASSERT_TRUE(connectThrough(listenPort, destination).server) << quillex_->output;
  std::vector<XWindow> windows;
  ASSERT_TRUE(waitUntil([&] { return !(windows = x_->search({"--name", "^" + kTitle + "$"})).empty(); }));
  std::optional<XGeometry> w = x_->geometry(windows.front());
  ASSERT_TRUE(w);

  // "設定" of a port that is ON answers with a message box; the button's
  // centre in the panel template is (59.5, 11.5) of 189 x 41 units.
  int panelHeight = w->height - 30;
  ASSERT_TRUE(x_->xdotool({"mousemove", std::to_string(w->x + w->width * 595 / 1890),
                           std::to_string(w->y + 30 + panelHeight * 115 / 410), "click", "1"}));
  ASSERT_TRUE(waitUntil([&] { return windowVisible("Quillex"); })) << "no message box";

  EXPECT_EQ(quillex_->stop(SIGTERM, kExitMs), 0) << quillex_->output;
  expectSavedSections(readProfile(profilePath()), {1});
}

// A termination while the start-up waits on a port's message (a port ON
// without a listen port) ends the program at once: the box closes, the
// panels after it are made, and every section is saved.
TEST_F(ProgramTest, TerminationDuringAStartUpMessageEndsAtOnce) {
  ASSERT_NO_FATAL_FAILURE(start(false, onPortProfile(5, listenPort, destinationPort) +
                                           "[TCP-PORT1]\nACT=1\nPORT=0\nFORWARDPORT=9\n"));
  if (!waitUntil([&] { return windowVisible("Quillex"); })) {
    const int status = quillex_->waitForExit(2000);  // and what it printed
    FAIL() << "no message box; the program's exit status " << status << ":\n" << quillex_->output << x_->log();
  }
  const auto stopped = std::chrono::steady_clock::now();
  EXPECT_EQ(quillex_->stop(SIGTERM, kExitMs), 0) << quillex_->output;
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
  expectSavedSections(readProfile(profilePath()), {1, 0, 0, 0, 0});  // the refused switch-on is OFF
}

}  // namespace
