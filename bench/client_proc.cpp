// Memory and CPU of a relay: the process and all its descendants, since some
// relays fork a process per connection or keep workers apart from a master.
#include "bench_client.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

namespace {

// The fields of /proc/PID/stat after the command name, which may hold spaces.
std::vector<std::string> statFields(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::vector<std::string> out;
  size_t close = line.rfind(')');
  if (close == std::string::npos) return out;
  std::istringstream rest(line.substr(close + 2));
  for (std::string f; rest >> f;) out.push_back(f);
  return out;  // out[0] is field 3 (state)
}

std::vector<int> processTree(int root) {
  std::multimap<int, int> children;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      int pid = std::atoi(e->d_name);
      if (pid <= 0) continue;
      auto f = statFields(pid);
      if (f.size() > 1) children.emplace(std::atoi(f[1].c_str()), pid);
    }
    closedir(d);
  }
  std::vector<int> tree{root};
  for (size_t i = 0; i < tree.size() && tree.size() < 100000; ++i) {
    auto [lo, hi] = children.equal_range(tree[i]);
    for (auto it = lo; it != hi; ++it) tree.push_back(it->second);
  }
  return tree;
}

long pssKib(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Pss:", 0) == 0) return std::atol(line.c_str() + 4);
  return 0;
}

}  // namespace

long treePssKib(int pid) {
  long sum = 0;
  for (int p : processTree(pid)) sum += pssKib(p);
  return sum;
}

long treeCpuTicks(int pid) {
  long sum = 0;
  for (int p : processTree(pid)) {
    auto f = statFields(p);
    if (f.size() > 12) sum += std::atol(f[11].c_str()) + std::atol(f[12].c_str());
  }
  return sum;
}

// Every thread's run time, in nanoseconds: finer than clock ticks, which a
// round trip of some microseconds would mostly miss. A relay that forks a
// process per connection has reaped most of them by the end of a
// measurement: their time is counted from their parent's record of it.
int64_t treeCpuNs(int pid) {
  int64_t sum = 0;
  const int64_t nsPerTick = 1000000000 / sysconf(_SC_CLK_TCK);
  for (int p : processTree(pid)) {
    auto f = statFields(p);
    if (f.size() > 14) sum += (std::atoll(f[13].c_str()) + std::atoll(f[14].c_str())) * nsPerTick;
    const std::string tasks = "/proc/" + std::to_string(p) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) continue;
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream in(tasks + "/" + e->d_name + "/schedstat");
      int64_t ns = 0;
      if (in >> ns) sum += ns;
    }
    closedir(dir);
  }
  return sum;
}

}  // namespace bench
