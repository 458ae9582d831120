#include "port/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "relay/trace.h"

namespace {

// Makes temporary names unique within this process; the pid does it across processes.
unsigned gTempSerial = 0;

bool readAll(int fd, std::string& out) {
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
}

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Creates a fresh temporary file beside `path`. A replaced profile keeps its
// permission bits and owner; a new one gets 0666 less the umask, like any file.
int createTemp(const std::string& path, std::string& tempPath) {
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(gTempSerial++);
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd >= 0 && exists) {
      ::fchmod(fd, old.st_mode & 07777);
      if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Only a privileged process may give a file away; the mode still holds.
      }
    }
    return fd;
  }
  errno = EEXIST;
  return -1;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The directory entry of the rename must reach the disk too.
void syncDirectoryOf(const std::string& path) {
  const std::string dir = directoryOf(path);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// `error` 0: the reason is in `step` alone.
bool failWrite(const std::string& path, const char* step, int error) {
  QTRACE("Profile write failed: %s: %s%s%s\n", path.c_str(), step, error ? ": " : "",
         error ? std::strerror(error) : "");
  return false;
}

}  // namespace

bool readProfileFile(const std::string& path, CProfile& profile) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    profile = CProfile();
    return true;
  }
  std::string bytes;
  const bool ok = fd >= 0 && readAll(fd, bytes);
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (!ok) {
    QTRACE("Profile read failed: %s: %s\n", path.c_str(), std::strerror(error));
    return false;
  }
  profile = CProfile(bytes);
  return true;
}

bool writeProfileFile(const std::string& path, const CProfile& profile) {
  std::string tempPath;
  const int fd = createTemp(path, tempPath);
  if (fd < 0) return failWrite(path, "create", errno);
  const char* step = nullptr;
  int error = 0;
  if (!writeAll(fd, profile.bytes()))
    step = "write";
  else if (::fsync(fd) != 0)
    step = "sync";
  if (step) error = errno;
  if (::close(fd) != 0 && !step) {
    step = "close";
    error = errno;
  }
  if (!step && ::rename(tempPath.c_str(), path.c_str()) != 0) {
    step = "rename";
    error = errno;
  }
  if (step) {
    ::unlink(tempPath.c_str());
    return failWrite(path, step, error);
  }
  syncDirectoryOf(path);
  return true;
}

int getProfileInt(const std::string& section, const std::string& key, int defaultValue,
                  const std::string& path) {
  CProfile profile;
  readProfileFile(path, profile);  // unreadable reads as empty: the default
  return profile.getInt(section, key, defaultValue);
}

std::string getProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& path) {
  CProfile profile;
  readProfileFile(path, profile);
  return profile.getString(section, key, defaultValue);
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
