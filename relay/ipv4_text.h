#pragma once
// Dotted IPv4 text, the one form addresses take in settings, the filter and
// traces. Only a literal a.b.c.d counts: no name is ever looked up for it.

#include <arpa/inet.h>

#include <string>

inline bool parseDottedIPv4(const char* text, in_addr& out) { return inet_pton(AF_INET, text, &out) == 1; }

inline bool isDottedIPv4(const std::string& text) {
  in_addr address{};
  return parseDottedIPv4(text.c_str(), address);
}
