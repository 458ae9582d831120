// The name service of POSIX systems: c-ares, its sockets watched by the
// event loop and its timeouts kept by one of the loop's timers.
#include <ares.h>

#include <fstream>
#include <map>
#include <sstream>

#include "relay/event_loop.h"
#include "relay/host_resolver.h"
#include "relay/name_service.h"
#include "relay/platform/net.h"
#include "relay/platform/paths.h"
#include "relay/trace.h"

namespace {

// The resolver library is set up once for the process, at the first resolver.
bool gLibraryReady = false;

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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

// Whether an answer says that the name has no address of the family asked
// for (rather than that no answer came).
bool noneOfFamily(int status) { return status == ARES_SUCCESS || status == ARES_ENODATA || status == ARES_ENOTFOUND; }

class CAresNameService : public CNameService {
 public:
  explicit CAresNameService(CEventLoop& loop) : loop_(loop) {}
  ~CAresNameService() override;
  bool open();

  QueryId ask(const std::string& host, int family, Done done) override;
  void cancel(QueryId id) override { queries_.erase(id); }

 private:
  class CWatch;
  struct CTag {
    CAresNameService* service;
    QueryId id;
    int family;
  };
  static void onSocketState(void* data, int fd, int readable, int writable);
  static void onResult(void* arg, int status, int timeouts, ares_addrinfo* result);
  void watch(int fd, uint32_t interest);
  void process(int readFd, int writeFd);
  void armTimer();

  CEventLoop& loop_;
  ares_channeldata* channel_ = nullptr;
  std::map<int, std::unique_ptr<CWatch>> watches_;
  std::map<QueryId, Done> queries_;
  QueryId nextId_ = 1;
  CTimer timer_{[this] { process(ARES_SOCKET_BAD, ARES_SOCKET_BAD); }};
  bool destroying_ = false;
};

// One descriptor of the channel, watched in the event loop.
class CAresNameService::CWatch : public CEventHandler {
 public:
  CWatch(CAresNameService* owner, int fd) : owner_(owner), fd_(fd) {}
  void handleEvents(uint32_t events) override {
    // process() may drop this watch; nothing of it is touched afterwards.
    CAresNameService* owner = owner_;
    int fd = fd_;
    owner->process(events & (ready::kReadable | ready::kError | ready::kHangUp) ? fd : ARES_SOCKET_BAD,
                   events & ready::kWritable ? fd : ARES_SOCKET_BAD);
  }
  CEventLoop::Registration registration = 0;

 private:
  CAresNameService* owner_;
  int fd_;
};

bool CAresNameService::open() {
  if (!gLibraryReady) gLibraryReady = ares_library_init(ARES_LIB_INIT_ALL) == ARES_SUCCESS;
  const CHostResolver::Limits limits =
      CHostResolver::systemLimits(readSmallFile(platform::systemResolverFile()), std::getenv("RES_OPTIONS"));
  ares_options options{};
  options.sock_state_cb = &CAresNameService::onSocketState;
  options.sock_state_cb_data = this;
  options.timeout = limits.timeoutMs;
  options.tries = limits.tries;
  char nameServersOnly[] = "b";  // the hosts file was asked already
  options.lookups = nameServersOnly;
  ares_channel channel = nullptr;
  if (ares_init_options(&channel, &options,
                        ARES_OPT_SOCK_STATE_CB | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_LOOKUPS) !=
      ARES_SUCCESS)
    return false;
  channel_ = channel;
  // QUILLEX_NAME_SERVER=address:port asks that server instead of the system's.
  if (const char* server = std::getenv("QUILLEX_NAME_SERVER");
      server && *server && ares_set_servers_ports_csv(channel_, server) != ARES_SUCCESS)
    QTRACE("QUILLEX_NAME_SERVER=%s is no address:port; the system's name servers are asked\n", server);
  return true;
}

CAresNameService::~CAresNameService() {
  destroying_ = true;
  queries_.clear();
  timer_.cancel();
  if (channel_) ares_destroy(channel_);
  for (auto& [fd, watch] : watches_) loop_.remove(watch->registration);
}

CNameService::QueryId CAresNameService::ask(const std::string& host, int family, Done done) {
  const QueryId id = nextId_++;
  queries_.emplace(id, std::move(done));
  ares_addrinfo_hints hints{};
  hints.ai_family = family;
  ares_getaddrinfo(channel_, host.c_str(), nullptr, &hints, &CAresNameService::onResult, new CTag{this, id, family});
  armTimer();
  return queries_.count(id) ? id : 0;
}

// May run inside ares_getaddrinfo (immediate errors) and inside ares_destroy.
void CAresNameService::onResult(void* arg, int status, int, ares_addrinfo* result) {
  std::unique_ptr<CTag> tag(static_cast<CTag*>(arg));
  std::string address;
  const bool found = status == ARES_SUCCESS && firstOfFamily(result, tag->family, address);
  if (result) ares_freeaddrinfo(result);
  CAresNameService* service = tag->service;
  if (status == ARES_EDESTRUCTION || service->destroying_) return;
  auto it = service->queries_.find(tag->id);
  if (it == service->queries_.end()) return;  // cancelled
  Done done = std::move(it->second);
  service->queries_.erase(it);
  done(found ? CAnswer::Found : noneOfFamily(status) ? CAnswer::NoneOfFamily : CAnswer::Failed, address);
}

void CAresNameService::onSocketState(void* data, int fd, int readable, int writable) {
  static_cast<CAresNameService*>(data)->watch(
      fd, (readable ? ready::kReadable : 0u) | (writable ? ready::kWritable : 0u));
}

void CAresNameService::watch(int fd, uint32_t interest) {
  auto it = watches_.find(fd);
  if (interest == 0) {
    // Comes before the channel closes the descriptor.
    if (it == watches_.end()) return;
    loop_.remove(it->second->registration);
    watches_.erase(it);
    return;
  }
  if (it != watches_.end()) {
    loop_.modify(it->second->registration, interest);
    return;
  }
  auto added = std::make_unique<CWatch>(this, fd);
  added->registration = loop_.add(fd, interest, added.get());
  if (added->registration) watches_.emplace(fd, std::move(added));
}

void CAresNameService::process(int readFd, int writeFd) {
  ares_process_fd(channel_, readFd, writeFd);
  armTimer();
}

// The channel has no timer of its own: ask it when it next needs a look.
void CAresNameService::armTimer() {
  timer_.cancel();
  timeval buffer{};
  timeval* wait = ares_timeout(channel_, nullptr, &buffer);
  if (!wait) return;
  loop_.schedule(timer_, int64_t(wait->tv_sec) * 1000 + wait->tv_usec / 1000);
}

}  // namespace

std::unique_ptr<CNameService> CNameService::create(CEventLoop& loop) {
  auto service = std::make_unique<CAresNameService>(loop);
  if (!service->open()) return nullptr;
  return service;
}
