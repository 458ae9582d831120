#pragma once
// One line of the event log: local time, the port, and what happened in
// Japanese, with the facts of the headless connection log (caller,
// destination as configured, the address reached, duration, bytes each way,
// how it ended and why).

#include <QString>

struct CLogEvent;

QString eventLogLine(const CLogEvent& event);
