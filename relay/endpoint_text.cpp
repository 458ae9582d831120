#include "relay/endpoint_text.h"

std::string addressText(const std::string& host) {
  const bool bareIPv6 = host.find(':') != std::string::npos && host.front() != '[';
  return bareIPv6 ? "[" + host + "]" : host;
}

std::string endpointText(const std::string& host, int port) { return addressText(host) + ":" + std::to_string(port); }

std::string listenEndpointText(bool bound, const std::string& address, bool dualStack, int port) {
  if (bound) return endpointText(address, port);
  return dualStack ? endpointText("::", port) + " (IPv4 and IPv6)" : endpointText("0.0.0.0", port);
}
