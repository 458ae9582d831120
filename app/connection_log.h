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
// When the reader falls behind and lines had to be dropped, one line in
// their place says how many, once there is room again:
//
//   time=2026-12-08T21:04:06.002+09:00 dropped=1234
//
// Does not own the sink it writes to.

#include <cstdint>
#include <string>

#include "relay/connection_observer.h"
#include "relay/line_sink.h"
#include "relay/platform/clock.h"

class CConnectionLog : public CConnectionObserver {
 public:
  CConnectionLog(CLineSink& out, std::string section, const std::string& host, int port);
  void connectionEnded(const CConnectionRecord& record) override;

  // The line without its line break, for a record ending at the given local time.
  std::string formatLine(const CConnectionRecord& record, const platform::CLocalTime& time) const;

 private:
  CLineSink& out_;
  std::string section_;
  std::string destination_;  // as configured
};

// The line that stands for lines the log's output had to drop.
size_t connectionLogDroppedLine(char* buffer, size_t size, uint64_t dropped);
