#include "filter/ip_filter.h"

#include <array>

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

}  // namespace

int CIpFilter::checkAddress(const std::string& address) const {
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
