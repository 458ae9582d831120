#include "relay/own_endpoints.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "relay/ip_text.h"

namespace ownEndpoints {
namespace {

std::unordered_map<int, int> gListening;  // port -> how many repeaters listen on it
std::unordered_set<uint64_t> gOutgoing;

uint64_t keyOf(const in_addr& address, int port) { return (uint64_t(ntohl(address.s_addr)) << 16) | uint16_t(port); }

// An IPv4 address, also as IPv6 maps it: such a socket reaches IPv4 listeners.
bool ipv4Of(const std::string& text, in_addr& out) {
  if (parseDottedIPv4(text.c_str(), out)) return true;
  const std::string prefix = "::ffff:";
  return text.rfind(prefix, 0) == 0 && parseDottedIPv4(text.c_str() + prefix.size(), out);
}

}  // namespace

void addListeningPort(int port) { ++gListening[port]; }

void removeListeningPort(int port) {
  auto it = gListening.find(port);
  if (it != gListening.end() && --it->second == 0) gListening.erase(it);
}

bool isListeningPort(int port) { return gListening.count(port) != 0; }

uint64_t addOutgoing(CAsyncSocket& socket) {
  std::string address;
  unsigned port = 0;
  in_addr local{};
  if (!socket.GetSockName(address, port) || !ipv4Of(address, local)) return 0;
  const uint64_t key = keyOf(local, int(port));
  gOutgoing.insert(key);
  return key;
}

void removeOutgoing(uint64_t key) {
  if (key) gOutgoing.erase(key);
}

bool isOutgoing(const char* address, int port) {
  in_addr caller{};
  return !gOutgoing.empty() && parseDottedIPv4(address, caller) && gOutgoing.count(keyOf(caller, port));
}

}  // namespace ownEndpoints
