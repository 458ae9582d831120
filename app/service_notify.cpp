#include "app/service_notify.h"

#include "relay/platform/service_manager.h"

CServiceNotifier::CServiceNotifier(CEventLoop* loop) : loop_(loop), socket_(platform::connectToServiceManager()) {}

CServiceNotifier::~CServiceNotifier() { watch(false); }

bool CServiceNotifier::notify(std::string_view state) {
  platform::reportServiceState(state);  // the Windows service control manager's, where it runs this process
  if (!socket_) return false;
  if (pending_.empty() && sendNow(state)) return true;
  pending_.assign(state);  // supersedes a state that is still waiting
  watch(true);
  return false;
}

bool CServiceNotifier::sendNow(std::string_view state) {
  return platform::sendDatagram(socket_.get(), state) == platform::CDatagramSent::Whole;
}

void CServiceNotifier::handleEvents(uint32_t events) {
  const bool failed = events & (ready::kError | ready::kHangUp);
  if (failed || platform::sendDatagram(socket_.get(), pending_) != platform::CDatagramSent::NoRoom) {
    pending_.clear();  // sent, or the manager is gone
    watch(false);
  }
}

void CServiceNotifier::watch(bool on) {
  if (!loop_ || on == watching_) return;
  if (on) {
    registration_ = loop_->add(socket_.get(), ready::kWritable, this);
    watching_ = registration_ != 0;
  } else {
    loop_->remove(registration_);
    watching_ = false;
  }
}
