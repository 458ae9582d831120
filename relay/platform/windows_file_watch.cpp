#include "relay/platform/file_watch.h"

#include <winsock2.h>
#include <windows.h>

#include <cstddef>

#include "relay/platform/descriptor.h"
#include "relay/platform/errors.h"
#include "relay/platform/unique_fd.h"
#include "relay/platform/windows_system.h"
#include "relay/platform/windows_winsock.h"

// The directory is read with ReadDirectoryChangesW on a thread of the
// watch's own. The read is overlapped so that the destructor's event ends
// the wait at once. For each batch of changes that names the file, the
// thread writes one byte into a socket pair whose read end the loop waits
// on (WSAPoll waits on sockets only).

namespace platform {
namespace {

// A rename onto the file is a file-name change; a write in place changes its
// size or time. A directory made or removed in the file's place (which the
// relay then cannot read) is a directory-name change.
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                           FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_CREATION;
// Enough for a burst of changes; more than this comes as one overflow, which counts as a change.
constexpr DWORD kBatchBytes = 16384;

// Names are compared as the file system compares them: case-blind, character by character.
bool sameName(const wchar_t* name, size_t length, const std::wstring& file) {
  return CompareStringOrdinal(name, int(length), file.data(), int(file.size()), TRUE) == CSTR_EQUAL;
}

// A batch the system could not hold (0 bytes) may have named the file, so it counts.
bool namesFile(const char* batch, DWORD size, const std::wstring& file) {
  if (size == 0) return true;
  constexpr DWORD kHead = offsetof(FILE_NOTIFY_INFORMATION, FileName);
  for (DWORD at = 0; size - at >= kHead;) {
    const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(batch + at);
    if (change->FileNameLength > size - at - kHead) return false;  // cut short: never read past the batch
    if (sameName(change->FileName, change->FileNameLength / sizeof(wchar_t), file)) return true;
    if (change->NextEntryOffset == 0 || change->NextEntryOffset > size - at) return false;
    at += change->NextEntryOffset;
  }
  return false;
}

// The directory part of a path; a root keeps its separator ("C:\").
std::wstring directoryOf(const std::wstring& path, size_t slash) {
  if (slash == std::wstring::npos) return L".";
  const bool root = slash == 0 || path[slash - 1] == L':';
  return path.substr(0, root ? slash + 1 : slash);
}

}  // namespace

struct CFileWatch::CState {
  CHandle directory;
  CHandle changed;  // the overlapped read's event
  CHandle stop;     // set by the destructor
  CHandle thread;
  std::wstring name;  // the file's, without its directory
  CUniqueFd readEnd, writeEnd;
  alignas(DWORD) char batch[kBatchBytes];

  static DWORD WINAPI run(void* self) {
    static_cast<CState*>(self)->watch();
    return 0;
  }
  void watch();
  // Reads one batch; false when the watch has to end (stopped, or the directory is gone).
  bool readBatch(DWORD& bytes);
  // A full socket already holds a byte the loop has yet to read: nothing is lost.
  void tellLoop() {
    const char byte = 'C';
    send(socketOf(writeEnd.get()), &byte, 1, 0);
  }
};

bool CFileWatch::CState::readBatch(DWORD& bytes) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = changed.get();
  ResetEvent(changed.get());
  if (!ReadDirectoryChangesW(directory.get(), batch, sizeof batch, FALSE, kChanges, nullptr, &overlapped, nullptr))
    return false;
  const HANDLE waits[] = {changed.get(), stop.get()};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
    CancelIoEx(directory.get(), &overlapped);
    GetOverlappedResult(directory.get(), &overlapped, &bytes, TRUE);  // the read ends before its buffer does
    return false;
  }
  bytes = 0;
  if (GetOverlappedResult(directory.get(), &overlapped, &bytes, FALSE)) return true;
  return GetLastError() == ERROR_NOTIFY_ENUM_DIR;  // too many changes to list: 0 bytes, one change
}

// A directory that goes away ends the watch: the relay goes on with the profile it has.
void CFileWatch::CState::watch() {
  for (DWORD bytes = 0; readBatch(bytes);)
    if (namesFile(batch, bytes, name)) tellLoop();
}

CFileWatch::CFileWatch(const std::string& path) {
  auto state = std::make_unique<CState>();
  const std::wstring full = wide(path);
  const size_t slash = full.find_last_of(L"\\/");
  state->name = slash == std::wstring::npos ? full : full.substr(slash + 1);
  state->directory.reset(CreateFileW(directoryOf(full, slash).c_str(), FILE_LIST_DIRECTORY,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  state->changed.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  state->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!state->directory || !state->changed || !state->stop) {
    error_ = errnoOf(GetLastError());
    return;
  }
  if (!makePipe(state->readEnd, state->writeEnd, true, true)) {
    error_ = lastSystemError();
    return;
  }
  state->thread.reset(CreateThread(nullptr, 0, &CState::run, state.get(), 0, nullptr));
  if (!state->thread) {
    error_ = errnoOf(GetLastError());
    return;
  }
  state_ = std::move(state);
}

CFileWatch::~CFileWatch() {
  if (!state_) return;
  SetEvent(state_->stop.get());
  WaitForSingleObject(state_->thread.get(), INFINITE);
}

int CFileWatch::descriptor() const { return state_ ? state_->readEnd.get() : -1; }

bool CFileWatch::takeChanges() {
  if (!state_) return false;
  char bytes[64];
  bool any = false;
  while (recv(socketOf(state_->readEnd.get()), bytes, sizeof bytes, 0) > 0) any = true;
  return any;
}

}  // namespace platform
