#include "port/port_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "port/port_check_texts.h"
#include "relay/endpoint_text.h"
#include "relay/ip_text.h"
#include "relay/platform/socket.h"
#include "settings/limits.h"
#include "settings/profile_keys.h"

namespace {

// The longest name the name system can carry.
constexpr size_t kMaxHostNameLength = 253;

// One of the texts' printf formats filled in, however long the values.
template <class... Args>
std::string formatted(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length < 0) return format;  // never for these formats; no huge allocation if it were
  std::string text(size_t(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

// ASCII letters compared without case, as names are.
bool sameLetters(const std::string& a, const char* b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [&](char x, char y) { return lower(x) == lower(y); });
}

// What the panel lets pass but a server cannot honour; empty when nothing.
std::string unusableSetting(const CPortSetting& s) {
  if (s.forwardHost.empty()) return kNoDestinationHost;
  if (s.forwardHost.size() > kMaxHostNameLength) return formatted(kHostTooLong, s.forwardHost.size(), kMaxHostNameLength);
  if (s.isListenBind && !isDottedIPv4(s.ipListenBind))
    return formatted(kNotAnAddress, "IPLISTENBIND", s.ipListenBind.c_str());
  if (s.isConnectBind && !isDottedIPv4(s.ipConnectBind))
    return formatted(kNotAnAddress, "IPCONNECTBIND", s.ipConnectBind.c_str());
  // An unknown mode admits every caller; a server fails closed instead.
  if (s.filter.mode < CIpFilter::FILTER_ALL || s.filter.mode > CIpFilter::FILTER_INDIVIDUAL)
    return formatted(kNotAFilterMode, s.filter.mode);
  return std::string();
}

// The IPv4 address a destination names without a lookup: a dotted literal,
// "localhost", or an IPv4-mapped IPv6 literal.
bool destinationAddress(const std::string& host, in_addr& out) {
  if (sameLetters(host, "localhost") || sameLetters(host, "localhost."))
    return parseDottedIPv4("127.0.0.1", out);
  sockaddr_in6 v6{};
  if (parseDottedIPv4(host.c_str(), out)) return true;
  if (!parseIPv6Literal(host, v6) || !IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) return false;
  std::memcpy(&out, &v6.sin6_addr.s6_addr[12], sizeof out);
  return true;
}

// Whether a connect to address reaches a listener of this setting. A
// connect to the wildcard address goes to the loopback one, and a listener
// bound to the wildcard address listens on every address.
bool reachesListener(in_addr address, const CPortSetting& listener) {
  const uint32_t to = ntohl(address.s_addr) == INADDR_ANY ? INADDR_LOOPBACK : ntohl(address.s_addr);
  in_addr bound{};
  if (listener.isListenBind && parseDottedIPv4(listener.ipListenBind.c_str(), bound) &&
      ntohl(bound.s_addr) != INADDR_ANY)
    return ntohl(bound.s_addr) == to;
  char dotted[INET_ADDRSTRLEN];
  in_addr target{};
  target.s_addr = htonl(to);
  return (to >> 24) == 127 || (inet_ntop(AF_INET, &target, dotted, sizeof dotted) && isLocalAddress(dotted));
}

// How a timeout key's text reads when it is not a number of seconds the
// relay takes; nothing for an absent key or a usable one.
std::optional<std::string> timeoutWarning(const CProfile& profile, const std::string& section, const char* key) {
  const std::optional<std::string> text = profile.findValue(section, key);
  if (!text) return std::nullopt;
  const int value = profile.getInt(section, key, 0);
  const bool digits = !text->empty() && text->find_first_not_of("0123456789") == std::string::npos;
  if (digits && value <= MAX_TIMEOUT_SECONDS) return std::nullopt;
  const int read = boundedTimeoutSeconds(value);
  return digits ? formatted(kTimeoutTooLong, key, text->c_str(), MAX_TIMEOUT_SECONDS, read)
                : formatted(kTimeoutNotANumber, key, text->c_str(), read, read == 0 ? " (off)" : "");
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
  return reason.empty() ? reason : formatted(kNotStarted, reason.c_str());
}

std::string serverWarning(const CPortSetting& s) {
  if (!s.isConnectBind || isLocalAddress(s.ipConnectBind)) return std::string();
  return formatted(kConnectBindMissing, s.ipConnectBind.c_str());
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
  const std::string destination = endpointText(s.forwardHost, s.forwardPort);
  if (other == index) return formatted(kLoopToItself, destination.c_str());
  return formatted(kLoopToPort, portSectionName(other).c_str(), destination.c_str());
}

std::vector<std::string> timeoutWarnings(const CProfile& profile, int portIndex) {
  std::vector<std::string> lines;
  const std::string section = portSectionName(portIndex);
  forEachKey(kPortKeys, [&](const auto& key) {
    if constexpr (requires { key.bound; }) {
      if (key.bound != CKeyBound::Seconds) return;
      if (std::optional<std::string> line = timeoutWarning(profile, section, key.name)) lines.push_back(*line);
    }
  });
  return lines;
}

bool isLocalAddress(const std::string& dottedAddress) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (!parseDottedIPv4(dottedAddress.c_str(), sa.sin_addr)) return false;
  // Cannot tell: let the connects say.
  return platform::checkLocalAddress(reinterpret_cast<sockaddr*>(&sa), sizeof sa) != platform::CAddressCheck::NotLocal;
}
