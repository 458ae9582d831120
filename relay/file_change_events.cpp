#include "relay/file_change_events.h"

CFileChangeEvents::CFileChangeEvents(CEventLoop& loop, const std::string& path, std::function<void()> handler)
    : loop_(loop), handler_(std::move(handler)), watch_(path) {
  if (watch_.descriptor() >= 0) registration_ = loop_.add(watch_.descriptor(), ready::kReadable, this);
}

CFileChangeEvents::~CFileChangeEvents() { loop_.remove(registration_); }

void CFileChangeEvents::handleEvents(uint32_t) {
  if (watch_.takeChanges()) handler_();
}
