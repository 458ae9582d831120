#include "relay/signal_events.h"

CSignalEvents::CSignalEvents(CEventLoop& loop, std::function<void(Signal)> handler)
    : loop_(loop), handler_(std::move(handler)) {
  platform::blockProcessSignals();  // a single-threaded caller may rely on this alone
  fd_.reset(platform::openSignalDescriptor());
  if (fd_) registration_ = loop_.add(fd_.get(), ready::kReadable, this);
}

CSignalEvents::~CSignalEvents() { loop_.remove(registration_); }

void CSignalEvents::handleEvents(uint32_t) {
  for (Signal signal; platform::takeSignal(fd_.get(), signal);) handler_(signal);
}
