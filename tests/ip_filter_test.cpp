#include "filter/ip_filter.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <tuple>
#include <regex>
#include <string>
#include <vector>

namespace {

CIpFilter individual(std::vector<std::string> allowed, std::vector<std::string> refused) {
  CIpFilter f;
  f.mode = CIpFilter::FILTER_INDIVIDUAL;
  f.enableIpCount = static_cast<int>(allowed.size());
  f.refuseIpCount = static_cast<int>(refused.size());
  for (size_t i = 0; i < allowed.size(); ++i) f.setEnableIp(static_cast<int>(i), allowed[i]);
  for (size_t i = 0; i < refused.size(); ++i) f.setRefuseIp(static_cast<int>(i), refused[i]);
  return f;
}

bool matches(const std::string& entry, const std::string& address) {
  return individual({entry}, {}).checkAddress(address) == 1;
}

TEST(IpFilterModes, AllowAllAndUnknownModesLetEveryoneIn) {
  for (int mode : {0, 4, 7, -1, 1000}) {
    CIpFilter f;
    f.mode = mode;
    for (const char* a : {"8.8.8.8", "127.0.0.1", "", "garbage", "1.2.3.4.5"})
      EXPECT_EQ(f.checkAddress(a), 1) << "mode " << mode << " address " << a;
  }
}

TEST(IpFilterModes, LocalhostAdmitsOnlyTheLoopbackAddress) {
  CIpFilter f;
  f.mode = CIpFilter::FILTER_LOCALHOST;
  EXPECT_EQ(f.checkAddress("127.0.0.1"), 1);
  EXPECT_EQ(f.checkAddress("127.000.0.001"), 1);
  for (const char* a : {"127.0.0.2", "192.168.0.1", "127.0.0.1/8", "127.0.0.1.", "", "127.0.0.1 "})
    EXPECT_EQ(f.checkAddress(a), 0) << a;
}

TEST(IpFilterModes, LanAdmitsPrivateDocumentationAndLoopbackRanges) {
  CIpFilter f;
  f.mode = CIpFilter::FILTER_LAN;
  for (const char* a : {"10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.5.5", "192.0.2.7",
                        "127.5.5.5", "10.0.0.0"})
    EXPECT_EQ(f.checkAddress(a), 1) << a;
  for (const char* a : {"172.15.0.1", "172.32.0.1", "192.0.3.1", "169.254.1.1", "8.8.8.8",
                        "192.169.0.1", "11.0.0.1", "10.0.0.256", "not.an.address.x"})
    EXPECT_EQ(f.checkAddress(a), 0) << a;
}

TEST(IpFilterModes, IndividualNeedsAnAllowedMatchAndNoRefusedMatch) {
  EXPECT_EQ(individual({}, {}).checkAddress("1.2.3.4"), 0);
  EXPECT_EQ(individual({}, {"9.9.9.9"}).checkAddress("1.2.3.4"), 0);

  const CIpFilter f = individual({"192.168.1.0/24"}, {"192.168.1.10"});
  EXPECT_EQ(f.checkAddress("192.168.1.10"), 0);  // refused list wins
  EXPECT_EQ(f.checkAddress("192.168.1.11"), 1);
  EXPECT_EQ(f.checkAddress("192.168.2.1"), 0);

  // A later allowed entry still counts after earlier ones fail to parse.
  EXPECT_EQ(individual({"bad", "1.2.3.4"}, {}).checkAddress("1.2.3.4"), 1);
}

TEST(IpFilterEntries, PrefixesMaskBothSidesExactly) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"10.0.0.5", "10.0.0.5", true}, {"10.0.0.5", "10.0.0.4", false},  // no slash means /32
      {"192.168.1.77/24", "192.168.1.0", true}, {"192.168.1.77/24", "192.168.1.255", true},
      {"192.168.1.77/24", "192.168.0.255", false}, {"1.2.3.4/32", "1.2.3.4", true},
      {"1.2.3.4/32", "1.2.3.5", false}, {"128.0.0.0/1", "200.1.1.1", true},
      {"128.0.0.0/1", "127.255.255.255", false},
      {"1.2.3.4/0", "0.0.0.0", true}, {"1.2.3.4/", "255.255.255.255", true}, {"1.2.3.4/000", "0.0.0.0", true},
      {"1.2.3.4/0", "255.255.255.255", true}, {"1.2.3.4/", "0.0.0.0", true}, {"1.2.3.4/000", "255.255.255.255", true},
      // The address's own prefix is ignored, but it must still parse.
      {"10.0.0.0/8", "10.9.9.9/30", true}, {"10.0.0.0/8", "10.9.9.9/33", false}};
  for (const auto& [entry, address, match] : cases) EXPECT_EQ(matches(entry, address), match) << entry << " " << address;
}

