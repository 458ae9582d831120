#pragma once
// A file's changes as ordinary events of the event loop, where the system
// reports them (relay/platform/file_watch.h): the handler runs once for all
// the changes that waited. Where the system has no watch nothing ever runs.
//
// Owns the watch; does not own the loop, which must outlive it.

#include <functional>
#include <string>

#include "relay/event_loop.h"
#include "relay/platform/file_watch.h"

class CFileChangeEvents : private CEventHandler {
 public:
  CFileChangeEvents(CEventLoop& loop, const std::string& path, std::function<void()> handler);
  ~CFileChangeEvents();
  CFileChangeEvents(const CFileChangeEvents&) = delete;
  CFileChangeEvents& operator=(const CFileChangeEvents&) = delete;

  // Why the system's watch could not start, as lastSystemError() says it; 0
  // when it runs or the system has none.
  int error() const { return watch_.error(); }

 private:
  void handleEvents(uint32_t ready) override;

  CEventLoop& loop_;
  std::function<void()> handler_;
  platform::CFileWatch watch_;
  CEventLoop::Registration registration_ = 0;
};
