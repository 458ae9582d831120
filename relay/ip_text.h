#pragma once
// Address literals as settings and traces write them: dotted IPv4 text (the
// one form of callers, listeners, bind addresses and the filter), and an
// IPv6 destination, bare or in brackets. No name is ever looked up here.

#include <cstdint>
#include <cstring>
#include <string>

#include "relay/platform/net.h"

inline bool parseDottedIPv4(const char* text, in_addr& out) { return inet_pton(AF_INET, text, &out) == 1; }

inline bool isDottedIPv4(const std::string& text) {
  in_addr address{};
  return parseDottedIPv4(text.c_str(), address);
}

// "::1", "[::1]", or with a scope, a number or an interface's name, for any
// address: "fe80::1%eth0", "[fe80::1%2]", "::1%lo". Numeric parsing only: no
// name is ever looked up, so nothing here blocks.
inline bool parseIPv6Literal(const std::string& text, sockaddr_in6& out) {
  const bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
  const std::string bare = bracketed ? text.substr(1, text.size() - 2) : text;
  const size_t percent = bare.find('%');
  out = sockaddr_in6{};
  out.sin6_family = AF_INET6;
  if (inet_pton(AF_INET6, bare.substr(0, percent).c_str(), &out.sin6_addr) != 1) return false;
  if (percent == std::string::npos) return true;
  const std::string scope = bare.substr(percent + 1);
  if (scope.empty() || scope.size() > IF_NAMESIZE) return false;
  if (scope.find_first_not_of("0123456789") == std::string::npos) {
    const unsigned long long index = std::stoull(scope);
    out.sin6_scope_id = uint32_t(index);
    return index <= 0xffffffffull;
  }
  out.sin6_scope_id = if_nametoindex(scope.c_str());
  return out.sin6_scope_id != 0;
}

// The literal as a connect takes it, without brackets and with its scope,
// or empty when the text is no IPv6 literal.
inline std::string bareIPv6Literal(const std::string& text) {
  sockaddr_in6 address{};
  if (!parseIPv6Literal(text, address)) return std::string();
  char bare[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, &address.sin6_addr, bare, sizeof bare)) return std::string();
  const size_t scope = text.find('%');
  if (scope == std::string::npos) return bare;
  return bare + text.substr(scope, text.size() - scope - (text.back() == ']' ? 1 : 0));
}

// An address kept as IPv6 keeps IPv4 as IPv6 maps it (::ffff:a.b.c.d);
// as a socket address (from its 16 bytes) it is of the family it stands
// for. The length.
inline socklen_t socketAddressOf(const uint8_t* address, sockaddr_storage& out) {
  static const uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  out = sockaddr_storage{};
  if (std::memcmp(address, kMappedPrefix, sizeof kMappedPrefix) == 0) {
    auto& v4 = reinterpret_cast<sockaddr_in&>(out);
    v4.sin_family = AF_INET;
    std::memcpy(&v4.sin_addr, &address[12], 4);
    return sizeof v4;
  }
  auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
  v6.sin6_family = AF_INET6;
  std::memcpy(&v6.sin6_addr, address, 16);
  return sizeof v6;
}
