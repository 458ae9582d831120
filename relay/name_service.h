#pragma once
// The system's name service as the resolver asks it: one family's first
// address of a name, answered inside the event loop, so a slow or dead
// name server holds up only the name that asked. One implementation per
// system: c-ares on POSIX systems, the system's own asynchronous lookup on
// Windows.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CEventLoop;

class CNameService {
 public:
  using QueryId = uint64_t;
  enum class CAnswer {
    Found,         // the address holds the family's first address
    NoneOfFamily,  // the name has no address of that family (or is unknown)
    Failed,        // no answer: the name server is silent, refuses, or the query failed
  };
  using Done = std::function<void(CAnswer answer, const std::string& address)>;

  // Null when the system refused what the service needs.
  static std::unique_ptr<CNameService> create(CEventLoop& loop);
  virtual ~CNameService() = default;  // cancels every query without calling back

  // family: AF_INET or AF_INET6. `done` runs once, from the loop, or
  // before ask returns (returning 0 then) for an answer known at once.
  virtual QueryId ask(const std::string& host, int family, Done done) = 0;
  virtual void cancel(QueryId id) = 0;  // `done` will not run
};
