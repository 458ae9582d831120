#pragma once
// Address literals as settings and traces write them: dotted IPv4 text (the
// one form of callers, listeners, bind addresses and the filter), and an
// IPv6 destination, bare or in brackets. No name is ever looked up here.

#include <arpa/inet.h>

#include <string>

inline bool parseDottedIPv4(const char* text, in_addr& out) { return inet_pton(AF_INET, text, &out) == 1; }

inline bool isDottedIPv4(const std::string& text) {
  in_addr address{};
  return parseDottedIPv4(text.c_str(), address);
}

// "::1" or "[::1]".
inline bool parseIPv6Literal(const std::string& text, in6_addr& out) {
  const bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
  const std::string bare = bracketed ? text.substr(1, text.size() - 2) : text;
  return inet_pton(AF_INET6, bare.c_str(), &out) == 1;
}

// The literal without brackets, or empty when the text is no IPv6 literal.
inline std::string bareIPv6Literal(const std::string& text) {
  in6_addr address{};
  if (!parseIPv6Literal(text, address)) return std::string();
  char bare[INET6_ADDRSTRLEN];
  return inet_ntop(AF_INET6, &address, bare, sizeof bare) ? std::string(bare) : std::string();
}
