#include "relay/platform/file_watch.h"

// SIGHUP asks for the profile to be read again here: no watch, no thread.

namespace platform {

struct CFileWatch::CState {};

CFileWatch::CFileWatch(const std::string&) {}
CFileWatch::~CFileWatch() = default;
int CFileWatch::descriptor() const { return -1; }
bool CFileWatch::takeChanges() { return false; }

}  // namespace platform
