// Lines written to outputs that cannot take them for a while: a pipe nobody
// reads and a file on a full disk (a size limit stands in for the disk).
#include "relay/line_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>

#include "tests/loopback.h"

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
  int fd = -1;
};

struct CFullPipe : CStuckOutput {
  CFullPipe() {
    int ends[2];
    pipe2(ends, O_CLOEXEC | O_NONBLOCK);
    fcntl(ends[1], F_SETPIPE_SZ, 4096);
    while (write(ends[1], "f", 1) == 1) {
    }
    fcntl(ends[1], F_SETFL, 0);  // the output makes it non-blocking for itself
    reader = loopback::Fd(ends[0]);
    fd = ends[1];
  }
  void relieve(size_t bytes) override {
    char chunk[4096];
    for (ssize_t n; (n = read(reader.get(), chunk, bytes ? std::min(bytes, sizeof chunk) : sizeof chunk)) > 0;) {
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
    signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit then fails instead of ending the test
    relieve(4096);
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    [[maybe_unused]] const ssize_t filled = write(fd, std::string(limit, 'f').data(), limit);
  }
  void relieve(size_t bytes) override {
    limit = bytes ? limit + bytes : RLIM_INFINITY;
    const rlimit r{limit, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &r);
  }
  std::string taken() override { return loopback::readFile(path); }
  std::string path;
  rlim_t limit = 0;
};

// Lines go on while the output is stuck and while it takes only a little at
// a time; once it has taken everything that waited, one notice says how many
// lines went, and no line is ever cut.
TEST(LineOutputTest, AStuckOutputCountsTheLinesItLostAndSaysSoOnceWhenItCatchesUp) {
  loopback::TempDir temp;
  std::unique_ptr<CStuckOutput> outputs[] = {std::make_unique<CFullPipe>(),
                                             std::make_unique<CFullFile>(temp.path() + "/log")};
  for (auto& stuck : outputs) {
    SCOPED_TRACE(dynamic_cast<CFullPipe*>(stuck.get()) ? "pipe" : "file");
    ASSERT_GE(stuck->fd, 0);
    int written = 0;
    {
      CLineOutput out(stuck->fd, &droppedNotice, 16384);
      const auto lines = [&](int n) {
        for (int i = 0; i < n; ++i) {
          const std::string line = "line " + std::to_string(written++) + "\n";
          out.write(line.data(), line.size());
        }
      };
      // Reads (or room) for as long as the output has something to give.
      const auto catchUp = [&] {
        for (int i = 0; i < 100000 && out.queuedBytes() > 0; ++i, out.drain(0)) stuck->relieve(0);
        stuck->relieve(0);
      };
      lines(3000);
      for (int round = 0; round < 3; ++round) {
        stuck->relieve(4096);  // a quarter of what waits
        lines(600);
      }
      catchUp();
      out.write("last\n", 5);
      catchUp();
    }
    std::istringstream got(stuck->taken().substr(stuck->taken().find_first_not_of('f')));
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
    close(stuck->fd);
  }
  const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
  setrlimit(RLIMIT_FSIZE, &unlimited);
}

}  // namespace
