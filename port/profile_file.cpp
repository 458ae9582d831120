#include "port/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "relay/trace.h"
#include "relay/unique_fd.h"

namespace {

// Makes temporary names unique within this process; the pid does it across processes.
unsigned gTempSerial = 0;

// Reads straight into the string, sized from the file's length up front.
bool readAll(int fd, std::string& out) {
  struct stat st {};
  size_t used = 0;
  out.resize(::fstat(fd, &st) == 0 && st.st_size > 0 ? size_t(st.st_size) + 1 : 65536);
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);
    const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    used += size_t(n);
  }
  out.resize(used);
  return true;
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
CUniqueFd createTemp(const std::string& path, std::string& tempPath) {
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(gTempSerial++);
    CUniqueFd fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd && errno == EEXIST) continue;
    if (fd && exists) {
      ::fchmod(fd.get(), old.st_mode & 07777);
      if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
        // Only a privileged process may give a file away; the mode still holds.
      }
    }
    return fd;
  }
  errno = EEXIST;
  return CUniqueFd();
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The directory entry of the rename must reach the disk too.
void syncDirectoryOf(const std::string& path) {
  const std::string dir = directoryOf(path);
  const CUniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

// `error` 0: the reason is in `step` alone.
bool failWrite(const std::string& path, const char* step, int error) {
  QTRACE("Profile write failed: %s: %s%s%s\n", path.c_str(), step, error ? ": " : "",
         error ? std::strerror(error) : "");
  return false;
}

}  // namespace

bool readProfileFile(const std::string& path, CProfile& profile, int* errorOut) {
  const CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd && errno == ENOENT) {
    profile = CProfile();
    return true;
  }
  std::string bytes;
  const bool ok = fd && readAll(fd.get(), bytes);
  const int error = errno;
  if (!ok) {
    if (errorOut) *errorOut = error;
    QTRACE("Profile read failed: %s: %s\n", path.c_str(), std::strerror(error));
    return false;
  }
  profile = CProfile(std::move(bytes));
  return true;
}

bool writeProfileFile(const std::string& path, const CProfile& profile) {
  std::string tempPath;
  CUniqueFd fd = createTemp(path, tempPath);
  if (!fd) return failWrite(path, "create", errno);
  const char* step = nullptr;
  int error = 0;
  if (!writeAll(fd.get(), profile.bytes()))
    step = "write";
  else if (::fsync(fd.get()) != 0)
    step = "sync";
  if (step) error = errno;
  if (fd.reset() != 0 && !step) {
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
