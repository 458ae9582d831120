#pragma once
// The profile on disk. Reads give the caller's default when the file, the
// section or the key is missing. Every write replaces the whole file
// atomically (a temporary file beside it, then rename), so a crash or a full
// disk never leaves a half-written profile; a failed write leaves the old file
// as it was and writes a trace line.

#include <functional>
#include <string>

#include "port/profile.h"

// A missing file reads as an empty profile. An existing file that cannot be
// read gives false (and a trace line, and the system error in *error when asked), so
// that no write replaces it blindly.
bool readProfileFile(const std::string& path, CProfile& profile, int* error = nullptr);

// Replaces the file with the profile's bytes, keeping its permission bits.
bool writeProfileFile(const std::string& path, const CProfile& profile);

// Reads the file, applies `edit` and writes the result as one replacement.
// Nothing is written (and a trace line says why) when the old file cannot be
// read or `edit` refuses.
bool updateProfileFile(const std::string& path, const std::function<bool(CProfile&)>& edit);

// One key at a time, argument order as the private-profile call has it.
bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);
