#pragma once
// The event loop's backend: the one place that asks the system which
// descriptors are ready. Each registration carries an opaque token that
// comes back with its events; the loop, not the backend, knows what a token
// stands for. Level-triggered: a descriptor that stays ready is reported at
// every wait.
//
// A readiness seam: a backend says when a descriptor can be read or
// written, and the socket then makes the call itself. A backend of another
// system that reports readiness (kqueue) is one more file beside
// epoll_poller.cpp, poll_poller.cpp and wsapoll_poller.cpp; a
// completion-based one (I/O completion ports) does not fit this seam and is
// not promised.

#include <cstdint>
#include <memory>
#include <span>

class CPoller {
 public:
  enum class Kind { Epoll, Poll, WsaPoll };
  // A backend as QUILLEX_POLLER names it.
  struct Backend {
    const char* name;
    Kind kind;
  };
  struct Event {
    uint64_t token;
    uint32_t ready;  // ready:: bits
  };

  // The backends this system's build has, its default first, and their
  // names for a message ("epoll or poll"). One file per system defines them.
  static std::span<const Backend> backends();
  static const char* backendNames();
  static std::unique_ptr<CPoller> create(Kind kind);
  virtual ~CPoller() = default;

  // False when the system refused what the backend needs.
  virtual bool ok() const = 0;
  // interest: ready:: bits; hang-ups and errors are reported whatever it is.
  virtual bool add(int fd, uint32_t interest, uint64_t token) = 0;
  virtual bool modify(int fd, uint32_t interest, uint64_t token) = 0;
  virtual void remove(int fd) = 0;
  // The descriptor is about to be closed by its owner.
  virtual void forget(int fd) = 0;
  // Waits at most timeoutMs (-1: no bound) and fills at most capacity events;
  // the count, 0 when interrupted or nothing came.
  virtual int wait(Event* events, int capacity, int timeoutMs) = 0;
  // A descriptor that is readable while anything is ready, for another loop
  // to watch; -1 when the backend has none (the other loop then watches
  // each descriptor itself).
  virtual int fd() const = 0;
  // Makes a wait return by the deadline (monotonic milliseconds) and, for a
  // loop joined to another, fd() readable then. False when the backend cannot
  // (the loop then bounds each wait by the earliest timer instead). A wait
  // that must arm a kernel timer of its own each time costs more than one
  // descriptor set when the earliest deadline moves.
  virtual bool wakeBy(int64_t) { return false; }
};

std::unique_ptr<CPoller> makeEpollPoller();
std::unique_ptr<CPoller> makePollPoller();
std::unique_ptr<CPoller> makeWsaPollPoller();
