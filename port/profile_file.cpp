#include "port/profile_file.h"

#include "relay/platform/errors.h"
#include "relay/platform/files.h"
#include "relay/trace.h"

namespace {

// `error` 0: the reason is in `step` alone.
bool failWrite(const std::string& path, const char* step, int error) {
  QTRACE("Profile write failed: %s: %s%s%s\n", path.c_str(), step, error ? ": " : "",
         error ? platform::systemErrorText(error) : "");
  return false;
}

}  // namespace

bool readProfileFile(const std::string& path, CProfile& profile, int* errorOut) {
  std::string bytes;
  int error = 0;
  switch (platform::readFile(path, bytes, error)) {
    case platform::CFileRead::Missing:
      profile = CProfile();
      return true;
    case platform::CFileRead::Read:
      profile = CProfile(std::move(bytes));
      return true;
    case platform::CFileRead::Failed:
      break;
  }
  if (errorOut) *errorOut = error;
  QTRACE("Profile read failed: %s: %s\n", path.c_str(), platform::systemErrorText(error));
  return false;
}

bool writeProfileFile(const std::string& path, const CProfile& profile) {
  const char* step = nullptr;
  int error = 0;
  return platform::replaceFile(path, profile.bytes(), step, error) || failWrite(path, step, error);
}

bool updateProfileFile(const std::string& path, const std::function<bool(CProfile&)>& edit) {
  CProfile profile;
  if (!readProfileFile(path, profile)) return failWrite(path, "old file unreadable, kept", 0);
  if (!edit(profile)) return failWrite(path, "a name or value cannot be stored", 0);
  return writeProfileFile(path, profile);
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
  return updateProfileFile(
      path, [&](CProfile& profile) { return profile.setString(section, key, value); });
}
