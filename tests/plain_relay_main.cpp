// The headless relay alone, built without the sanitizers, for the tests
// that limit its address space (the sanitizers reserve terabytes of it) or
// measure its memory: plain_relay PROFILE.
#include <cstdio>

#include "app/headless_runner.h"
#include "relay/memory_reserve.h"
#include "relay/platform/signals.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PROFILE\n", argv[0]);
    return 2;
  }
  platform::ignoreBrokenPipe();
  CMemoryReserve reserve;
  return runHeadless(argv[1], {}, &reserve);
}
