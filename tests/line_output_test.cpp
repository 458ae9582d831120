// Lines written to outputs that cannot take them for a while: a pipe nobody
// reads and a file on a full disk (a size limit stands in for the disk).
#include "relay/line_output.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "relay/platform/descriptor.h"
#include "tests/loopback.h"
#include "tests/test_system.h"

namespace {

size_t droppedNotice(char* buffer, size_t size, uint64_t dropped) {
  return size_t(std::snprintf(buffer, size, "dropped=%llu\n", static_cast<unsigned long long>(dropped)));
}

// An output full from the start: fd takes nothing until relieved by some
// bytes (0: for good); taken() is what it took after the filling.
struct CStuckOutput {
  virtual ~CStuckOutput() = default;
  virtual void relieve(size_t bytes) = 0;
  virtual std::string taken() = 0;
  loopback::Fd fd;
};

struct CFullPipe : CStuckOutput {
  CFullPipe() { testsys::makeFullPipe(reader, fd, 4096); }
  void relieve(size_t bytes) override {
    char chunk[4096];
    for (long n; (n = testsys::readNow(reader.get(), chunk, bytes ? std::min(bytes, sizeof chunk) : sizeof chunk)) > 0;) {
      got.append(chunk, size_t(n));
      if (bytes && (bytes -= size_t(n)) == 0) return;
    }
  }
  std::string taken() override { return got; }
  loopback::Fd reader;
  std::string got;
};

struct CFullFile : CStuckOutput {
  explicit CFullFile(std::string file) : path(std::move(file)) {
    relieve(4096);
    fd.reset(testsys::openEmptyForAppend(path));
    [[maybe_unused]] const long filled = platform::writeSome(fd.get(), std::string(limit, 'f').data(), limit);
  }
  ~CFullFile() override { testsys::limitFileSize(-1); }
  void relieve(size_t bytes) override {
    limit += bytes;
    testsys::limitFileSize(bytes ? (long long)limit : -1);
  }
  std::string taken() override { return loopback::readFile(path); }
  std::string path;
  size_t limit = 0;
};

// Lines go on while the output is stuck and while it takes only a little at
// a time; once it has taken everything that waited, one notice says how many
// lines went, and no line is ever cut.
void expectEveryLineWrittenOrCounted(CStuckOutput& stuck) {
  ASSERT_TRUE(stuck.fd);
  int written = 0;
  {
    CLineOutput out(stuck.fd.get(), &droppedNotice, 16384);
    const auto lines = [&](int n) {
      for (int i = 0; i < n; ++i) {
        const std::string line = "line " + std::to_string(written++) + "\n";
        out.write(line.data(), line.size());
      }
    };
    // Reads (or room) for as long as the output has something to give.
    const auto catchUp = [&] {
      for (int i = 0; i < 100000 && out.queuedBytes() > 0; ++i, out.drain(0)) stuck.relieve(0);
      stuck.relieve(0);
    };
    lines(3000);
    for (int round = 0; round < 3; ++round) {
      stuck.relieve(4096);  // a quarter of what waits
      lines(600);
    }
    catchUp();
    out.write("last\n", 5);
    catchUp();
  }
  std::istringstream got(stuck.taken().substr(stuck.taken().find_first_not_of('f')));
  int whole = 0, notices = 0;
  uint64_t dropped = 0;
  std::string line, previous;
  for (; std::getline(got, line); previous = line) {
    if (line.rfind("dropped=", 0) == 0)
      ++notices, dropped += std::stoull(line.substr(8));
    else if (line.rfind("line ", 0) == 0 && line.find_first_not_of("0123456789", 5) == std::string::npos)
      ++whole;
    else
      EXPECT_EQ(line, "last") << "a cut line after: " << previous;
  }
  EXPECT_EQ(previous, "last");
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(whole + dropped, uint64_t(written));
}

TEST(LineOutputTest, AStuckPipeCountsTheLinesItLostAndSaysSoOnceWhenItCatchesUp) {
  CFullPipe pipe;
  expectEveryLineWrittenOrCounted(pipe);
}

// A size limit stands in for the full disk.
TEST(LineOutputTest, AFullFileCountsTheLinesItLostAndSaysSoOnceWhenItCatchesUp) {
  SKIP_WITHOUT(testsys::CFacility::FileSizeLimit);
  loopback::TempDir temp;
  CFullFile file(temp.path() + "/log");
  expectEveryLineWrittenOrCounted(file);
}

}  // namespace
