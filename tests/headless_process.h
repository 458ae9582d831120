#pragma once
// Quillex --headless as a user starts it: a copy of the program (a hard link
// where the file system allows), named as built, in a fresh directory beside
// its profile.
// The test target defines QUILLEX_BINARY.

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "relay/platform/signals.h"
#include "tests/child_process.h"

inline std::unique_ptr<CChildProcess> startHeadless(const std::filesystem::path& dir, const std::string& profile,
                                                    std::vector<std::string> arguments = {},
                                                    CChildProcess::Limits limits = {}) {
  namespace fs = std::filesystem;
  const fs::path program = dir / fs::path(QUILLEX_BINARY).filename();
  std::error_code linked;
  if (!fs::exists(program)) fs::create_hard_link(QUILLEX_BINARY, program, linked);
  if (linked) fs::copy_file(QUILLEX_BINARY, program, fs::copy_options::overwrite_existing);
  std::ofstream(dir / "Quillex.ini", std::ios::binary) << profile;
  arguments.insert(arguments.begin(), "--headless");
  return std::make_unique<CChildProcess>(program.string(), arguments, std::vector<std::string>{}, limits);
}

// After the test changed the profile: SIGHUP where the system has it; where
// it has none (Windows), the relay saw the change itself.
inline void profileChanged(CChildProcess& runner) { runner.hangUp(); }

// The profile read again though it did not change: SIGHUP, or where the
// system has none the file written anew with its own bytes.
inline void readProfileAgain(CChildProcess& runner, const std::filesystem::path& profile) {
  if (platform::hasHangUpSignal()) {
    runner.hangUp();
    return;
  }
  std::ifstream in(profile, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::ofstream(profile, std::ios::binary | std::ios::trunc) << bytes;
}
