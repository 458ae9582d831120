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
