#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include "port/port_setting.h"
#include "port/profile_file.h"
#include "port/profile_location.h"
#include "relay/platform/paths.h"
#include "relay/trace.h"
#include "tests/loopback.h"
#include "tests/test_system.h"

namespace fs = std::filesystem;
using loopback::readFile;

namespace {

const std::string kDefaultSection =
    "[TCP-PORT0]\nACT=0\nPORT=0\nFORWARDHOST=127.0.0.1\nFORWARDPORT=0\nBUFFERSIZE=128\n"
    "ISLISTENBIND=0\nIPLISTENBIND=127.0.0.1\nISCONNECTBIND=0\nIPCONNECTBIND=127.0.0.1\n"
    "FILTERMODE=0\nENABLEIPCOUNT=0\nREFUSEIPCOUNT=0\n";

class ProfileFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }
  void TearDown() override {
    fs::permissions(dir, fs::perms::owner_all);  // so the directory can be removed
  }
  std::string traced() { return trace.text(); }
  loopback::TempDir temp;
  std::string dir = temp.path(), path = dir + "/Quillex.ini";
  // In memory, so a file size limit set by a test cannot cut the trace.
  loopback::TraceCapture trace;
};

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

CPortSetting fullSetting() {
  CPortSetting s;
  s.act = 1;
  s.port = 8080;
  s.forwardHost = "サーバー.example";
  s.forwardPort = 65535;
  s.bufferSize = -7;
  s.isListenBind = 1;
  s.ipListenBind = "192.168.0.2";
  s.isConnectBind = 1;
  s.ipConnectBind = "10.0.0.3";
  s.filter.mode = 3;
  s.filter.enableIpCount = s.filter.refuseIpCount = MAX_FILTER_ENTRIES;
  for (int i = 0; i < MAX_FILTER_ENTRIES; ++i) {
    s.filter.enableIp[i] = "10.0." + std::to_string(i) + ".0/24";
    s.filter.refuseIp[i] = "10.0." + std::to_string(i) + ".9";
  }
  // IPv6 entries and addresses, in the forms users type them.
  s.filter.enableIp[7] = "2001:DB8::/32";
  s.filter.refuseIp[8] = "fe80::1";
  s.ipConnectBind = "[2001:db8::3]";
  return s;
}

// Every field; the lists slot by slot, also beyond the counts.
auto fields(const CPortSetting& s) {
  const CIpFilter& f = s.filter;
  return std::tuple(s.act, s.port, s.forwardHost, s.forwardPort, s.bufferSize, s.isListenBind, s.ipListenBind,
                    s.isConnectBind, s.ipConnectBind, f.mode, f.enableIpCount, f.refuseIpCount,
                    std::vector<std::string>(f.enableIp, f.enableIp + MAX_FILTER_ENTRIES),
                    std::vector<std::string>(f.refuseIp, f.refuseIp + MAX_FILTER_ENTRIES));
}

void expectSame(const CPortSetting& a, const CPortSetting& b) { EXPECT_EQ(fields(a), fields(b)); }

// The section's keys in the order the panel writes them, one call per key.
void writeKeyByKey(const std::string& path, const CPortSetting& s) {
  const auto n = [](int v) { return std::to_string(v); };
  const CIpFilter& f = s.filter;
  std::vector<std::pair<std::string, std::string>> keys = {
      {"ACT", n(s.act)}, {"PORT", n(s.port)}, {"FORWARDHOST", s.forwardHost}, {"FORWARDPORT", n(s.forwardPort)},
      {"BUFFERSIZE", n(s.bufferSize)}, {"ISLISTENBIND", n(s.isListenBind)}, {"IPLISTENBIND", s.ipListenBind},
      {"ISCONNECTBIND", n(s.isConnectBind)}, {"IPCONNECTBIND", s.ipConnectBind}, {"FILTERMODE", n(f.mode)},
      {"ENABLEIPCOUNT", n(f.enableIpCount)}};
  for (int i = 0; i < f.enableIpCount; ++i) keys.push_back({"ENABLEIP" + n(i), f.enableIp[i]});
  keys.push_back({"REFUSEIPCOUNT", n(f.refuseIpCount)});
  for (int i = 0; i < f.refuseIpCount; ++i) keys.push_back({"REFUSEIP" + n(i), f.refuseIp[i]});
  for (const auto& [key, value] : keys) ASSERT_TRUE(writeProfileString("TCP-PORT0", key, value, path)) << key;
}

