#pragma once
// Why a port that shows ON does not listen, in the words the panel's
// tooltip, its message and the event log use, for users without the debug trace.

#include <QString>

class CTcpRepeater;

// What keeps an ON port from listening, besides its socket's error.
struct CListenBlock {
  bool noHost = false;
  // The listen port of the relay's own port the destination would reach, a
  // loop; 0 for none.
  int loopsTo = 0;
  bool loopsToItself = false;
  QString destination;  // host:port, for the loop's words
};

// Empty when the port is OFF or listening.
QString listenReason(const CTcpRepeater& repeater, bool on, const CListenBlock& block);
// Whether trying again (at the next start) may succeed: the port was taken,
// or descriptors or memory ran short; never for a loop or a missing host.
bool retryMaySucceed(const CTcpRepeater& repeater, const CListenBlock& block);

// Where the repeater listens or tried to: "address:port".
QString listenEndpoint(const CTcpRepeater& repeater);
