#pragma once
// Host names resolved inside the event loop, so a slow or dead name server
// holds up only the connection that asked, never the thread.
//
// Owns its resolver channel; does not own the event loop.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "relay/event_loop.h"

struct ares_channeldata;

class CHostResolver {
 public:
  using RequestId = uint64_t;
  // ok false: the name did not resolve. The address is IPv4 where the name
  // has one, else IPv6.
  using Callback = std::function<void(bool ok, const std::string& dottedAddress)>;

  // How long one query waits and how often it is sent, as the system's own
  // resolver has them: "options timeout:n attempts:n" of resolv.conf, then of
  // the RES_OPTIONS environment variable, else 5 s and 2 attempts. A silent
  // name server then holds a caller for about 15 s, not the minute and more
  // of the resolver library's own schedule.
  struct Limits {
    int timeoutMs = 5000;
    int tries = 2;
  };
  static Limits systemLimits(const std::string& resolvConf, const char* resOptions);

  explicit CHostResolver(CEventLoop& loop);
  ~CHostResolver();  // cancels every request without calling back
  CHostResolver(const CHostResolver&) = delete;
  CHostResolver& operator=(const CHostResolver&) = delete;

  // The callback may run before resolve returns (hosts file, bad names).
  // Returns 0 when it already ran.
  RequestId resolve(const std::string& host, Callback callback);
  void cancel(RequestId id);  // the callback will not run

 private:
  class Watch;
  static void onSocketState(void* data, int fd, int readable, int writable);
  static void onResult(void* arg, int status, int timeouts, struct ares_addrinfo* result);
  void ask(void* tag);  // one query for the tag's family
  void complete(RequestId id, bool ok, const std::string& address);
  void process(int readFd, int writeFd);
  void onTimer();
  void armTimer();

  CEventLoop& loop_;
  ares_channeldata* channel_ = nullptr;
  std::map<int, std::unique_ptr<Watch>> watches_;
  std::map<RequestId, Callback> requests_;
  RequestId nextId_ = 1;
  CTimer timer_{[this] { onTimer(); }};
  bool destroying_ = false;
};
