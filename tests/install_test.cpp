// The installed tree, the validators of its desktop entry, metainfo and
// units, the Debian package, and the installed program started as each unit
// starts it. Everything is installed under a scratch DESTDIR with prefix /usr.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/loopback.h"
#include "tests/notify_socket.h"

using namespace loopback;
namespace fs = std::filesystem;

namespace {

const std::string kId = "example.bellmoth.Quillex";
const std::string kSystemUnit = "lib/systemd/system/quillex.service";
const std::string kUserUnit = "share/systemd/user/quillex.service";

// Every installed file, under the prefix; icons with their pixel size.
struct CExpectedFile {
  std::string path;
  int iconSize = 0;
};
const CExpectedFile kTree[] = {
    {"bin/quillex"},
    {"share/applications/" + kId + ".desktop"},
    {"share/metainfo/" + kId + ".metainfo.xml"},
    {"share/icons/hicolor/16x16/apps/" + kId + ".png", 16},
    {"share/icons/hicolor/32x32/apps/" + kId + ".png", 32},
    {"share/icons/hicolor/48x48/apps/" + kId + ".png", 48},
    {"share/icons/hicolor/64x64/apps/" + kId + ".png", 64},
    {"share/icons/hicolor/128x128/apps/" + kId + ".png", 128},
    {"share/icons/hicolor/256x256/apps/" + kId + ".png", 256},
    {"share/man/man1/quillex.1.gz"},
    {"share/doc/quillex/changelog.gz"},
    {"share/doc/quillex/copyright"},
    {kSystemUnit},
    {kUserUnit},
};

// A program found on PATH, or "".
std::string findTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  return "";
}

struct CResult {
  int status;
  std::string output;
};

CResult runTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::vector<std::string>& env = {}, int timeoutMs = 30000) {
  CChildProcess p(program, arguments, env);
  const int status = p.waitForExit(timeoutMs);
  return {status, p.output};
}

// Width and height from a PNG's header chunk; 0 when it is no PNG.
int pngSize(const fs::path& file) {
  const std::string bytes = readFile(file.string()).substr(0, 24);
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return 0;
  auto at = [&](size_t i) { return (uint32_t(uint8_t(bytes[i])) << 24) | (uint32_t(uint8_t(bytes[i + 1])) << 16) |
                                   (uint32_t(uint8_t(bytes[i + 2])) << 8) | uint8_t(bytes[i + 3]); };
  return at(16) == at(20) ? int(at(16)) : -1;
}

// The value of the first "key=" line.
std::string entryValue(const fs::path& file, const std::string& key) {
  std::istringstream lines(readFile(file.string()));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return "";
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(scratch_.path()) / "root";
    CResult r = runTool(CMAKE_COMMAND, {"--install", BUILD_DIR, "--prefix", "/usr"}, {"DESTDIR=" + root_.string()});
    ASSERT_EQ(r.status, 0) << r.output;
  }
  fs::path installed(const std::string& path) const { return root_ / "usr" / path; }

  TempDir scratch_;
  fs::path root_;
};

TEST_F(InstallTest, EveryFileLandsWhereItBelongs) {
  std::set<std::string> expected, found;
  for (const CExpectedFile& f : kTree) expected.insert("usr/" + f.path);
  for (const auto& entry : fs::recursive_directory_iterator(root_))
    if (!entry.is_directory()) found.insert(fs::relative(entry.path(), root_).string());
  EXPECT_EQ(found, expected);

  EXPECT_EQ(access(installed("bin/quillex").c_str(), X_OK), 0);
  for (const CExpectedFile& f : kTree) {
    if (f.iconSize) {
      EXPECT_EQ(pngSize(installed(f.path)), f.iconSize) << f.path;
    }
  }
  // The installed program by its full path, wherever PATH points.
  EXPECT_EQ(entryValue(installed("share/applications/" + kId + ".desktop"), "Exec"), "/usr/bin/quillex");
  for (const std::string& unit : {kSystemUnit, kUserUnit})
    EXPECT_EQ(words(entryValue(installed(unit), "ExecStart")).at(0), "/usr/bin/quillex") << unit;
}