TEST(IpFilterEntries, MalformedEntriesNeverMatch) {
  for (const char* bad :
       {"1.2.3.4/33", "1.2.3.256", "1.2.3", "1.2.3.4.5", "1.2.3.4/2/4", " 1.2.3.4", "1.2.3.4 ",
        "a.b.c.d", "1.2.3.4/x", "4294967297.0.0.1", "1.2.3.99999999999999999999",
        "1.2.3.4/99999999999999999999", "", "1..", "\xEF\xBC\x91.2.3.4", "-1.2.3.4", "+1.2.3.4"}) {
    uint8_t a, b, c, d;
    int prefix;
    EXPECT_FALSE(CIpFilter::parseEntry(bad, a, b, c, d, prefix)) << bad;
    EXPECT_EQ(a | b | c | d, 0) << bad;  // a failed parse leaves 0.0.0.0/32
    EXPECT_EQ(prefix, 32) << bad;
    EXPECT_FALSE(matches(bad, "1.2.3.4")) << bad;
  }
}

TEST(IpFilterEntries, EmptyPartsAreZeroAndLeadingZerosAreDecimal) {
  uint8_t a, b, c, d;
  int prefix;
  ASSERT_TRUE(CIpFilter::parseEntry("10..0.1", a, b, c, d, prefix));
  EXPECT_EQ((std::vector<int>{a, b, c, d, prefix}), (std::vector<int>{10, 0, 0, 1, 32}));
  ASSERT_TRUE(CIpFilter::parseEntry("1.2.3./7", a, b, c, d, prefix));
  EXPECT_EQ((std::vector<int>{a, b, c, d, prefix}), (std::vector<int>{1, 2, 3, 0, 7}));
  ASSERT_TRUE(CIpFilter::parseEntry("010.0000000000000000255.0.08", a, b, c, d, prefix));
  EXPECT_EQ((std::vector<int>{a, b, c, d}), (std::vector<int>{10, 255, 0, 8}));
  ASSERT_TRUE(CIpFilter::parseEntry("...", a, b, c, d, prefix));
  EXPECT_EQ(a | b | c | d, 0);
}

TEST(IpFilterSlots, AccessorsIgnoreIndexesOutsideTheTenSlots) {
  CIpFilter f;
  for (int i : {-1, 10, 1000, -1000}) {
    f.setEnableIp(i, "x");
    f.setRefuseIp(i, "x");
    EXPECT_EQ(f.getEnableIp(i), "");
    EXPECT_EQ(f.getRefuseIp(i), "");
  }
  f.setEnableIp(9, "9.9.9.9");
  EXPECT_EQ(f.getEnableIp(9), "9.9.9.9");
  for (int i = 0; i < 9; ++i) EXPECT_EQ(f.getEnableIp(i), "");
}

TEST(IpFilterSlots, CountsBeyondTheListsAreBounded) {
  CIpFilter f = individual({}, {});
  for (int i = 0; i < MAX_FILTER_ENTRIES; ++i) f.setEnableIp(i, "0.0.0.0");
  f.setEnableIp(9, "5.5.5.5");
  f.enableIpCount = 1 << 30;
  f.refuseIpCount = 1 << 30;
  EXPECT_EQ(f.checkAddress("5.5.5.5"), 1);  // slot 9 is the last one walked
  f.refuseIpCount = -5;
  EXPECT_EQ(f.checkAddress("5.5.5.5"), 1);
  f.enableIpCount = -5;
  EXPECT_EQ(f.checkAddress("5.5.5.5"), 0);
}