TEST_F(ProfileFile, DefaultSectionInANewFileIsExactlyTheKnownText) {
  ASSERT_TRUE(savePortSetting(path, 0, loadPortSetting(path, 0)));
  EXPECT_EQ(readFile(path), kDefaultSection);
  ASSERT_TRUE(saveSystemSetting(path, loadSystemSetting(path)));
  EXPECT_EQ(readFile(path), kDefaultSection + "\n[SYSTEM]\nPORTNUM=1\nWINDOW=1\n");
}

TEST_F(ProfileFile, SectionWriteEqualsKeyByKeyWritesAndKeepsEverythingElse) {
  const std::string before =
      "; hand-written notes\r\n[other]\r\nACT=9\r\n\r\n[tcp-port0]\r\n  act = 5 \r\n"
      "UNKNOWN=keep me\r\nENABLEIP3=old\r\n\r\n[Tail]\r\nX=1";
  const std::string keyByKey = dir + "/key-by-key.ini";
  writeFile(path, before);
  writeFile(keyByKey, before);
  CPortSetting s = fullSetting();
  s.filter.enableIpCount = 2;
  for (int i = 2; i < MAX_FILTER_ENTRIES; ++i) s.filter.enableIp[i].clear();
  ASSERT_TRUE(savePortSetting(path, 0, s));
  writeKeyByKey(keyByKey, s);
  const std::string after = readFile(path);
  EXPECT_EQ(after, readFile(keyByKey));
  // Untouched lines, the stale entry and the CR LF style all survive.
  EXPECT_EQ(after.rfind("; hand-written notes\r\n[other]\r\nACT=9\r\n\r\n[tcp-port0]\r\nACT=1\r\n"
                        "UNKNOWN=keep me\r\nENABLEIP3=old\r\nPORT=8080\r\n",
                        0),
            0u)
      << after;
  EXPECT_NE(after.find("REFUSEIP9=10.0.9.9\r\n\r\n[Tail]\r\nX=1"), std::string::npos) << after;
  expectSame(loadPortSetting(path, 0), s);
}

TEST_F(ProfileFile, FullSettingRoundTripsAndShrunkListsLeaveIgnoredKeys) {
  const CPortSetting full = fullSetting();
  ASSERT_TRUE(savePortSetting(path, 3, full));
  expectSame(loadPortSetting(path, 3), full);

  CPortSetting shrunk = full;
  shrunk.filter.enableIpCount = 1;
  ASSERT_TRUE(savePortSetting(path, 3, shrunk));
  EXPECT_NE(readFile(path).find("ENABLEIP9=10.0.9.0/24\n"), std::string::npos);
  const CPortSetting read = loadPortSetting(path, 3);
  EXPECT_EQ(read.filter.enableIpCount, 1);
  EXPECT_EQ(read.filter.enableIp[1], "");
  EXPECT_EQ(read.filter.refuseIp[9], "10.0.9.9");
}

TEST_F(ProfileFile, MissingKeysGiveDefaultsAndCountsAreClamped) {
  std::string twelveEntries;
  for (int i = 0; i < 12; ++i)
    twelveEntries += "ENABLEIP" + std::to_string(i) + "=e" + std::to_string(i) + "\n";
  writeFile(path,
            "[TCP-PORT1]\nENABLEIPCOUNT=2\nENABLEIP0=1.2.3.4\n"
            "[TCP-PORT2]\nENABLEIPCOUNT=99\nREFUSEIPCOUNT=-4\nREFUSEIP0=x\n" +
                twelveEntries);
  const CPortSetting one = loadPortSetting(path, 1);
  EXPECT_EQ(one.filter.enableIpCount, 2);
  EXPECT_EQ(one.filter.enableIp[0], "1.2.3.4");
  EXPECT_EQ(one.filter.enableIp[1], "0.0.0.0");
  EXPECT_EQ(one.bufferSize, 128);
  EXPECT_EQ(one.forwardHost, "127.0.0.1");
  EXPECT_EQ(one.ipListenBind, "127.0.0.1");
  EXPECT_EQ(one.ipConnectBind, "127.0.0.1");

  const CPortSetting two = loadPortSetting(path, 2);
  EXPECT_EQ(two.filter.enableIpCount, 10);
  EXPECT_EQ(two.filter.enableIp[9], "e9");
  EXPECT_EQ(two.filter.refuseIpCount, 0);
  EXPECT_EQ(two.filter.refuseIp[0], "");

  const CSystemSetting none = loadSystemSetting(dir + "/absent.ini");
  EXPECT_EQ(none.portNum, 1);
  EXPECT_EQ(none.window, 1);
}

