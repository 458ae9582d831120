#pragma once
// Address literals as settings and traces write them: dotted IPv4 text (the
// one form of callers, listeners, bind addresses and the filter), and an
// IPv6 destination, bare or in brackets. No name is ever looked up here.

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <string>

inline bool parseDottedIPv4(const char* text, in_addr& out) { return inet_pton(AF_INET, text, &out) == 1; }

inline bool isDottedIPv4(const std::string& text) {
  in_addr address{};
  return parseDottedIPv4(text.c_str(), address);
}

// "::1", "[::1]", or with a scope: "fe80::1%eth0", "[fe80::1%2]". Numeric
// parsing only: no name is ever looked up, so nothing here blocks.
inline bool parseIPv6Literal(const std::string& text, sockaddr_in6& out) {
  const bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
  const std::string bare = bracketed ? text.substr(1, text.size() - 2) : text;
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (bare.empty() || getaddrinfo(bare.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  std::memcpy(&out, found->ai_addr, sizeof out);
  freeaddrinfo(found);
  return true;
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