// IPv6 callers by every mode, IPv6 entries beside IPv4 ones, and IPv4-mapped
// callers judged as the IPv4 address they are: one row per caller.
TEST(IpFilterIPv6, EachModeJudgesIPv6AndMappedCallers) {
  CIpFilter all, localhost, lan;
  localhost.mode = CIpFilter::FILTER_LOCALHOST;
  lan.mode = CIpFilter::FILTER_LAN;
  const CIpFilter lists =
      individual({"2001:db8::/32", "fe80::1", "192.168.0.0/16", "::ffff:10.0.0.0/104"}, {"2001:db8:0:bad::/64", "::/0x"});
  struct Row {
    const char* caller;
    int all, localhost, lan, lists;
  } rows[] = {
      {"::1", 1, 1, 1, 0},
      {"0:0:0:0:0:0:0:1", 1, 1, 1, 0},
      {"fe80::1", 1, 0, 1, 1},
      {"FE80::2", 1, 0, 1, 0},
      {"febf:ffff::1", 1, 0, 1, 0},
      {"fec0::1", 1, 0, 0, 0},
      {"fc00::5", 1, 0, 1, 0},
      {"fdff:1::1", 1, 0, 1, 0},
      {"2001:db8::7", 1, 0, 0, 1},
      {"2001:db8:0:bad::1", 1, 0, 0, 0},  // refused list wins
      {"2001:db9::1", 1, 0, 0, 0},
      {"::ffff:127.0.0.1", 1, 1, 1, 0},  // mapped: the IPv4 rules
      {"::ffff:7f00:1", 1, 1, 1, 0},
      {"::ffff:192.168.1.1", 1, 0, 1, 1},
      {"::ffff:10.1.1.1", 1, 0, 1, 0},  // an IPv6 entry never matches an IPv4 caller
      {"::127.0.0.1", 1, 0, 0, 0},      // not mapped: an IPv6 address
      {"1:2:3:4:5:6:7:8:9", 1, 0, 0, 0},
      {"1::2::3", 1, 0, 0, 0},
      {"fe80::1%eth0", 1, 0, 0, 0},
      {"12345::", 1, 0, 0, 0},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(all.checkAddress(r.caller), r.all) << r.caller;
    EXPECT_EQ(localhost.checkAddress(r.caller), r.localhost) << r.caller;
    EXPECT_EQ(lan.checkAddress(r.caller), r.lan) << r.caller;
    EXPECT_EQ(lists.checkAddress(r.caller), r.lists) << r.caller;
  }
  EXPECT_EQ(lists.checkAddress("192.168.3.3"), 1);  // the IPv4 entries as before
  EXPECT_EQ(lists.checkAddress("10.1.1.1"), 0);
}

TEST(IpFilterIPv6, EntriesParseInEveryTextFormWithPrefixesUpTo128) {
  uint8_t bytes[16];
  int prefix;
  for (const char* good : {"::", "::1", "2001:db8::/32", "2001:DB8:0:0:0:0:0:1/128", "::ffff:1.2.3.4", "1::/0"}) {
    EXPECT_TRUE(CIpFilter::parseEntry6(good, bytes, prefix)) << good;
  }
  EXPECT_TRUE(CIpFilter::parseEntry6("2001:db8::1/64", bytes, prefix));
  EXPECT_EQ(prefix, 64);
  EXPECT_EQ(bytes[0], 0x20);
  EXPECT_EQ(bytes[15], 1);
  for (const char* bad : {"", ":", ":::", "1:2:3:4:5:6:7:8:9", "::/129", "::/", "::/-1", "2001:db8::/3 2",
                          "fe80::1%1", "1.2.3.4", "::1.2.3", "::1.2.3.256", "g::", "1:2:3:4:5:6:7::8"}) {
    EXPECT_FALSE(CIpFilter::parseEntry6(bad, bytes, prefix)) << bad;
    EXPECT_EQ(prefix, 128) << bad;
  }
}

// ---- Differential test against a deliberately naive model ----

struct ModelEntry {
  uint32_t value;
  int prefix;
};

// Leading zeros stripped, then at most three digits: no arithmetic can overflow.
std::optional<uint32_t> modelNumber(const std::string& digits, uint32_t limit) {
  size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0u;
  if (digits.size() - first > 3) return std::nullopt;
  const uint32_t v = static_cast<uint32_t>(std::stoul(digits.substr(first)));
  if (v > limit) return std::nullopt;
  return v;
}

std::optional<ModelEntry> modelParse(const std::string& text, bool allowPrefix) {
  static const std::regex entry(R"(^([0-9]*)\.([0-9]*)\.([0-9]*)\.([0-9]*)(/([0-9]*))?$)");
  std::smatch m;
  if (!std::regex_match(text, m, entry)) return std::nullopt;
  if (m[5].matched && !allowPrefix) return std::nullopt;
  uint32_t value = 0;
  for (int i = 1; i <= 4; ++i) {
    auto part = modelNumber(m[i].str(), 255);
    if (!part) return std::nullopt;
    value = value * 256 + *part;
  }
  int prefix = 32;
  if (m[5].matched) {
    auto p = modelNumber(m[6].str(), 32);
    if (!p) return std::nullopt;
    prefix = static_cast<int>(*p);
  }
  return ModelEntry{value, prefix};
}

bool modelMatch(const std::string& entry, const std::string& address) {
  auto e = modelParse(entry, true);
  auto a = modelParse(address, true);
  if (!e || !a) return false;
  const uint64_t hostSize = uint64_t{1} << (32 - e->prefix);
  return e->value / hostSize == a->value / hostSize;
}

int modelCheck(const CIpFilter& f, const std::string& address) {
  auto plain = modelParse(address, false);
  const uint32_t v = plain ? plain->value : 0;
  const uint32_t a = v >> 24, b = (v >> 16) & 255, c = (v >> 8) & 255;
  switch (f.mode) {
    case 1:
      return plain && v == 0x7F000001u;
    case 2:
      return plain && (a == 10 || a == 127 || (a == 172 && b >= 16 && b <= 31) ||
                       (a == 192 && b == 168) || (a == 192 && b == 0 && c == 2));
    case 3: {
      bool allowed = false;
      for (int i = 0; i < 10 && i < f.enableIpCount; ++i)
        allowed = allowed || modelMatch(f.enableIp[i], address);
      for (int i = 0; i < 10 && i < f.refuseIpCount; ++i)
        allowed = allowed && !modelMatch(f.refuseIp[i], address);
      return allowed;
    }
    default:
      return 1;
  }
}

