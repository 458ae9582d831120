// The backends of a POSIX build: epoll where the system has it, and poll(2).
#include "relay/poller.h"

namespace {

constexpr CPoller::Backend kBackends[] = {{"epoll", CPoller::Kind::Epoll}, {"poll", CPoller::Kind::Poll}};

}  // namespace

std::span<const CPoller::Backend> CPoller::backends() { return kBackends; }
const char* CPoller::backendNames() { return "epoll or poll"; }

std::unique_ptr<CPoller> CPoller::create(Kind kind) {
  return kind == Kind::Poll ? makePollPoller() : makeEpollPoller();
}
