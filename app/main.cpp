// Program entry; grows into the start-up sequence and the headless runner.
#include <cstdio>

int main() {
  std::puts("Quillex: nothing to run yet");
  return 0;
}