const std::vector<std::string> kParts = {
    "", "0", "00", "010", "1", "7", "10", "127", "168", "172", "192", "255", "256", "0255",
    "00000000000000000000001", "4294967296", "99999999999999999999", " 1", "1 ", "a", "1a", "\xEF\xBC\x91",
    "-1", "+1", "0x1", "1.", ".1"};
const std::vector<std::string> kPrefixes = {"", "/", "/0", "/1", "/8", "/24", "/31", "/32", "/33", "/032",
                                            "/00000000000032", "/4294967296", "/ 8", "/8 ", "/a", "/2/4", "//",
                                            "/-1", "/\xEF\xBC\x98"};

std::string pick(std::mt19937& rng, const std::vector<std::string>& from) {
  return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)];
}

std::string grammarText(std::mt19937& rng) {
  std::string t = pick(rng, kParts);
  for (int i = 0; i < 3; ++i) t += "." + pick(rng, kParts);
  if (rng() % 2) t += pick(rng, kPrefixes);
  return t;
}

std::string randomText(std::mt19937& rng) {
  static const std::string alphabet = "0123456789./ 0123456789...//x-";
  std::string t(rng() % 20, ' ');
  for (char& ch : t) ch = alphabet[rng() % alphabet.size()];
  return t;
}

std::string randomAddress(std::mt19937& rng) {
  // Mostly within the ranges the modes and entries care about, so matches happen.
  static const int firsts[] = {10, 127, 172, 192, 1, 0, 255, 169};
  std::string t = std::to_string(firsts[rng() % 8]);
  for (int i = 0; i < 3; ++i) t += "." + std::to_string(rng() % 4 == 0 ? rng() % 256 : rng() % 40);
  return t;
}

TEST(IpFilterDifferential, ParseEntryAgreesWithTheModelOnTheGrammar) {
  std::mt19937 rng(12345);
  std::vector<std::string> texts;
  for (const auto& p : kParts)  // every tricky piece in every position
    for (int pos = 0; pos < 4; ++pos) {
      std::string t;
      for (int i = 0; i < 4; ++i) t += (i ? "." : "") + (i == pos ? p : std::string("1"));
      for (const auto& prefix : kPrefixes) texts.push_back(t + prefix);
      texts.push_back(t);
    }
  for (int i = 0; i < 20000; ++i) texts.push_back(i % 2 ? grammarText(rng) : randomText(rng));

  for (const auto& text : texts) {
    uint8_t a, b, c, d;
    int prefix;
    const bool ok = CIpFilter::parseEntry(text, a, b, c, d, prefix);
    const auto model = modelParse(text, true);
    ASSERT_EQ(ok, model.has_value()) << "'" << text << "'";
    const uint32_t value = (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | d;
    ASSERT_EQ(value, model ? model->value : 0u) << text;
    ASSERT_EQ(prefix, model ? model->prefix : 32) << text;
  }
}

TEST(IpFilterDifferential, CheckAddressAgreesWithTheModelOnRandomFilters) {
  std::mt19937 rng(678);
  const int modes[] = {0, 1, 2, 3, 3, 3, 4, -1};
  int individualAllowed = 0, individualRefused = 0;
  for (int round = 0; round < 1200; ++round) {
    CIpFilter f;
    f.mode = modes[rng() % 8];
    f.enableIpCount = static_cast<int>(rng() % 14) - 2;
    f.refuseIpCount = static_cast<int>(rng() % 14) - 2;
    for (int i = 0; i < MAX_FILTER_ENTRIES; ++i) {
      f.enableIp[i] = rng() % 3 ? randomAddress(rng) + pick(rng, kPrefixes) : grammarText(rng);
      f.refuseIp[i] = rng() % 3 ? randomAddress(rng) + pick(rng, kPrefixes) : grammarText(rng);
    }
    for (int k = 0; k < 6; ++k) {
      const std::string address = k < 5 ? randomAddress(rng) : grammarText(rng);
      const int verdict = f.checkAddress(address);
      ASSERT_EQ(verdict, modelCheck(f, address)) << "mode " << f.mode << " address " << address;
      if (f.mode == 3) ++(verdict ? individualAllowed : individualRefused);
    }
  }
  // Both verdicts must be common, or the comparison proves little.
  EXPECT_GT(individualAllowed, 200);
  EXPECT_GT(individualRefused, 200);
}

}  // namespace
