#pragma once
// Host names resolved inside the event loop, so a slow or dead name server
// holds up only the connection that asked, never the thread.
//
// Owns its name service; does not own the event loop.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "relay/event_loop.h"
#include "relay/name_service.h"

class CHostResolver {
 public:
  using RequestId = uint64_t;
  // ok false: the name did not resolve. The address is IPv4 where the name
  // has one, else IPv6.
  using Callback = std::function<void(bool ok, const std::string& dottedAddress)>;

  // How long one query waits and how often it is sent (where the name
  // service is ours to set, not the system's), as the system's own resolver
  // has them: "options timeout:n attempts:n" of resolv.conf, then of
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
  void ask(RequestId id, const std::string& host, int family);
  void answered(RequestId id, const std::string& host, int family, CNameService::CAnswer answer,
                const std::string& address);
  void complete(RequestId id, bool ok, const std::string& address);

  std::unique_ptr<CNameService> names_;
  // Each request and the query that answers it now.
  struct Request {
    Callback callback;
    CNameService::QueryId query = 0;
  };
  std::map<RequestId, Request> requests_;
  RequestId nextId_ = 1;
};
