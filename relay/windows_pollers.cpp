// The backend of a Windows build: WSAPoll, the system's poll for sockets.
#include "relay/poller.h"

namespace {

constexpr CPoller::Backend kBackends[] = {{"wsapoll", CPoller::Kind::WsaPoll}};

}  // namespace

std::span<const CPoller::Backend> CPoller::backends() { return kBackends; }
const char* CPoller::backendNames() { return "wsapoll"; }

std::unique_ptr<CPoller> CPoller::create(Kind) { return makeWsaPollPoller(); }
