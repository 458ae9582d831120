#!/usr/bin/env bash
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer and runs them.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test

build=build-test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUILLEX_SANITIZE=ON >/dev/null
cmake --build "$build" -j2

# Any sanitizer report ends the test that raised it, so a report fails the run.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export QT_QPA_PLATFORM=offscreen
(cd "$build" && ctest --output-on-failure -j2 "$@")

# The relay as a target without Qt 6 gets it: the headless program alone, and
# the headless runner's tests through it.
plain=build-no-window
cmake -S . -B "$plain" -DCMAKE_BUILD_TYPE=Debug -DQUILLEX_SANITIZE=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=TRUE >/dev/null
cmake --build "$plain" -j2 --target Quillex headless_runner_test
(cd "$plain" && ctest --output-on-failure -j2 -R '^(HeadlessRunnerTest|NoWindow)\.')

# Windows: the relay and its tests cross-built with MinGW-w64 and run under
# Wine, where the cases a system lacks the means for are skipped and listed.
windows=build-windows
cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$windows" -j2
scripts/wine_run.sh "$windows" ctest --test-dir "$windows" --output-on-failure -j2 "$@"
# The program end to end under Wine: ten ports, the filter, the log, a
# reload, Ctrl+C and the service.
scripts/wine_run.sh "$windows" scripts/wine_check.sh "$windows"
