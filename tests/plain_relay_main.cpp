// The headless relay alone, built without the sanitizers, for the tests
// that limit its address space (the sanitizers reserve terabytes of it) or
// measure its memory: plain_relay PROFILE.
#include <csignal>
#include <cstdio>

#include "app/headless_runner.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PROFILE\n", argv[0]);
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  return runHeadless(argv[1]);
}
