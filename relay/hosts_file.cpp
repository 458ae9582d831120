#include "relay/hosts_file.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <utility>

#include "relay/ip_text.h"
#include "relay/platform/files.h"
#include "relay/platform/paths.h"

namespace hostsFile {
namespace {

struct CAddresses {
  std::string ipv4, ipv6;  // the first of each family
};

// What the file said when last read, and how it looked then.
struct CTable {
  std::string path;
  platform::CFileStamp seen;
  std::unordered_map<std::string, CAddresses> byName;  // lower-case names
};

// The system's file as last read: one for the process, read again only when it changed.
CTable gTable;

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

void addLine(const std::string& line, std::unordered_map<std::string, CAddresses>& byName) {
  std::istringstream words(line.substr(0, line.find('#')));
  std::string address, name;
  if (!(words >> address)) return;
  sockaddr_in6 v6{};
  const bool isV4 = isDottedIPv4(address);
  if (!isV4 && !parseIPv6Literal(address, v6)) return;
  while (words >> name) {
    CAddresses& known = byName[lower(name)];
    std::string& slot = isV4 ? known.ipv4 : known.ipv6;
    if (slot.empty()) slot = address;
  }
}

const CTable& table() {
  const char* chosen = std::getenv("QUILLEX_HOSTS_FILE");
  const std::string path = chosen && *chosen ? std::string(chosen) : platform::systemHostsFile();
  const platform::CFileStamp now = platform::fileStamp(path);
  if (path == gTable.path && now == gTable.seen) return gTable;
  CTable fresh;
  fresh.path = path;
  fresh.seen = now;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) addLine(line, fresh.byName);
  gTable = std::move(fresh);
  return gTable;
}

}  // namespace

bool lookUp(const std::string& name, std::string& address) {
  const CTable& t = table();
  auto found = t.byName.find(lower(name));
  if (found == t.byName.end()) return false;
  address = found->second.ipv4.empty() ? found->second.ipv6 : found->second.ipv4;
  return true;
}

}  // namespace hostsFile
