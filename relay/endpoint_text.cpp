#include "relay/endpoint_text.h"

std::string endpointText(const std::string& host, int port) {
  const bool bareIPv6 = host.find(':') != std::string::npos && host.front() != '[';
  return (bareIPv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}
