// Program entry: the headless relay for now; the window comes with the main window.
#include <cstring>

#include "app/headless_runner.h"
#include "port/profile_location.h"
#include "relay/trace.h"

int main(int argc, char** argv) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-D563") == 0) trace::setEnabled(true);
    if (std::strcmp(argv[i], "--headless") == 0) headless = true;
  }
  (void)headless;
  return runHeadless(locateProfile());
}
