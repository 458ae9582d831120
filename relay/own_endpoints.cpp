#include "relay/own_endpoints.h"

#include <array>
#include <chrono>
#include <cstring>
#include <deque>
#include <unordered_map>

#include "relay/ip_text.h"
#include "relay/platform/socket.h"

namespace {

// An address with its port; IPv4 is kept as IPv6 maps it, so an IPv6
// socket that reaches an IPv4 listener matches what that listener sees.
struct CEndpoint {
  std::array<uint8_t, 16> address{};
  uint16_t port = 0;
  bool operator==(const CEndpoint&) const = default;
};

struct CConnection {
  CEndpoint local, remote;
  bool operator==(const CConnection&) const = default;
};

uint64_t mix(uint64_t h, uint64_t v) { return (h ^ v) * 0x100000001b3ull; }

struct CHash {
  size_t operator()(const CEndpoint& e) const {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t byte : e.address) h = mix(h, byte);
    return size_t(mix(h, e.port));
  }
  size_t operator()(const CConnection& c) const { return (*this)(c.local) * 31 + (*this)(c.remote); }
};

struct CRecord {
  CConnection connection;
  bool released = false;
};

// How long a record outlives its pair: the relay accepts its own connection
// in a later turn of its loop, far sooner than this.
constexpr auto kReleasedLife = std::chrono::seconds(10);

bool endpointOf(const sockaddr_storage& sa, CEndpoint& out) {
  out = CEndpoint{};
  if (sa.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(sa);
    out.address[10] = out.address[11] = 0xff;
    std::memcpy(&out.address[12], &v4.sin_addr, 4);
    out.port = ntohs(v4.sin_port);
    return true;
  }
  if (sa.ss_family != AF_INET6) return false;
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(sa);
  std::memcpy(out.address.data(), &v6.sin6_addr, 16);
  out.port = ntohs(v6.sin6_port);
  return true;
}

bool endpointOf(const std::string& text, int port, CEndpoint& out) {
  sockaddr_storage sa{};
  auto& v4 = reinterpret_cast<sockaddr_in&>(sa);
  if (parseDottedIPv4(text.c_str(), v4.sin_addr))
    v4.sin_family = AF_INET;
  else if (!parseIPv6Literal(text, reinterpret_cast<sockaddr_in6&>(sa)))
    return false;
  if (!endpointOf(sa, out)) return false;
  out.port = uint16_t(port);
  return true;
}

const std::array<uint8_t, 16> kAny{};
const std::array<uint8_t, 16> kMappedAny{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 0};

bool isMapped(const CEndpoint& e) {
  static const uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return std::memcmp(e.address.data(), prefix, 12) == 0;
}

// A connect to the wildcard address goes to the loopback one.
CEndpoint connectedTo(CEndpoint e) {
  if (e.address == kMappedAny) e.address[12] = 127, e.address[15] = 1;
  if (e.address == kAny) e.address[15] = 1;
  return e;
}

bool isLoopback(const CEndpoint& e) {
  static const std::array<uint8_t, 16> v6Loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return isMapped(e) ? e.address[12] == 127 : e.address == v6Loopback;
}

// Whether this host has the address: it can be bound.
bool isHostAddress(const CEndpoint& e) {
  sockaddr_storage sa{};
  const socklen_t length = socketAddressOf(e.address.data(), sa);
  return platform::checkLocalAddress(reinterpret_cast<sockaddr*>(&sa), length) == platform::CAddressCheck::Local;
}

CEndpoint listenerEndpoint(const std::string& address, int port) {
  CEndpoint e;
  if (address.empty() || !endpointOf(address, port, e) || e.address == kMappedAny) e = CEndpoint{};
  e.port = uint16_t(port);
  return e;
}

}  // namespace

struct COwnEndpoints::CState {
  std::unordered_multimap<int, CEndpoint> listeners;  // by port; an all-zero address listens on every address
  std::unordered_map<uint64_t, CRecord> records;
  std::unordered_multimap<CConnection, uint64_t, CHash> byConnection;
  std::unordered_map<CEndpoint, int, CHash> localEnds;  // how many records have each local end
  std::deque<std::pair<std::chrono::steady_clock::time_point, uint64_t>> released;  // oldest first
  uint64_t nextKey = 1;

  // Whether a listener of the relay would accept a connection to `to`.
  bool reachesListener(const CEndpoint& to) {
    auto [first, last] = listeners.equal_range(to.port);
    bool wildcard = false;
    for (auto it = first; it != last; ++it) {
      if (it->second.address == to.address) return true;
      wildcard = wildcard || it->second.address == kAny;
    }
    return wildcard && (isLoopback(to) || isHostAddress(to));
  }

  void forget(std::unordered_map<uint64_t, CRecord>::iterator record) {
    const CConnection& c = record->second.connection;
    auto [first, last] = byConnection.equal_range(c);
    for (auto it = first; it != last; ++it)
      if (it->second == record->first) {
        byConnection.erase(it);
        break;
      }
    if (auto local = localEnds.find(c.local); local != localEnds.end() && --local->second == 0) localEnds.erase(local);
    records.erase(record);
  }

  void dropExpired() {
    const auto now = std::chrono::steady_clock::now();
    while (!released.empty() && now - released.front().first >= kReleasedLife) {
      if (auto record = records.find(released.front().second); record != records.end()) forget(record);
      released.pop_front();
    }
  }
};

COwnEndpoints::COwnEndpoints() : state_(std::make_unique<CState>()) {}
COwnEndpoints::~COwnEndpoints() = default;

void COwnEndpoints::addListener(const std::string& address, int port) {
  state_->listeners.emplace(port, listenerEndpoint(address, port));
}

void COwnEndpoints::removeListener(const std::string& address, int port) {
  const CEndpoint e = listenerEndpoint(address, port);
  auto [first, last] = state_->listeners.equal_range(port);
  for (auto it = first; it != last; ++it)
    if (it->second == e) {
      state_->listeners.erase(it);
      return;
    }
}

bool COwnEndpoints::isListeningPort(int port) const { return state_->listeners.count(port) != 0; }

uint64_t COwnEndpoints::addOutgoing(CAsyncSocket& socket, const std::string& destination, int port) {
  state_->dropExpired();
  CConnection c;
  sockaddr_storage local{};
  if (!endpointOf(destination, port, c.remote) || !state_->reachesListener(c.remote = connectedTo(c.remote)) ||
      !socket.localSockAddr(local) || !endpointOf(local, c.local))
    return 0;
  const uint64_t key = state_->nextKey++;
  state_->records.emplace(key, CRecord{c});
  state_->byConnection.emplace(c, key);
  ++state_->localEnds[c.local];
  return key;
}

void COwnEndpoints::releaseOutgoing(uint64_t key) {
  auto record = state_->records.find(key);
  if (record == state_->records.end() || record->second.released) return;
  record->second.released = true;
  state_->released.emplace_back(std::chrono::steady_clock::now(), key);
  state_->dropExpired();
}

bool COwnEndpoints::isOutgoing(CAsyncSocket& accepted) {
  if (state_->records.empty()) return false;
  CConnection c;
  sockaddr_storage caller{}, local{};
  // Only a caller whose address and port are a recorded local end costs a look at its local end.
  if (!accepted.peerSockAddr(caller) || !endpointOf(caller, c.local) || !state_->localEnds.count(c.local) ||
      !accepted.localSockAddr(local) || !endpointOf(local, c.remote))
    return false;
  auto match = state_->byConnection.find(c);
  if (match == state_->byConnection.end()) return false;
  state_->forget(state_->records.find(match->second));
  return true;
}

