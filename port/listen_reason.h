#pragma once
// Why a port that shows ON does not listen, in the words the panel's
// tooltip, its message and the event log use, for users without the debug trace.

#include <QString>

class CTcpRepeater;

// Empty when the port is OFF or listening.
QString listenReason(const CTcpRepeater& repeater, bool on, bool hasHost);

// Where the repeater listens or tried to: "address:port".
QString listenEndpoint(const CTcpRepeater& repeater);
