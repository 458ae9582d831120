#pragma once
// The access filter of one port: decides whether an accepted caller's
// address may be relayed. Entries are kept as the user typed them and parsed
// again on every check, so what is stored is always what the user sees.
//
// IPv4 callers and entries follow the original rules exactly. An IPv6 caller
// (text with a colon) is judged by the same modes: localhost is ::1, the LAN
// is fe80::/10, fc00::/7 and ::1, and the lists may hold IPv6 entries; an
// IPv6 caller never matches an IPv4 entry, nor the reverse. An IPv4-mapped
// caller (::ffff:a.b.c.d) is judged as the IPv4 address it is.

#include <cstdint>
#include <string>

#include "settings/limits.h"

class CIpFilter {
 public:
  enum {
    FILTER_ALL = 0,
    FILTER_LOCALHOST = 1,
    FILTER_LAN = 2,
    FILTER_INDIVIDUAL = 3,
  };

  CIpFilter() = default;
  CIpFilter(const CIpFilter&) = default;
  CIpFilter& operator=(const CIpFilter&) = default;
  virtual ~CIpFilter() = default;

  // 1 = allow, 0 = refuse. Modes beyond FILTER_INDIVIDUAL allow everyone.
  int checkAddress(const std::string& address) const;

  // An index outside 0..MAX_FILTER_ENTRIES-1 reads as "" and is never stored.
  std::string getEnableIp(int index) const;
  std::string getRefuseIp(int index) const;
  void setEnableIp(int index, const std::string& text);
  void setRefuseIp(int index, const std::string& text);

  // Parses "a.b.c.d" or "a.b.c.d/n". On failure the outputs are 0.0.0.0/32.
  static bool parseEntry(const std::string& text, uint8_t& a, uint8_t& b, uint8_t& c, uint8_t& d,
                         int& prefix);
  // Parses an IPv6 entry, "2001:db8::1" or "2001:db8::/32" (the prefix 0 to
  // 128), in any of IPv6's text forms but with no scope. On failure the
  // outputs are ::/128.
  static bool parseEntry6(const std::string& text, uint8_t bytes[16], int& prefix);

  int mode = FILTER_ALL;
  // Counts may come from a hand-edited profile: every loop bounds them to
  // 0..MAX_FILTER_ENTRIES, so no slot beyond the tenth is ever touched.
  int enableIpCount = 0;
  int refuseIpCount = 0;
  std::string enableIp[MAX_FILTER_ENTRIES];
  std::string refuseIp[MAX_FILTER_ENTRIES];

 private:
  static bool isLocalhost(const std::string& address);
  static bool isLan(const std::string& address);
  static bool matchEntry(const std::string& entry, const std::string& address);
  bool checkIndividual(const std::string& address) const;
  int checkIPv6(const uint8_t address[16]) const;
  bool checkIndividual6(const uint8_t address[16]) const;
};
