#include "relay/host_resolver.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "relay/hosts_file.h"
#include "relay/platform/net.h"

namespace {

// Applies the "timeout:n" and "attempts:n" words of an options list, bounded
// as the system's resolver bounds them.
void applyOptions(std::istringstream words, CHostResolver::Limits& limits) {
  constexpr int kMaxTimeoutSeconds = 30;
  constexpr int kMaxAttempts = 5;
  for (std::string word; words >> word;) {
    auto value = [&word](size_t prefix) { return std::atoi(word.c_str() + prefix); };
    if (word.rfind("timeout:", 0) == 0)
      limits.timeoutMs = std::clamp(value(8), 1, kMaxTimeoutSeconds) * 1000;
    else if (word.rfind("attempts:", 0) == 0)
      limits.tries = std::clamp(value(9), 1, kMaxAttempts);
  }
}

}  // namespace

CHostResolver::Limits CHostResolver::systemLimits(const std::string& resolvConf, const char* resOptions) {
  Limits limits;
  std::istringstream lines(resolvConf);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string keyword;
    if (words >> keyword && keyword == "options") applyOptions(std::move(words), limits);
  }
  if (resOptions) applyOptions(std::istringstream(resOptions), limits);
  return limits;
}

CHostResolver::CHostResolver(CEventLoop& loop) : names_(CNameService::create(loop)) {}

// The service cancels its queries without calling back.
CHostResolver::~CHostResolver() = default;

CHostResolver::RequestId CHostResolver::resolve(const std::string& host, Callback callback) {
  // A name the hosts file lists is answered from it alone, an IPv6 address
  // included: a name server's answer for it would be another host.
  if (std::string listed; hostsFile::lookUp(host, listed)) {
    callback(true, listed);
    return 0;
  }
  if (!names_) {
    callback(false, std::string());
    return 0;
  }
  const RequestId id = nextId_++;
  requests_.emplace(id, Request{std::move(callback)});
  // IPv4 first, and alone: an IPv4 destination never waits for an IPv6
  // answer (a name server that drops those would hold every caller).
  ask(id, host, AF_INET);
  return requests_.count(id) ? id : 0;
}

void CHostResolver::ask(RequestId id, const std::string& host, int family) {
  const CNameService::QueryId query =
      names_->ask(host, family, [this, id, host, family](CNameService::CAnswer answer, const std::string& address) {
        answered(id, host, family, answer, address);
      });
  if (auto it = requests_.find(id); it != requests_.end() && query != 0) it->second.query = query;
}

void CHostResolver::answered(RequestId id, const std::string& host, int family, CNameService::CAnswer answer,
                             const std::string& address) {
  if (!requests_.count(id)) return;  // cancelled
  if (answer == CNameService::CAnswer::NoneOfFamily && family == AF_INET) {
    requests_[id].query = 0;
    ask(id, host, AF_INET6);  // a name without an IPv4 address: its first IPv6 one
    return;
  }
  complete(id, answer == CNameService::CAnswer::Found, address);
}

void CHostResolver::cancel(RequestId id) {
  auto it = requests_.find(id);
  if (it == requests_.end()) return;
  if (it->second.query != 0) names_->cancel(it->second.query);
  requests_.erase(it);
}

void CHostResolver::complete(RequestId id, bool ok, const std::string& address) {
  auto it = requests_.find(id);
  if (it == requests_.end()) return;
  Callback callback = std::move(it->second.callback);
  requests_.erase(it);
  callback(ok, address);
}
