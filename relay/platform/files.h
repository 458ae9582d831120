#pragma once
// Whole files as bytes: the profile and the hosts file. Writes replace a
// file in one step, so no reader ever sees half of one.

#include <cstdint>
#include <string>

namespace platform {

enum class CFileRead { Read, Missing, Failed };
// Failed: `error` holds the system's error.
CFileRead readFile(const std::string& path, std::string& bytes, int& error);
bool fileIsMissing(const std::string& path);

// A temporary file beside `path` is written, synced and renamed over it, and
// the directory synced; a replaced file keeps its permission bits and owner.
// On failure the temporary is gone and `failedStep` ("create", "write",
// "sync", "close", "rename") and `error` say why.
bool replaceFile(const std::string& path, const std::string& bytes, const char*& failedStep, int& error);

// What changes when a file is replaced or written; all zero when there is none.
struct CFileStamp {
  uint64_t device = 0, inode = 0;
  int64_t size = 0, modifiedNs = 0;
  bool operator==(const CFileStamp&) const = default;
};
CFileStamp fileStamp(const std::string& path);

// A file that lines are appended to (a service's log), created when
// missing, and opened so that it may be read, renamed or removed while it
// is open. Owns its descriptor, which is a file's, never a socket's.
class CAppendFile {
 public:
  explicit CAppendFile(const std::string& path);
  ~CAppendFile();
  CAppendFile(const CAppendFile&) = delete;
  CAppendFile& operator=(const CAppendFile&) = delete;

  int descriptor() const { return fd_; }  // -1 when it could not be opened

 private:
  int fd_ = -1;
};

}  // namespace platform
