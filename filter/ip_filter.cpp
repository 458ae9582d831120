#include "filter/ip_filter.h"

#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// masks[n] has the n most significant bits set. A table, because shifting a
// 32-bit value by 32 is undefined and /0 and /32 must both be exact.
constexpr std::array<uint32_t, 33> makeMasks() {
  std::array<uint32_t, 33> masks{};
  for (int n = 1; n <= 32; ++n) masks[n] = masks[n - 1] | (0x80000000u >> (n - 1));
  return masks;
}
constexpr std::array<uint32_t, 33> kMasks = makeMasks();
static_assert(kMasks[0] == 0u && kMasks[8] == 0xFF000000u && kMasks[24] == 0xFFFFFF00u &&
              kMasks[32] == 0xFFFFFFFFu);

// Digits only; an empty text is 0. Leading zeros are decimal, never octal.
// Stops as soon as the value passes `limit`, so no digit run can overflow.
bool readNumber(const std::string& text, uint32_t limit, uint32_t& value) {
  uint32_t v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + static_cast<uint32_t>(ch - '0');
    if (v > limit) return false;
  }
  value = v;
  return true;
}

bool splitAddress(const std::string& text, uint8_t parts[4]) {
  const size_t p1 = text.find('.');
  if (p1 == std::string::npos || p1 + 1 >= text.size()) return false;
  const size_t p2 = text.find('.', p1 + 1);
  if (p2 == std::string::npos || p2 + 1 >= text.size()) return false;
  const size_t p3 = text.find('.', p2 + 1);
  if (p3 == std::string::npos) return false;
  // The last part keeps any further dots; readNumber then refuses it.
  const std::string pieces[4] = {text.substr(0, p1), text.substr(p1 + 1, p2 - p1 - 1),
                                 text.substr(p2 + 1, p3 - p2 - 1), text.substr(p3 + 1)};
  uint32_t values[4];
  for (int i = 0; i < 4; ++i)
    if (!readNumber(pieces[i], 255, values[i])) return false;
  for (int i = 0; i < 4; ++i) parts[i] = static_cast<uint8_t>(values[i]);
  return true;
}

uint32_t toValue(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | uint32_t{d};
}

bool validIndex(int index) { return index >= 0 && index < MAX_FILTER_ENTRIES; }

using Bytes16 = std::array<uint8_t, 16>;

int hexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// One group of one to four hexadecimal digits.
bool readGroup(std::string_view text, uint16_t& group) {
  if (text.empty() || text.size() > 4) return false;
  group = 0;
  for (char ch : text) {
    const int digit = hexDigit(ch);
    if (digit < 0) return false;
    group = uint16_t(group * 16 + digit);
  }
  return true;
}

// Groups separated by single colons; a dotted IPv4 address may end them
// (two groups' worth). The 16-bit values, in order.
bool readGroups(std::string_view text, std::vector<uint16_t>& groups) {
  if (text.empty()) return true;
  for (size_t start = 0;;) {
    const size_t colon = text.find(':', start);
    const std::string_view piece = text.substr(start, colon == std::string_view::npos ? colon : colon - start);
    if (colon == std::string_view::npos && piece.find('.') != std::string_view::npos) {
      uint32_t parts[4];
      size_t at = 0;
      for (int i = 0; i < 4; ++i) {
        const size_t dot = i < 3 ? piece.find('.', at) : piece.size();
        if (dot == std::string_view::npos || dot == at ||
            !readNumber(std::string(piece.substr(at, dot - at)), 255, parts[i]))
          return false;
        at = dot + 1;
      }
      groups.push_back(uint16_t(parts[0] << 8 | parts[1]));
      groups.push_back(uint16_t(parts[2] << 8 | parts[3]));
      return true;
    }
    uint16_t group;
    if (!readGroup(piece, group)) return false;
    groups.push_back(group);
    if (colon == std::string_view::npos) return true;
    start = colon + 1;
  }
}

