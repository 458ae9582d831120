#include "relay/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "relay/platform/unique_fd.h"

namespace platform {
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

// A fresh temporary file beside `path`; a new file gets 0666 less the umask, like any file.
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
  const CUniqueFd fd(::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

}  // namespace

CFileRead readFile(const std::string& path, std::string& bytes, int& error) {
  const CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd && errno == ENOENT) return CFileRead::Missing;
  if (fd && readAll(fd.get(), bytes)) return CFileRead::Read;
  error = errno;
  return CFileRead::Failed;
}

bool fileIsMissing(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

bool replaceFile(const std::string& path, const std::string& bytes, const char*& failedStep, int& error) {
  std::string tempPath;
  CUniqueFd fd = createTemp(path, tempPath);
  failedStep = nullptr;
  error = 0;
  if (!fd) {
    failedStep = "create";
    error = errno;
    return false;
  }
  if (!writeAll(fd.get(), bytes))
    failedStep = "write";
  else if (::fsync(fd.get()) != 0)
    failedStep = "sync";
  if (failedStep) error = errno;
  if (fd.reset() != 0 && !failedStep) {
    failedStep = "close";
    error = errno;
  }
  if (!failedStep && ::rename(tempPath.c_str(), path.c_str()) != 0) {
    failedStep = "rename";
    error = errno;
  }
  if (failedStep) {
    ::unlink(tempPath.c_str());
    return false;
  }
  syncDirectoryOf(path);
  return true;
}

CFileStamp fileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return CFileStamp{};
  return CFileStamp{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                    int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

CAppendFile::CAppendFile(const std::string& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)) {}

CAppendFile::~CAppendFile() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
