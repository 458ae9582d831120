#include "port/port_check.h"

#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <cstring>

#include "relay/ip_text.h"
#include "relay/limits.h"
#include "relay/unique_fd.h"

namespace {

constexpr const char* kListenPortInvalid = "Listenポートが無効な設定です";
constexpr const char* kForwardPortInvalid = "転送先ポート番号が無効な設定です";
// The longest name the name system can carry.
constexpr size_t kMaxHostNameLength = 253;

std::string notAnAddress(const char* key, const std::string& value) {
  return std::string(key) + "=\"" + value + "\" is not a dotted IPv4 address";
}

// What the panel lets pass but a server cannot honour; empty when nothing.
std::string unusableSetting(const CPortSetting& s) {
  if (s.forwardHost.empty()) return "ON, but no destination host is set";
  if (s.forwardHost.size() > kMaxHostNameLength)
    return "FORWARDHOST is " + std::to_string(s.forwardHost.size()) + " bytes long; a host name has at most " +
           std::to_string(kMaxHostNameLength);
  if (s.isListenBind && !isDottedIPv4(s.ipListenBind)) return notAnAddress("IPLISTENBIND", s.ipListenBind);
  if (s.isConnectBind && !isDottedIPv4(s.ipConnectBind)) return notAnAddress("IPCONNECTBIND", s.ipConnectBind);
  // An unknown mode admits every caller; a server fails closed instead.
  if (s.filter.mode < CIpFilter::FILTER_ALL || s.filter.mode > CIpFilter::FILTER_INDIVIDUAL)
    return "FILTERMODE=" + std::to_string(s.filter.mode) + " is not a filter mode (0 to 3)";
  return std::string();
}

// The IPv4 address a destination names without a lookup: a dotted literal,
// "localhost", or an IPv4-mapped IPv6 literal.
bool destinationAddress(const std::string& host, in_addr& out) {
  if (strcasecmp(host.c_str(), "localhost") == 0 || strcasecmp(host.c_str(), "localhost.") == 0)
    return parseDottedIPv4("127.0.0.1", out);
  sockaddr_in6 v6{};
  if (parseDottedIPv4(host.c_str(), out)) return true;
  if (!parseIPv6Literal(host, v6) || !IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) return false;
  std::memcpy(&out, &v6.sin6_addr.s6_addr[12], sizeof out);
  return true;
}

// Whether a connect to address reaches a listener of this setting. A
// connect to the wildcard address goes to the loopback one.
bool reachesListener(in_addr address, const CPortSetting& listener) {
  const uint32_t to = ntohl(address.s_addr) == INADDR_ANY ? INADDR_LOOPBACK : ntohl(address.s_addr);
  in_addr bound{};
  if (listener.isListenBind && parseDottedIPv4(listener.ipListenBind.c_str(), bound)) return ntohl(bound.s_addr) == to;
  char dotted[INET_ADDRSTRLEN];
  const in_addr target{htonl(to)};
  return (to >> 24) == 127 || (inet_ntop(AF_INET, &target, dotted, sizeof dotted) && isLocalAddress(dotted));
}

}  // namespace

const char* switchOnRefusal(int port, int forwardPort) {
  if (!isUsablePort(port)) return kListenPortInvalid;
  if (!isUsablePort(forwardPort)) return kForwardPortInvalid;
  return nullptr;
}

std::string serverRefusal(const CPortSetting& s) {
  if (const char* refusal = switchOnRefusal(s.port, s.forwardPort)) return refusal;
  std::string reason = unusableSetting(s);
  return reason.empty() ? reason : reason + ": not started";
}

std::string serverWarning(const CPortSetting& s) {
  if (!s.isConnectBind || isLocalAddress(s.ipConnectBind)) return std::string();
  return "IPCONNECTBIND=" + s.ipConnectBind +
         " is not an address of this machine now; connections will fail until it is";
}

int relayLoopTarget(const CPortSetting& s, const std::map<int, CPortSetting>& onPorts) {
  in_addr address{};
  if (!destinationAddress(s.forwardHost, address)) return -1;
  for (const auto& [other, listener] : onPorts)
    if (listener.port == s.forwardPort && reachesListener(address, listener)) return other;
  return -1;
}

std::string relayLoopRefusal(int index, const CPortSetting& s, const std::map<int, CPortSetting>& onPorts) {
  const int other = relayLoopTarget(s, onPorts);
  if (other < 0) return std::string();
  const std::string destination = s.forwardHost + ":" + std::to_string(s.forwardPort);
  return (other == index ? "relays to its own listening port (" + destination
                         : "relays to the listening port of " + portSectionName(other) + " (" + destination) +
         "), a loop: not started";
}

bool isLocalAddress(const std::string& dottedAddress) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (!parseDottedIPv4(dottedAddress.c_str(), sa.sin_addr)) return false;
  CUniqueFd probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!probe) return true;  // cannot tell; let the connects say
  int one = 1;
  // Checks the address without taking a port.
  setsockopt(probe.get(), IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  return bind(probe.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}