// Each validator that is installed; the units' ExecStart points into the
// scratch tree, since the tool checks that the program exists.
TEST_F(InstallTest, ValidatorsAcceptTheEntryTheMetainfoAndTheUnits) {
  const fs::path units = fs::path(scratch_.path()) / "units";
  const fs::path runtime = fs::path(scratch_.path()) / "runtime";
  fs::create_directories(units / "system");
  fs::create_directories(units / "user");
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  for (const auto& [unit, dir] : {std::pair{kSystemUnit, "system"}, std::pair{kUserUnit, "user"}}) {
    std::string text = readFile(installed(unit).string());
    const std::string exec = "ExecStart=/usr/bin/quillex";
    ASSERT_NE(text.find(exec), std::string::npos) << unit;
    text.replace(text.find(exec), exec.size(), "ExecStart=" + installed("bin/quillex").string());
    std::ofstream(units / dir / "quillex.service") << text;
  }
  struct Check {
    const char* tool;
    std::vector<std::string> arguments;
    bool quiet;  // a warning fails too
  } checks[] = {
      {"desktop-file-validate", {installed("share/applications/" + kId + ".desktop")}, true},
      {"appstreamcli", {"validate", "--no-net", installed("share/metainfo/" + kId + ".metainfo.xml")}, false},
      {"systemd-analyze", {"verify", "--man=no", (units / "system/quillex.service").string()}, true},
      {"systemd-analyze", {"--user", "verify", "--man=no", (units / "user/quillex.service").string()}, true},
  };
  int ran = 0;
  for (const Check& c : checks) {
    const std::string tool = findTool(c.tool);
    if (tool.empty()) {
      std::printf("%s is not installed: not checked\n", c.tool);
      continue;
    }
    CResult r = runTool(tool, c.arguments, {"XDG_RUNTIME_DIR=" + runtime.string()});
    EXPECT_EQ(r.status, 0) << c.tool << " " << c.arguments.back() << "\n" << r.output;
    if (c.quiet) {
      EXPECT_EQ(r.output, "") << c.tool << " " << c.arguments.back();
    }
    ++ran;
  }
  if (ran == 0) GTEST_SKIP() << "no validator is installed";
}

TEST_F(InstallTest, PackageHoldsTheSameTreeAndItsDependencies) {
  const std::string dpkg = findTool("dpkg"), dpkgDeb = findTool("dpkg-deb");
  if (dpkg.empty() || dpkgDeb.empty() || findTool("dpkg-shlibdeps").empty())
    GTEST_SKIP() << "dpkg-dev is not installed";
  const fs::path out = fs::path(scratch_.path()) / "package";
  CResult r = runTool(CPACK_COMMAND, {"-G", "DEB", "-B", out.string(), "--config", BUILD_DIR "/CPackConfig.cmake"},
                      {}, 150000);
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string arch = words(runTool(dpkg, {"--print-architecture"}).output).at(0);
  const std::string deb = (out / ("quillex_" QUILLEX_VERSION "_" + arch + ".deb")).string();
  ASSERT_TRUE(fs::exists(deb)) << r.output;

  CResult listing = runTool(dpkgDeb, {"--contents", deb});
  std::set<std::string> files, expected;
  std::istringstream lines(listing.output);
  for (std::string line; std::getline(lines, line);)
    if (line[0] != 'd') files.insert(words(line).back());
  for (const CExpectedFile& f : kTree) expected.insert("./usr/" + f.path);
  EXPECT_EQ(files, expected) << listing.output;

  const std::pair<const char*, const char*> fields[] = {
      {"Package", "quillex"},         {"Version", QUILLEX_VERSION},
      {"Depends", "libqt6widgets6"},  {"Depends", "libc-ares2"},
      {"Maintainer", "@bellmoth.example>"}, {"Description", "TCP port relay"}};
  for (const auto& [field, part] : fields) {
    CResult value = runTool(dpkgDeb, {"--field", deb, field});
    EXPECT_NE(value.output.find(part), std::string::npos) << field << ": " << value.output;
  }
}

// The program, the options and the profile each unit starts, with the
// program taken from the scratch tree and the profile replaced by one that
// relays a kernel-chosen port to a test listener.
TEST_F(InstallTest, RunsAsEachUnitStartsItAndRelays) {
  uint16_t destinationPort = 0;
  Fd destination = listenAny(destinationPort);
  const uint16_t listenPort = freePort();
  const std::string profile = scratch_.path() + "/Quillex.ini";
  std::ofstream(profile) << "[SYSTEM]\nPORTNUM=1\n[TCP-PORT0]\nACT=1\nPORT=" << listenPort
                         << "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" << destinationPort << "\n";
  for (const std::string& unit : {kSystemUnit, kUserUnit}) {
    std::vector<std::string> command = words(entryValue(installed(unit), "ExecStart"));
    ASSERT_GE(command.size(), 4u) << unit;
    EXPECT_EQ(command[1], "--headless") << unit;
    ASSERT_EQ(command[2], "--profile") << unit;
    command[3] = profile;
    CNotifySocket manager("@quillex-install-test-" + std::to_string(getpid()));
    ASSERT_TRUE(manager.bound());
    CChildProcess relay(root_.string() + command[0], {command.begin() + 1, command.end()},
                        {"NOTIFY_SOCKET=" + manager.name()});
    ASSERT_EQ(manager.receive(20000), "READY=1") << unit << "\n" << relay.output;

    // Ready means listening: a caller is relayed at once.
    Fd client = connectTo(listenPort);
    EXPECT_TRUE(acceptOne(destination.get(), 10000)) << unit;
    EXPECT_EQ(relay.stop(SIGTERM), 0) << unit << "\n" << relay.output;
  }
}

}  // namespace
