#include "relay/platform/files.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "relay/platform/windows_system.h"

// Paths are UTF-8 here and UTF-16 for the system; the bytes are read and
// written as they are (binary mode), as on every other system. Errors are
// errno values, the system's own converted to the nearest one.

namespace platform {
namespace {

// Makes temporary names unique within this process; the process id does it across processes.
unsigned gTempSerial = 0;

// Owns one CRT descriptor: a file's number is never a socket's, so it is not closeDescriptor's to close.
class CFile {
 public:
  explicit CFile(int fd) : fd_(fd) {}
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile() { close(); }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int close() {
    const int result = fd_ >= 0 ? _close(fd_) : 0;
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Reads straight into the string, sized from the file's length up front.
bool readAll(int fd, std::string& out) {
  const long long length = _filelengthi64(fd);
  size_t used = 0;
  out.resize(length > 0 ? size_t(length) + 1 : 65536);
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);
    const size_t want = std::min<size_t>(out.size() - used, INT_MAX);
    const int n = _read(fd, out.data() + used, unsigned(want));
    if (n == 0) break;
    if (n < 0) return false;
    used += size_t(n);
  }
  out.resize(used);
  return true;
}

bool writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const size_t want = std::min<size_t>(data.size() - done, INT_MAX);
    const int n = _write(fd, data.data() + done, unsigned(want));
    if (n < 0) return false;
    done += size_t(n);
  }
  return true;
}

// A fresh temporary file beside `path`, never inherited by a child.
int createTemp(const std::string& path, std::string& tempPath) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(gTempSerial++);
    const int fd = _wopen(wide(tempPath).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The write-through rename reaches the disk with the directory entry: no directory to sync after.
bool renameOver(const std::string& from, const std::string& to) {
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Nanoseconds since 1970, as elsewhere; from 1601 they would overflow.
int64_t nanosecondsOf(const FILETIME& t) {
  constexpr int64_t kTicksFrom1601To1970 = 116444736000000000;  // in 100 ns
  const uint64_t ticks = (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return (int64_t(ticks) - kTicksFrom1601To1970) * 100;
}

}  // namespace

CFileRead readFile(const std::string& path, std::string& bytes, int& error) {
  const CFile file(_wopen(wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
  if (!file && errno == ENOENT) return CFileRead::Missing;
  if (file && readAll(file.get(), bytes)) return CFileRead::Read;
  error = errno;
  return CFileRead::Failed;
}

bool fileIsMissing(const std::string& path) {
  if (GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool replaceFile(const std::string& path, const std::string& bytes, const char*& failedStep, int& error) {
  std::string tempPath;
  CFile file(createTemp(path, tempPath));
  failedStep = nullptr;
  error = 0;
  if (!file) {
    failedStep = "create";
    error = errno;
    return false;
  }
  if (!writeAll(file.get(), bytes))
    failedStep = "write";
  else if (_commit(file.get()) != 0)
    failedStep = "sync";
  if (failedStep) error = errno;
  if (file.close() != 0 && !failedStep) {
    failedStep = "close";
    error = errno;
  }
  if (!failedStep && !renameOver(tempPath, path)) {
    failedStep = "rename";
    error = errnoOf(GetLastError());
  }
  if (!failedStep) return true;
  _wunlink(wide(tempPath).c_str());
  return false;
}

CFileStamp fileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) return CFileStamp{};
  const int64_t size = int64_t((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return CFileStamp{0, 0, size, nanosecondsOf(data.ftLastWriteTime)};
}

// Append access alone: every write lands at the end, whoever else writes the file.
CAppendFile::CAppendFile(const std::string& path) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE file =
      CreateFileW(wide(path).c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  fd_ = _open_osfhandle(intptr_t(file), _O_APPEND | _O_BINARY);
  if (fd_ < 0) CloseHandle(file);
}

CAppendFile::~CAppendFile() {
  if (fd_ >= 0) _close(fd_);
}

}  // namespace platform
