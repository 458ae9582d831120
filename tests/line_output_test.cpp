// Lines written to outputs that cannot take them for a while: a pipe nobody
// reads and a file on a full disk (a size limit stands in for the disk).
#include "relay/line_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>

#include "tests/loopback.h"

namespace {

size_t droppedNotice(char* buffer, size_t size, uint64_t dropped) {
  return size_t(std::snprintf(buffer, size, "dropped=%llu\n", static_cast<unsigned long long>(dropped)));
}

// An output that takes nothing until relieved, a little or for good, and
// hands back everything it took.
struct CStuckOutput {
  std::function<int()> open;                // the descriptor the lines go to
  std::function<void(size_t bytes)> relieve;  // 0: for good
  std::function<std::string()> taken;
};

CStuckOutput fullPipe() {
  auto ends = std::make_shared<std::pair<int, int>>(-1, -1);
  auto got = std::make_shared<std::string>();
  CStuckOutput out;
  out.open = [=] {
    int fds[2];
    pipe2(fds, O_CLOEXEC);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    *ends = {fds[0], fds[1]};
    // Full to the brim; the output reopens the pipe non-blocking for itself.
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    while (write(fds[1], "f", 1) == 1) {
    }
    fcntl(fds[1], F_SETFL, 0);
    return fds[1];
  };
  out.relieve = [=](size_t bytes) {
    char chunk[4096];
    for (size_t left = bytes ? bytes : SIZE_MAX; left > 0;) {
      const ssize_t n = read(ends->first, chunk, std::min(left, sizeof chunk));
      if (n <= 0) return;
      got->append(chunk, size_t(n));
      left -= size_t(n);
    }
  };
  out.taken = [=] {
    close(ends->first);
    return got->substr(got->find_first_not_of('f'));
  };
  return out;
}

CStuckOutput fullFile(const std::string& path) {
  auto limit = std::make_shared<rlim_t>(4096);
  CStuckOutput out;
  out.open = [=] {
    signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit then fails instead of ending the test
    rlimit r{*limit, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &r);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    const std::string fill(*limit, 'f');
    if (write(fd, fill.data(), fill.size()) != ssize_t(fill.size())) return -1;
    return fd;
  };
  out.relieve = [=](size_t bytes) {
    *limit = bytes ? *limit + bytes : RLIM_INFINITY;
    rlimit r{*limit, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &r);
  };
  out.taken = [=] {
    const std::string all = loopback::readFile(path);
    return all.substr(all.find_first_not_of('f'));
  };
  return out;
}

// Lines go on while the output is stuck and while it takes only a little at
// a time; once it has taken everything that waited, one notice says how many
// lines went, and no line is ever cut.
TEST(LineOutputTest, AStuckOutputCountsTheLinesItLostAndSaysSoOnceWhenItCatchesUp) {
  loopback::TempDir temp;
  for (auto& [name, stuck] : {std::pair{"pipe", fullPipe()}, std::pair{"file", fullFile(temp.path() + "/log")}}) {
    SCOPED_TRACE(name);
    const int fd = stuck.open();
    ASSERT_GE(fd, 0);
    int written = 0;
    {
      CLineOutput out(fd, &droppedNotice, 16384);
      const auto lines = [&](int n) {
        for (int i = 0; i < n; ++i) {
          const std::string line = "line " + std::to_string(written++) + "\n";
          out.write(line.data(), line.size());
        }
      };
      lines(3000);
      for (int round = 0; round < 3; ++round) {
        stuck.relieve(4096);  // a quarter of what waits
        lines(600);
      }
      // Reads (or room) for as long as the output has something to give.
      const auto catchUp = [&] {
        for (int i = 0; i < 100000 && out.queuedBytes() > 0; ++i) {
          stuck.relieve(0);
          out.drain(0);
        }
        stuck.relieve(0);
      };
      stuck.relieve(0);
      catchUp();
      out.write("last\n", 5);
      catchUp();
      EXPECT_EQ(out.queuedBytes(), 0u);
    }
    std::istringstream got(stuck.taken());
    int whole = 0, notices = 0;
    uint64_t dropped = 0;
    std::string line, previous;
    while (std::getline(got, line)) {
      if (line.rfind("dropped=", 0) == 0) {
        ++notices;
        dropped += std::stoull(line.substr(8));
      } else if (line.rfind("line ", 0) == 0 && line.find_first_not_of("0123456789", 5) == std::string::npos) {
        ++whole;
      } else {
        EXPECT_EQ(line, "last") << "a cut line after: " << previous;
      }
      previous = line;
    }
    EXPECT_EQ(previous, "last");
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(whole + dropped, uint64_t(written));
    close(fd);
  }
  rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
  setrlimit(RLIMIT_FSIZE, &unlimited);
}

}  // namespace
