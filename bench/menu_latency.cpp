// How long a window's right-click menu takes to appear: clicks the right
// button at a point of the screen as a user does (XTest), waits for the menu
// window to be mapped, closes it with Esc, and after all the clicks prints
// "KEY_p50" and "KEY_max" in milliseconds. A menu that never appears within
// two seconds counts as two seconds.
//
//   menu_latency X Y COUNT KEY
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTimeoutMs = 2000;
constexpr int kPauseUs = 150000;  // between one menu and the next

// Waits for a MapNotify or UnmapNotify of a child of the root window; the
// window, or None when the time ran out.
Window waitFor(Display* display, int type, Clock::time_point deadline) {
  while (Clock::now() < deadline) {
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == type && type == MapNotify) return event.xmap.window;
      if (event.type == type && type == UnmapNotify) return event.xunmap.window;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, int(std::max<long>(left, 0)));
  }
  return None;
}

void press(Display* display, unsigned button) {
  XTestFakeButtonEvent(display, button, True, CurrentTime);
  XTestFakeButtonEvent(display, button, False, CurrentTime);
  XFlush(display);
}

void escape(Display* display) {
  const KeyCode code = XKeysymToKeycode(display, XK_Escape);
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  XFlush(display);
}

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: menu_latency X Y COUNT KEY\n");
    return 1;
  }
  const int x = std::atoi(argv[1]), y = std::atoi(argv[2]), count = std::max(1, std::atoi(argv[3]));
  const std::string key = argv[4];
  Display* display = XOpenDisplay(nullptr);
  int event = 0, error = 0, major = 0, minor = 0;
  if (!display || !XTestQueryExtension(display, &event, &error, &major, &minor)) {
    std::fprintf(stderr, "menu_latency: no X display with the XTest extension\n");
    return 1;
  }
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    XSync(display, True);  // nothing mapped before the click counts
    const Clock::time_point clicked = Clock::now();
    press(display, Button3);
    const Window menu = waitFor(display, MapNotify, clicked + std::chrono::milliseconds(kTimeoutMs));
    samples.push_back(menu == None ? kTimeoutMs : millisSince(clicked));
    escape(display);
    if (menu != None) waitFor(display, UnmapNotify, Clock::now() + std::chrono::milliseconds(kTimeoutMs));
    usleep(kPauseUs);
  }
  XCloseDisplay(display);
  std::sort(samples.begin(), samples.end());
  std::printf("%s_p50 %.1f\n%s_max %.1f\n", key.c_str(), samples[samples.size() / 2], key.c_str(), samples.back());
  return 0;
}
