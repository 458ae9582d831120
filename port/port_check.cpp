#include "port/port_check.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include "relay/async_socket.h"
#include "relay/ip_text.h"
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

}  // namespace

bool isUsablePort(int port) { return port >= 1 && port <= MAX_PORT_NUMBER; }

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
