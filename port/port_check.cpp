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

// An IPv4 or IPv6 literal's family, 0 for anything else (a name, no address).
int familyOf(const std::string& text) {
  sockaddr_in6 v6{};
  if (isDottedIPv4(text)) return AF_INET;
  return parseIPv6Literal(text, v6) ? AF_INET6 : 0;
}

const char* familyName(int family) { return family == AF_INET6 ? "IPv6" : "IPv4"; }

// An outgoing bind of one family cannot reach a literal destination of the
// other: a line saying so, or empty. A name's family is known only once it
// is looked up.
std::string bindThatCannotReach(const CPortSetting& s) {
  const int bind = familyOf(s.ipConnectBind), destination = familyOf(s.forwardHost);
  if (!s.isConnectBind || destination == 0 || bind == destination) return std::string();
  return formatted(kBindCannotReach, s.ipConnectBind.c_str(), familyName(bind), s.forwardHost.c_str(),
                   familyName(destination));
}

// What the panel lets pass but a server cannot honour; empty when nothing.
std::string unusableSetting(const CPortSetting& s) {
  if (s.forwardHost.empty()) return kNoDestinationHost;
  if (s.forwardHost.size() > kMaxHostNameLength) return formatted(kHostTooLong, s.forwardHost.size(), kMaxHostNameLength);
  if (s.isListenBind && familyOf(s.ipListenBind) == 0)
    return formatted(kNotAnAddress, "IPLISTENBIND", s.ipListenBind.c_str());
  if (s.isConnectBind && familyOf(s.ipConnectBind) == 0)
    return formatted(kNotAnAddress, "IPCONNECTBIND", s.ipConnectBind.c_str());
  if (std::string line = bindThatCannotReach(s); !line.empty()) return line;
  // An unknown mode admits every caller; a server fails closed instead.
  if (s.filter.mode < CIpFilter::FILTER_ALL || s.filter.mode > CIpFilter::FILTER_INDIVIDUAL)
    return formatted(kNotAFilterMode, s.filter.mode);
  return std::string();
}

// The address a destination names without a lookup: a dotted literal or
// "localhost" (as IPv4-mapped), or an IPv6 literal.
bool destinationAddress(const std::string& host, in6_addr& out) {
  sockaddr_in6 v6{};
  in_addr v4{};
  const bool local = sameLetters(host, "localhost") || sameLetters(host, "localhost.");
  if (parseDottedIPv4(local ? "127.0.0.1" : host.c_str(), v4)) {
    out = in6_addr{};
    out.s6_addr[10] = out.s6_addr[11] = 0xff;
    std::memcpy(&out.s6_addr[12], &v4, sizeof v4);
    return true;
  }
  if (!parseIPv6Literal(host, v6)) return false;
  out = v6.sin6_addr;
  return true;
}

bool isMapped(const in6_addr& a) { return IN6_IS_ADDR_V4MAPPED(&a); }

// The wildcard address of either family.
bool isWildcard(const in6_addr& a) {
  static const uint8_t kZero[4] = {};
  return IN6_IS_ADDR_UNSPECIFIED(&a) || (isMapped(a) && std::memcmp(&a.s6_addr[12], kZero, 4) == 0);
}

// A connect to the wildcard address of a family goes to its loopback one.
in6_addr connectedTo(in6_addr to) {
  if (!isWildcard(to)) return to;
  if (isMapped(to))
    to.s6_addr[12] = 127, to.s6_addr[15] = 1;
  else
    to.s6_addr[15] = 1;
  return to;
}

bool isLoopback(const in6_addr& a) { return isMapped(a) ? a.s6_addr[12] == 127 : IN6_IS_ADDR_LOOPBACK(&a) != 0; }

// Whether this host has the address; cannot tell counts as yes: let the connects say.
bool isHostAddress(const in6_addr& a) {
  sockaddr_storage sa{};
  const socklen_t length = socketAddressOf(a.s6_addr, sa);
  return platform::checkLocalAddress(reinterpret_cast<sockaddr*>(&sa), length) != platform::CAddressCheck::NotLocal;
}

// Whether a connect to the destination reaches a listener of this setting.
// A listener bound to a wildcard address listens on every address of its
// family (of both, with LISTENDUAL), one bound to an address on it alone.
bool reachesListener(const in6_addr& destination, const CPortSetting& listener) {
  const in6_addr to = connectedTo(destination);
  bool v4 = true, v6 = listener.listenDual == 1;
  if (listener.isListenBind) {
    in6_addr bound{};
    if (!destinationAddress(listener.ipListenBind, bound)) return false;
    if (!isWildcard(bound)) return std::memcmp(&bound, &to, sizeof to) == 0;
    v4 = isMapped(bound);
    v6 = !v4;
  }
  if (isMapped(to) ? !v4 : !v6) return false;
  return isLoopback(to) || isHostAddress(to);
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
  in6_addr bind{};
  if (!s.isConnectBind || !destinationAddress(s.ipConnectBind, bind) || isHostAddress(bind)) return std::string();
  return formatted(kConnectBindMissing, s.ipConnectBind.c_str());
}

int relayLoopTarget(const CPortSetting& s, const std::map<int, CPortSetting>& onPorts) {
  in6_addr address{};
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
