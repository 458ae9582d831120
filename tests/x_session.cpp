#include "tests/x_session.h"

#include <poll.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartMs = 10000;
constexpr int kCommandMs = 5000;

// The output never holds a NUL, so this only reads what has arrived.
void readOutput(CChildProcess& process, int waitMs) { process.waitForOutput(std::string(1, '\0'), waitMs); }

// Xvfb writes the display number it chose as a line of digits.
std::optional<std::string> displayNumber(const std::string& output) {
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) return line;
  return std::nullopt;
}

std::optional<int> shellValue(const std::string& text, const std::string& key) {
  size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return std::nullopt;
  return std::atoi(text.c_str() + at + key.size() + 2);
}

}  // namespace

bool XGeometry::contains(const XGeometry& inner) const {
  return inner.x >= x && inner.y >= y && inner.x + inner.width <= x + width && inner.y + inner.height <= y + height;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    // The X server and the program under test tell us nothing when their
    // state changes, so the condition is checked again every 20 ms.
    poll(nullptr, 0, 20);
  }
  return true;
}

std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

bool CXSession::xvfbInstalled() { return !findProgram("Xvfb").empty(); }

CXSession::CXSession(bool withTrayHost) { ok_ = startServer() && (!withTrayHost || startTrayHost()); }

CXSession::~CXSession() {
  if (trayHost_) trayHost_->stop(SIGTERM);
  if (server_) server_->stop(SIGTERM);
}

// Each test process tries its own display numbers, and the next ones when a
// number is taken: servers that scan from :0 at the same moment (-displayfd
// alone) could end up with one number and cut each other's clients off.
bool CXSession::startServer() {
  static int sessions = 0;
  const int first = 100 + int(getpid() % 400) * 20 + (sessions++ % 20);
  for (int display = first; display < first + 20; ++display) {
    server_ = std::make_unique<CChildProcess>(
        findProgram("Xvfb"), std::vector<std::string>{":" + std::to_string(display), "-displayfd", "1", "-screen",
                                                      "0", "1024x768x24", "-nolisten", "tcp"});
    bool up = waitUntil(
        [&] {
          readOutput(*server_, 20);
          return displayNumber(server_->output).has_value() || !server_->running();
        },
        kStartMs);
    std::optional<std::string> number = displayNumber(server_->output);
    if (up && number && server_->running()) {
      display_ = ":" + *number;
      // A server that reported its number but takes no client is of no use.
      if (xdotool({"getdisplaygeometry"})) return true;
      log_ += "Xvfb on " + display_ + " took no client\n";
      server_->stop(SIGTERM);
      continue;
    }
    log_ += "Xvfb did not start on :" + std::to_string(display) + ": " + server_->output + "\n";
  }
  return false;
}

// trayer owns the notification-area selection before it maps its panel, so
// a visible panel means a program started now finds a tray. The panel has a
// fixed width, so it is visible before any icon asks for room; a host whose
// panel never shows is started once more, as on a loaded machine it can miss
// its first mapping.
bool CXSession::startTrayHost() {
  std::string trayer = findProgram("trayer");
  if (trayer.empty()) {
    log_ = "trayer is not installed";
    return false;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    trayHost_ = std::make_unique<CChildProcess>(
        trayer,
        std::vector<std::string>{"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "64",
                                 "--height", "24"},
        std::vector<std::string>{"DISPLAY=" + display_});
    if (waitUntil([&] { return trayHostGeometry().has_value(); }, kStartMs)) return true;
    log_ += "trayer did not show its panel: " + trayHost_->output + "\n";
  }
  return false;
}

std::vector<std::string> CXSession::programEnvironment() const {
  return {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb"};
}

std::optional<std::string> CXSession::runXdotool(const std::vector<std::string>& arguments) {
  CChildProcess tool(findProgram("xdotool"), arguments, {"DISPLAY=" + display_});
  if (tool.waitForExit(kCommandMs) != 0) return std::nullopt;
  return tool.output;
}

bool CXSession::xdotool(const std::vector<std::string>& arguments) { return runXdotool(arguments).has_value(); }

std::vector<XWindow> CXSession::search(const std::vector<std::string>& criteria, bool onlyVisible) {
  std::vector<std::string> arguments{"search"};
  if (onlyVisible) arguments.push_back("--onlyvisible");
  arguments.insert(arguments.end(), criteria.begin(), criteria.end());
  std::vector<XWindow> windows;
  std::istringstream lines(runXdotool(arguments).value_or(""));  // no match: exit status 1
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
      windows.push_back(std::stoul(line));
  return windows;
}

std::string CXSession::windowName(XWindow window) {
  std::string name = runXdotool({"getwindowname", std::to_string(window)}).value_or("");
  if (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}

std::optional<XGeometry> CXSession::geometry(XWindow window) {
  std::optional<std::string> text = runXdotool({"getwindowgeometry", "--shell", std::to_string(window)});
  if (!text) return std::nullopt;
  auto x = shellValue(*text, "X"), y = shellValue(*text, "Y");
  auto w = shellValue(*text, "WIDTH"), h = shellValue(*text, "HEIGHT");
  if (!x || !y || !w || !h) return std::nullopt;
  return XGeometry{*x, *y, *w, *h};
}

std::optional<XGeometry> CXSession::trayHostGeometry() {
  std::vector<XWindow> panels = search({"--class", "trayer"});
  if (panels.empty()) return std::nullopt;
  return geometry(panels.front());
}
