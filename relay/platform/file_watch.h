#pragma once
// A file's changes as something the event loop can wait on: a descriptor
// that becomes readable when a change in the file's directory names the
// file (written, created, removed, or renamed onto it, as an atomic
// replacement does). Changes to the directory's other files are passed
// over. Where the system has no such watch there is none: on POSIX systems
// SIGHUP asks for the profile to be read again instead.
//
// Owns the watching thread, the directory it watches and both ends of the
// descriptor pair.

#include <memory>
#include <string>

namespace platform {

class CFileWatch {
 public:
  // Starts watching at once; descriptor() says whether it could.
  explicit CFileWatch(const std::string& path);
  // Stops the watching thread and waits for it.
  ~CFileWatch();
  CFileWatch(const CFileWatch&) = delete;
  CFileWatch& operator=(const CFileWatch&) = delete;

  // Readable while a change waits; -1 where the system has no watch (error()
  // is 0) or it could not start (error() says why, as lastSystemError() would).
  int descriptor() const;
  int error() const { return error_; }
  // Takes every change that waits; true when there was one.
  bool takeChanges();

 private:
  struct CState;
  std::unique_ptr<CState> state_;
  int error_ = 0;
};

}  // namespace platform