// The keys the dialogs never edit: read, bounded, and kept as they stand
// when the section is written; absent, nothing of them is written.
TEST_F(ProfileFile, OptionalKeysAreReadBoundedAndNeverWritten) {
  const std::string section =
      "[TCP-PORT0]\nHALFCLOSE=2\nCONNECTTIMEOUT=-5\nIDLETIMEOUT=300\nKEEPALIVE=99999999\nLISTENDUAL=7\n"
      "[TCP-PORT1]\nHALFCLOSE=1\nCONNECTTIMEOUT=10\nLISTENDUAL=1\n";
  writeFile(path, section);
  const CPortSetting zero = loadPortSetting(path, 0), one = loadPortSetting(path, 1);
  EXPECT_EQ(std::tie(zero.halfClose, zero.connectTimeout, zero.idleTimeout, zero.keepAlive, zero.listenDual),
            std::make_tuple(0, 0, 300, MAX_TIMEOUT_SECONDS, 0));
  EXPECT_EQ(std::tie(one.halfClose, one.connectTimeout, one.idleTimeout, one.keepAlive, one.listenDual),
            std::make_tuple(1, 10, 0, 0, 1));
  ASSERT_TRUE(savePortSetting(path, 0, zero));
  EXPECT_NE(readFile(path).find("HALFCLOSE=2\nCONNECTTIMEOUT=-5\nIDLETIMEOUT=300\nKEEPALIVE=99999999\nLISTENDUAL=7\n"),
            std::string::npos);
  ASSERT_TRUE(savePortSetting(path, 2, zero));
  const std::string written = readFile(path).substr(readFile(path).find("[TCP-PORT2]"));
  for (const char* key : {"HALFCLOSE", "CONNECTTIMEOUT", "IDLETIMEOUT", "KEEPALIVE", "LISTENDUAL"})
    EXPECT_EQ(written.find(key), std::string::npos) << key;
}

// LISTENDUAL, which the settings dialog edits, is written only when its
// value differs from what the file reads: switched on, and off again.
TEST_F(ProfileFile, ListenDualIsWrittenOnlyWhenChanged) {
  writeFile(path, "[TCP-PORT0]\nLISTENDUAL=7\n");
  CPortSetting s = loadPortSetting(path, 0);
  const auto line = [&] {
    const std::string text = readFile(path);
    const size_t at = text.find("LISTENDUAL=");
    return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
  };
  const std::pair<int, const char*> steps[] = {{0, "LISTENDUAL=7"}, {1, "LISTENDUAL=1"}, {1, "LISTENDUAL=1"},
                                               {0, "LISTENDUAL=0"}};
  for (const auto& [dual, expected] : steps) {
    s.listenDual = dual;
    ASSERT_TRUE(savePortSetting(path, 0, s));
    EXPECT_EQ(line(), expected) << dual;
  }
}

TEST(ProfileReading, IntegersTextsAndNamesFollowTheLookupRules) {
  const std::string longText(300, 'h');
  const std::string kana =
      std::string(259, 'k') + "\xE3\x82\xA2";  // a 3-byte character across the cut
  const CProfile p(
      "top=1\n[Sec]\n"
      "a=-42\nb=+7\nc=12abc\nd=abc\ne=\nf=   \ng=99999999999999999999\nh=-2147483649\n"
      "i=0x10\n\tJ\t=  spaced value  \nlong=" +
      longText + "\nkana=" + kana + "\nA=second a\n[broken\nz=1\n[sec]\na=second section\ny=2");
  const std::pair<const char*, int> ints[] = {
      {"a", -42}, {"B", 7},       {"c", 12},      {"d", 0}, {"e", 55},
      {"f", 55},  {"g", INT_MAX}, {"h", INT_MIN}, {"i", 0}, {"missing", 55}};
  for (const auto& [key, want] : ints) EXPECT_EQ(p.getInt("SEC", key, 55), want) << key;
  EXPECT_EQ(p.getString("sec", "j", "-"), "spaced value");
  EXPECT_EQ(p.getString("sec", "long", "-"), longText.substr(0, 260));
  EXPECT_EQ(p.getString("sec", "kana", "-"), std::string(259, 'k'));
  EXPECT_EQ(p.getString("sec", "z", "-"), "1");  // "[broken" does not open a section
  EXPECT_EQ(p.getString("sec", "y", "-"), "-");  // only the first [sec] counts
  EXPECT_EQ(p.getString("nosuch", "a", longText), longText.substr(0, 260));
  EXPECT_EQ(p.getInt("", "top", 5), 5);  // keys before any section belong to none
}

