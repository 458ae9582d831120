#include "relay/host_resolver.h"

#include <ares.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "relay/hosts_file.h"
#include "relay/platform/net.h"
#include "relay/platform/paths.h"
#include "relay/trace.h"

namespace {

// The resolver library is set up once for the process, at the first resolver.
bool gLibraryReady = false;

struct RequestTag {
  CHostResolver* resolver;
  CHostResolver::RequestId id;
  std::string host;
  int family;
};

bool firstOfFamily(const ares_addrinfo* result, int family, std::string& address) {
  for (const ares_addrinfo_node* node = result ? result->nodes : nullptr; node; node = node->ai_next) {
    if (node->ai_family != family || !node->ai_addr) continue;
    char text[INET6_ADDRSTRLEN];
    const void* raw = family == AF_INET ? static_cast<const void*>(
                                              &reinterpret_cast<const sockaddr_in*>(node->ai_addr)->sin_addr)
                                        : &reinterpret_cast<const sockaddr_in6*>(node->ai_addr)->sin6_addr;
    if (!inet_ntop(family, raw, text, sizeof text)) continue;
    address = text;
    return true;
  }
  return false;
}

// Whether an IPv4 answer says that the name has no IPv4 address, so that
// only then its IPv6 address is asked for.
bool noIPv4Address(int status) { return status == ARES_SUCCESS || status == ARES_ENODATA || status == ARES_ENOTFOUND; }

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

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
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

// One descriptor of the channel, watched in the event loop.
class CHostResolver::Watch : public CEventHandler {
 public:
  Watch(CHostResolver* owner, int fd) : owner_(owner), fd_(fd) {}
  void handleEvents(uint32_t events) override {
    // process() may drop this watch; nothing of it is touched afterwards.
    CHostResolver* owner = owner_;
    int fd = fd_;
    owner->process(events & (ready::kReadable | ready::kError | ready::kHangUp) ? fd : ARES_SOCKET_BAD,
                   events & ready::kWritable ? fd : ARES_SOCKET_BAD);
  }
  CEventLoop::Registration registration = 0;

 private:
  CHostResolver* owner_;
  int fd_;
};

CHostResolver::CHostResolver(CEventLoop& loop) : loop_(loop) {
  if (!gLibraryReady) gLibraryReady = ares_library_init(ARES_LIB_INIT_ALL) == ARES_SUCCESS;
  const Limits limits = systemLimits(readSmallFile(platform::systemResolverFile()), std::getenv("RES_OPTIONS"));
  ares_options options{};
  options.sock_state_cb = &CHostResolver::onSocketState;
  options.sock_state_cb_data = this;
  options.timeout = limits.timeoutMs;
  options.tries = limits.tries;
  char nameServersOnly[] = "b";  // the hosts file was asked already
  options.lookups = nameServersOnly;
  ares_channel channel = nullptr;
  if (ares_init_options(&channel, &options,
                        ARES_OPT_SOCK_STATE_CB | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_LOOKUPS) !=
      ARES_SUCCESS)
    return;
  channel_ = channel;
  // QUILLEX_NAME_SERVER=address:port asks that server instead of the system's.
  if (const char* server = std::getenv("QUILLEX_NAME_SERVER");
      server && *server && ares_set_servers_ports_csv(channel_, server) != ARES_SUCCESS)
    QTRACE("QUILLEX_NAME_SERVER=%s is no address:port; the system's name servers are asked\n", server);
}

CHostResolver::~CHostResolver() {
  destroying_ = true;
  requests_.clear();
  timer_.cancel();
  if (channel_) ares_destroy(channel_);
  for (auto& [fd, watch] : watches_) loop_.remove(watch->registration);
}

CHostResolver::RequestId CHostResolver::resolve(const std::string& host, Callback callback) {
  RequestId id = nextId_++;
  // A name the hosts file lists is answered from it alone, an IPv6 address
  // included: a name server's answer for it would be another host.
  if (std::string listed; hostsFile::lookUp(host, listed)) {
    callback(true, listed);
    return 0;
  }
  if (!channel_) {
    callback(false, std::string());
    return 0;
  }
  requests_.emplace(id, std::move(callback));
  // IPv4 first, and alone: an IPv4 destination never waits for an IPv6
  // answer (a name server that drops those would hold every caller).
  ask(new RequestTag{this, id, host, AF_INET});
  armTimer();
  return requests_.count(id) ? id : 0;
}

void CHostResolver::ask(void* tag) {
  const auto* request = static_cast<RequestTag*>(tag);
  ares_addrinfo_hints hints{};
  hints.ai_family = request->family;
  ares_getaddrinfo(channel_, request->host.c_str(), nullptr, &hints, &CHostResolver::onResult, tag);
}

void CHostResolver::cancel(RequestId id) { requests_.erase(id); }

void CHostResolver::onResult(void* arg, int status, int, ares_addrinfo* result) {
  std::unique_ptr<RequestTag> tag(static_cast<RequestTag*>(arg));
  std::string address;
  const bool ok = status == ARES_SUCCESS && firstOfFamily(result, tag->family, address);
  if (result) ares_freeaddrinfo(result);
  CHostResolver* resolver = tag->resolver;
  if (status == ARES_EDESTRUCTION || resolver->destroying_ || !resolver->requests_.count(tag->id)) return;
  if (!ok && tag->family == AF_INET && noIPv4Address(status)) {
    tag->family = AF_INET6;  // a name without an IPv4 address: its first IPv6 one
    resolver->ask(tag.release());
    return;
  }
  resolver->complete(tag->id, ok, address);
}

void CHostResolver::complete(RequestId id, bool ok, const std::string& address) {
  auto it = requests_.find(id);
  if (it == requests_.end()) return;  // cancelled
  Callback callback = std::move(it->second);
  requests_.erase(it);
  callback(ok, address);
}

void CHostResolver::onSocketState(void* data, int fd, int readable, int writable) {
  auto* self = static_cast<CHostResolver*>(data);
  uint32_t interest = (readable ? ready::kReadable : 0u) | (writable ? ready::kWritable : 0u);
  auto it = self->watches_.find(fd);
  if (interest == 0) {
    // Comes before the channel closes the descriptor.
    if (it == self->watches_.end()) return;
    self->loop_.remove(it->second->registration);
    self->watches_.erase(it);
    return;
  }
  if (it != self->watches_.end()) {
    self->loop_.modify(it->second->registration, interest);
    return;
  }
  auto watch = std::make_unique<Watch>(self, fd);
  watch->registration = self->loop_.add(fd, interest, watch.get());
  if (watch->registration) self->watches_.emplace(fd, std::move(watch));
}

void CHostResolver::process(int readFd, int writeFd) {
  ares_process_fd(channel_, readFd, writeFd);
  armTimer();
}

void CHostResolver::onTimer() { process(ARES_SOCKET_BAD, ARES_SOCKET_BAD); }

// The channel has no timer of its own: ask it when it next needs a look.
void CHostResolver::armTimer() {
  timer_.cancel();
  timeval buffer{};
  timeval* wait = ares_timeout(channel_, nullptr, &buffer);
  if (!wait) return;
  int64_t ms = int64_t(wait->tv_sec) * 1000 + wait->tv_usec / 1000;
  loop_.schedule(timer_, ms);
}
