#include "port/profile_location.h"

#include "relay/platform/errors.h"
#include "relay/platform/paths.h"
#include "relay/trace.h"

std::string chooseProfileDirectory(const std::string& exeDir, bool exeDirWritable,
                                   const std::string& userConfigDir) {
  return exeDirWritable || userConfigDir.empty() ? exeDir : userConfigDir;
}

std::string locateProfile() {
  const std::string exeDir = platform::executableDirectory();
  const std::string dir =
      chooseProfileDirectory(exeDir, platform::isWritableDirectory(exeDir), platform::userConfigDirectory());
  if (dir != exeDir && !platform::makeDirectories(dir))
    QTRACE("Profile directory not created: %s: %s\n", dir.c_str(),
           platform::systemErrorText(platform::lastSystemError()));
  return platform::joinPath(dir, PROFILE_FILE_NAME);
}
