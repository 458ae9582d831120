#pragma once
// A private X server (Xvfb) for one test, optionally with a notification
// area (trayer), and the few xdotool queries and inputs the tests need.
// Both servers are started and stopped by their own process ids, so tests
// running side by side never touch each other's display.
//
// Owns the Xvfb and trayer processes.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/child_process.h"

using XWindow = unsigned long;

struct XGeometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool contains(const XGeometry& inner) const;
};

class CXSession {
 public:
  static bool xvfbInstalled();

  explicit CXSession(bool withTrayHost);
  ~CXSession();  // trayer first, then the server

  // False when the server or the tray host did not come up; log() says why.
  bool ok() const { return ok_; }
  const std::string& log() const { return log_; }
  const std::string& display() const { return display_; }

  // Environment entries that put a Qt program on this display.
  std::vector<std::string> programEnvironment() const;

  // Window ids from "xdotool search [--onlyvisible] <criteria>".
  std::vector<XWindow> search(const std::vector<std::string>& criteria, bool onlyVisible = true);
  std::string windowName(XWindow window);
  std::optional<XGeometry> geometry(XWindow window);
  std::optional<XGeometry> trayHostGeometry();
  // Runs xdotool with the arguments; true when it succeeded.
  bool xdotool(const std::vector<std::string>& arguments);

 private:
  bool startServer();
  bool startTrayHost();
  std::optional<std::string> runXdotool(const std::vector<std::string>& arguments);

  std::unique_ptr<CChildProcess> server_;
  std::unique_ptr<CChildProcess> trayHost_;
  std::string display_;
  std::string log_;
  bool ok_ = false;
};

// Polls condition every few milliseconds until it holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

// The absolute path of an installed program found through PATH, or "".
std::string findProgram(const std::string& name);