// Editors on other systems start a file with a byte-order mark.
TEST(ProfileReading, ByteOrderMarkIsKeptButDoesNotHideTheFirstSection) {
  const std::string bom = "\xEF\xBB\xBF";
  CProfile p(bom + "[SYSTEM]\r\nPORTNUM=5\r\n");
  EXPECT_EQ(readSystemSetting(p).portNum, 5);
  ASSERT_TRUE(p.setString("SYSTEM", "WINDOW", "0"));
  EXPECT_EQ(p.bytes(), bom + "[SYSTEM]\r\nPORTNUM=5\r\nWINDOW=0\r\n");
}

TEST(ProfileReading, RefusedEditsChangeNothing) {
  CProfile p("[S]\nK=1\n");
  for (auto [s, k, v] : {std::tuple{"S", "K", "a\nINJECTED=1"},
                         {"S", "K=", "v"},
                         {"S]", "K", "v"},
                         {"S", " K", "v"},
                         {"", "K", "v"},
                         {"S", "[K", "v"},
                         {"S", "K", "\r"}})
    EXPECT_FALSE(p.setString(s, k, v)) << s << "/" << k;
  EXPECT_EQ(p.bytes(), "[S]\nK=1\n");
}

// A profile edited many times keeps its own index of where each name is;
// after every edit each lookup must agree with a fresh read of its bytes.
TEST(ProfileEditing, EveryLookupAfterEachEditMatchesAFreshRead) {
  std::mt19937 rng(7);
  const std::string sections[] = {"A", "b", "TCP-PORT1", "New"};
  const std::string keys[] = {"k", "K2", "x"};
  const std::string pieces[] = {"[A]\n",  "[a]\n", "[B]\r\n", "[tcp-port1]\n", "[broken\n", "k=1\n",
                                " K2 = 2 \n", "x=\n",  "\n",      "  \n",           "; note\n",  "x=end"};
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    for (int i = int(rng() % 12); i > 0; --i) bytes += pieces[rng() % std::size(pieces)];
    CProfile edited(bytes);
    for (int edit = 0; edit < 8; ++edit) {
      ASSERT_TRUE(edited.setString(sections[rng() % 4], keys[rng() % 3], std::to_string(edit)));
      const CProfile fresh(edited.bytes());
      for (const std::string& s : sections)
        for (const std::string& k : keys) ASSERT_EQ(edited.findValue(s, k), fresh.findValue(s, k)) << bytes;
    }
  }
}

