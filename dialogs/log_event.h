#pragma once
// One event of the event log, as the log keeps it and its lines show it.

#include <QString>
#include <chrono>

#include "relay/connection_observer.h"

struct CLogEvent {
  enum class Kind { ListenStarted, ListenStopped, CannotListen, Connection };

  std::chrono::system_clock::time_point time;
  Kind kind = Kind::Connection;
  int listenPort = 0;
  QString detail;  // listen events: where it listens, or why it cannot
  // "host:port" as configured; every event of one start shares its text.
  QString destination;
  CConnectionRecord record;  // connections only
};