// An IPv6 address in any of its text forms ("::" at most once), no scope.
bool parseIPv6(std::string_view text, Bytes16& out) {
  out = {};
  const size_t gap = text.find("::");
  std::vector<uint16_t> head, tail;
  if (gap == std::string_view::npos) {
    if (!readGroups(text, head) || head.size() != 8) return false;
  } else {
    if (text.find("::", gap + 1) != std::string_view::npos) return false;
    if (!readGroups(text.substr(0, gap), head) || !readGroups(text.substr(gap + 2), tail)) return false;
    if (head.size() + tail.size() > 7) return false;
  }
  for (size_t i = 0; i < head.size(); ++i) out[2 * i] = uint8_t(head[i] >> 8), out[2 * i + 1] = uint8_t(head[i]);
  for (size_t i = 0; i < tail.size(); ++i) {
    const size_t at = 16 - 2 * (tail.size() - i);
    out[at] = uint8_t(tail[i] >> 8);
    out[at + 1] = uint8_t(tail[i]);
  }
  return true;
}

// Whether the first `prefix` bits of both are the same.
bool samePrefix(const uint8_t* a, const uint8_t* b, int prefix) {
  const int whole = prefix / 8, rest = prefix % 8;
  if (std::memcmp(a, b, size_t(whole)) != 0) return false;
  if (rest == 0) return true;
  const uint8_t mask = uint8_t(0xFF << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

bool inRange(const Bytes16& address, const char* network, int prefix) {
  Bytes16 bytes;
  parseIPv6(network, bytes);
  return samePrefix(address.data(), bytes.data(), prefix);
}

// ::ffff:a.b.c.d, the form an IPv4 caller of a dual-stack listener has.
bool isMappedIPv4(const Bytes16& address) {
  static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(address.data(), kMapped, sizeof kMapped) == 0;
}

std::string dotted(const uint8_t* bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
         std::to_string(bytes[3]);
}

}  // namespace

int CIpFilter::checkAddress(const std::string& address) const {
  if (address.find(':') != std::string::npos) {
    Bytes16 bytes;
    const bool parsed = parseIPv6(address, bytes);
    if (!parsed || !isMappedIPv4(bytes)) return parsed ? checkIPv6(bytes.data()) : checkIPv6(nullptr);
    return checkAddress(dotted(bytes.data() + 12));  // judged as the IPv4 address it is
  }
  switch (mode) {
    case FILTER_LOCALHOST:
      return isLocalhost(address) ? 1 : 0;
    case FILTER_LAN:
      return isLan(address) ? 1 : 0;
    case FILTER_INDIVIDUAL:
      return checkIndividual(address) ? 1 : 0;
    default:
      return 1;
  }
}

std::string CIpFilter::getEnableIp(int index) const {
  return validIndex(index) ? enableIp[index] : std::string();
}

std::string CIpFilter::getRefuseIp(int index) const {
  return validIndex(index) ? refuseIp[index] : std::string();
}

void CIpFilter::setEnableIp(int index, const std::string& text) {
  if (validIndex(index)) enableIp[index] = text;
}

void CIpFilter::setRefuseIp(int index, const std::string& text) {
  if (validIndex(index)) refuseIp[index] = text;
}

bool CIpFilter::parseEntry(const std::string& text, uint8_t& a, uint8_t& b, uint8_t& c, uint8_t& d,
                           int& prefix) {
  a = b = c = d = 0;
  prefix = 32;
  const size_t slash = text.find('/');
  uint8_t parts[4];
  if (!splitAddress(text.substr(0, slash), parts)) return false;
  uint32_t bits = 32;
  // A second '/' lands in the prefix text and fails the digits-only rule.
  if (slash != std::string::npos && !readNumber(text.substr(slash + 1), 32, bits)) return false;
  a = parts[0];
  b = parts[1];
  c = parts[2];
  d = parts[3];
  prefix = static_cast<int>(bits);
  return true;
}

bool CIpFilter::parseEntry6(const std::string& text, uint8_t bytes[16], int& prefix) {
  Bytes16 parsed{};
  std::memset(bytes, 0, 16);
  prefix = 128;
  const size_t slash = text.find('/');
  uint32_t bits = 128;
  if (!parseIPv6(std::string_view(text).substr(0, slash), parsed)) return false;
  if (slash != std::string::npos && (slash + 1 == text.size() || !readNumber(text.substr(slash + 1), 128, bits)))
    return false;
  std::memcpy(bytes, parsed.data(), 16);
  prefix = int(bits);
  return true;
}

// Null: a caller whose address is no address, which only "allow all" lets in.
int CIpFilter::checkIPv6(const uint8_t address[16]) const {
  if (mode < FILTER_LOCALHOST || mode > FILTER_INDIVIDUAL) return 1;
  if (!address) return 0;
  Bytes16 bytes;
  std::memcpy(bytes.data(), address, 16);
  switch (mode) {
    case FILTER_LOCALHOST:
      return inRange(bytes, "::1", 128) ? 1 : 0;
    case FILTER_LAN:
      return inRange(bytes, "fe80::", 10) || inRange(bytes, "fc00::", 7) || inRange(bytes, "::1", 128) ? 1 : 0;
    default:
      return checkIndividual6(address) ? 1 : 0;
  }
}

// As checkIndividual, with the IPv6 entries alone.
bool CIpFilter::checkIndividual6(const uint8_t address[16]) const {
  const auto matches = [address](const std::string& entry) {
    uint8_t bytes[16];
    int prefix;
    return parseEntry6(entry, bytes, prefix) && samePrefix(bytes, address, prefix);
  };
  bool allowed = false;
  for (int i = 0; i < boundedEntryCount(enableIpCount) && !allowed; ++i) allowed = matches(enableIp[i]);
  if (!allowed) return false;
  for (int i = 0; i < boundedEntryCount(refuseIpCount); ++i)
    if (matches(refuseIp[i])) return false;
  return true;
}

bool CIpFilter::isLocalhost(const std::string& address) {
  uint8_t p[4];
  return splitAddress(address, p) && p[0] == 127 && p[1] == 0 && p[2] == 0 && p[3] == 1;
}

bool CIpFilter::isLan(const std::string& address) {
  uint8_t p[4];
  if (!splitAddress(address, p)) return false;
  switch (p[0]) {
    case 10:
      return true;
    case 172:
      return p[1] >= 16 && p[1] <= 31;
    case 192:
      // 192.0.2.0/24, a documentation range, counts as LAN beside 192.168/16: kept.
      return p[1] == 168 || (p[1] == 0 && p[2] == 2);
    case 127:
      return true;
    default:
      return false;
  }
}

bool CIpFilter::matchEntry(const std::string& entry, const std::string& address) {
  uint8_t a, b, c, d;
  int prefix;
  if (!parseEntry(entry, a, b, c, d, prefix)) return false;
  const uint32_t mask = kMasks[prefix];
  const uint32_t entryValue = toValue(a, b, c, d);
  int ignoredPrefix;  // only the entry's prefix counts
  if (!parseEntry(address, a, b, c, d, ignoredPrefix)) return false;
  return (entryValue & mask) == (toValue(a, b, c, d) & mask);
}

bool CIpFilter::checkIndividual(const std::string& address) const {
  const int enableCount = boundedEntryCount(enableIpCount);
  bool allowed = false;
  for (int i = 0; i < enableCount && !allowed; ++i) allowed = matchEntry(enableIp[i], address);
  if (!allowed) return false;
  const int refuseCount = boundedEntryCount(refuseIpCount);
  for (int i = 0; i < refuseCount; ++i)
    if (matchEntry(refuseIp[i], address)) return false;
  return true;
}