// Each failure leaves the old file as it was, and nothing beside it.
void expectUntouched(const std::string& dir, const std::string& path, const std::string& bytes) {
  EXPECT_EQ(readFile(path), bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(ProfileFile, AWriteTheDirectoryRefusesLeavesTheOldFileAndIsTraced) {
  SKIP_WITHOUT(testsys::CFacility::Permissions);
  writeFile(path, "[SYSTEM]\nPORTNUM=5\n");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  // Exit code 0: refused and traced; 1: written; 3: not traced.
  EXPECT_EQ(testsys::runUnprivileged([&] {
              if (saveSystemSetting(path, CSystemSetting{10, 0})) return 1;
              const std::string line =
                  "Profile write failed: " + path + ": create: Permission denied\n";
              return traced().find(line) == std::string::npos ? 3 : 0;
            }),
            0);
  fs::permissions(dir, fs::perms::owner_all);
  expectUntouched(dir, path, "[SYSTEM]\nPORTNUM=5\n");
}

// A file size limit makes the temporary file's write fail as a full disk does.
TEST_F(ProfileFile, AWriteOnAFullDiskLeavesTheOldFileAndIsTraced) {
  SKIP_WITHOUT(testsys::CFacility::FileSizeLimit);
  writeFile(path, "[SYSTEM]\nPORTNUM=5\n");
  testsys::limitFileSize(8);
  const bool written = writeProfileString("SYSTEM", "WINDOW", "0", path);
  testsys::limitFileSize(-1);
  EXPECT_FALSE(written);
  expectUntouched(dir, path, "[SYSTEM]\nPORTNUM=5\n");
  const std::string lines = traced();
  EXPECT_NE(lines.find("Profile write failed: " + path + ": write: File too large\n"),
            std::string::npos)
      << lines;
}

TEST_F(ProfileFile, UnreadableProfileIsNeverReplaced) {
  const std::string blocked = dir + "/blocked.ini";
  fs::create_directory(blocked);
  EXPECT_FALSE(writeProfileString("S", "K", "v", blocked));
  EXPECT_TRUE(fs::is_directory(blocked));
  EXPECT_NE(traced().find("old file unreadable, kept\n"), std::string::npos);
}

TEST_F(ProfileFile, AProfileNobodyMayReadIsNeverReplacedAndTheModeIsKept) {
  SKIP_WITHOUT(testsys::CFacility::Permissions);
  writeFile(path, "[S]\nK=old\n");
  fs::permissions(path, fs::perms::none);
  fs::permissions(dir, fs::perms::all);
  EXPECT_EQ(testsys::runUnprivileged([&] { return writeProfileString("S", "K", "new", path) ? 1 : 0; }), 0);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(readFile(path), "[S]\nK=old\n");

  writeFile(path, "[S]\n");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path, mode);
  ASSERT_TRUE(writeProfileString("S", "K", "v", path));
  EXPECT_EQ(fs::status(path).permissions(), mode);
}

// Random documents built from risky pieces: the reader must neither crash nor
// trip a sanitizer, must keep every byte, and must give sane values.
TEST(ProfileRobustness, RandomBytesReadSafelyAndSaneValues) {
  std::mt19937 rng(2024);
  const std::string pieces[] = {"[TCP-PORT0]", "[tcp-port0", "]", "[", "=", "ACT=", "ENABLEIPCOUNT=",
                                "REFUSEIPCOUNT = ", "ENABLEIP3=", "FORWARDHOST=", "99999999999999999999999",
                                "-", "+", "7", std::string(1, '\0'), "\r\n", "\n", "\r", " ", "\t", "\xFF\xFE",
                                "\xE3\x82", std::string(5000, 'x'), "[SYSTEM]"};
  for (int round = 0; round < 400; ++round) {
    std::string bytes;
    const int count = static_cast<int>(rng() % 60);
    for (int i = 0; i < count; ++i)
      bytes +=
          rng() % 4 ? pieces[rng() % std::size(pieces)] : std::string(1, static_cast<char>(rng()));
    CProfile profile(bytes);
    ASSERT_EQ(profile.bytes(), bytes);
    const CPortSetting s = readPortSetting(profile, 0);
    ASSERT_GE(s.filter.enableIpCount, 0);
    ASSERT_LE(s.filter.enableIpCount, MAX_FILTER_ENTRIES);
    ASSERT_GE(s.filter.refuseIpCount, 0);
    ASSERT_LE(s.filter.refuseIpCount, MAX_FILTER_ENTRIES);
    ASSERT_LE(s.forwardHost.size(), PROFILE_TEXT_MAX);
    for (const auto& e : s.filter.enableIp) ASSERT_LE(e.size(), PROFILE_TEXT_MAX);
    // Whatever the file held, a written setting reads back as written.
    ASSERT_TRUE(writePortSetting(profile, 0, fullSetting()));
    expectSame(readPortSetting(profile, 0), fullSetting());
    readSystemSetting(profile);
  }
}

TEST(ProfileLocation, BesideTheProgramOrInTheUsersConfigDirectory) {
  EXPECT_EQ(chooseProfileDirectory("/opt/q", true, "/x/quillex"), "/opt/q");
  EXPECT_EQ(chooseProfileDirectory("/opt/q", false, "/x/quillex"), "/x/quillex");
  EXPECT_EQ(chooseProfileDirectory("/opt/q", false, ""), "/opt/q");
  const fs::path exe = testsys::executablePath();
  EXPECT_EQ(fs::path(locateProfile()), exe.parent_path() / "Quillex.ini");

  loopback::TempDir temp;
  const std::string nested = temp.path() + "/a/b/quillex";
  EXPECT_TRUE(platform::makeDirectories(nested));
  EXPECT_TRUE(platform::makeDirectories(nested));  // existing is fine
  if (!testsys::lacking(testsys::CFacility::Permissions)) {
    EXPECT_EQ(fs::status(nested).permissions(), fs::perms::owner_all);
  }
  writeFile(temp.path() + "/file", "x");
  EXPECT_FALSE(platform::makeDirectories(temp.path() + "/file/sub"));
}

// An empty or relative XDG_CONFIG_HOME is ignored, as the base directory convention says.
TEST(ProfileLocation, TheUsersConfigDirectoryFollowsTheBaseDirectoryConvention) {
  SKIP_WITHOUT(testsys::CFacility::XdgDirectories);
  EXPECT_EQ(platform::userConfigDirectoryFrom("/x/", "/home/u"), "/x/quillex");
  EXPECT_EQ(platform::userConfigDirectoryFrom("", "/home/u"), "/home/u/.config/quillex");
  EXPECT_EQ(platform::userConfigDirectoryFrom("relative", "/home/u"), "/home/u/.config/quillex");
  EXPECT_EQ(platform::userConfigDirectoryFrom("", ""), "");
}

}  // namespace
