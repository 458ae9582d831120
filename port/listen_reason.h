#pragma once
// Why a port that shows ON does not listen, in the words the panel's
// tooltip uses, for users without the debug trace.

#include <QString>

class CTcpRepeater;

// Empty when the port is OFF or listening.
QString listenReason(const CTcpRepeater& repeater, bool on, bool hasHost);
