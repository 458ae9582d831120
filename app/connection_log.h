#pragma once
// The connection log of the headless relay: one line on standard error as
// each connection ends and as the filter refuses a caller. The fields come
// in a fixed order, each "key=value" and separated by one blank, so that a
// log tool can split them; only the last, reason, is quoted and may hold
// blanks, and it is present only when error is not 0:
//
//   time=2026-12-08T21:04:05.123+09:00 port=TCP-PORT0 caller=192.0.2.7:51234
//   destination=db.example:5432 connected=198.51.100.4:5432 duration=12.345
//   up=1024 down=65536 end=closed-by-caller error=0
//
// (one line). connected is "-" when no address was connected to; end is one
// of closed-by-caller, closed-by-destination, reset-by-caller,
// reset-by-destination (a socket error on that side, named by error and
// reason), refused-by-filter, connect-failed, stopped.
//
// Does not own the stream it writes to.

#include <cstdio>
#include <ctime>
#include <string>

#include "relay/connection_observer.h"

class CConnectionLog : public CConnectionObserver {
 public:
  CConnectionLog(std::FILE* out, std::string section, const std::string& host, int port);
  void connectionEnded(const CConnectionRecord& record) override;

  // The line without its line break, for a record ending at the given local
  // time (with its offset from UTC) and millisecond.
  std::string formatLine(const CConnectionRecord& record, const std::tm& localTime, int millis) const;

 private:
  std::FILE* out_;
  std::string section_;
  std::string destination_;  // as configured
};

// host:port, with an IPv6 literal in brackets.
std::string endpointText(const std::string& host, int port);
