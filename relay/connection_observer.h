#pragma once
// What a repeater tells an observer about each connection as it ends, or as
// the filter refuses it: enough for one line of a connection log.

#include <chrono>
#include <cstdint>
#include <string>

struct CConnectionRecord {
  enum class End {
    ClosedByCaller,
    ClosedByDestination,
    ResetByCaller,       // any socket error on the caller's side; error says which
    ResetByDestination,  // likewise on the destination's side
    RefusedByFilter,
    ConnectFailed,       // error says why
    Stopped,             // the port was switched off
    RefusedAsLoop,       // the caller was one of the relay's own outgoing connections
    IdleTimeout,         // nothing moved either way for the port's idle timeout
  };

  std::string callerAddress;
  int callerPort = 0;
  std::string connectedAddress;  // empty until an address was connected to
  int connectedPort = 0;
  std::chrono::steady_clock::duration duration{};
  uint64_t bytesUp = 0;    // caller to destination
  uint64_t bytesDown = 0;  // destination to caller
  End end = End::Stopped;
  int error = 0;  // a socket error number, 0 for none
};

class CConnectionObserver {
 public:
  virtual void connectionEnded(const CConnectionRecord& record) = 0;

 protected:
  ~CConnectionObserver() = default;
};
