#pragma once
// The checks a port's settings must pass before it is switched on, with the
// messages a user reads, in one place for the panel and the headless runner.

#include <map>
#include <string>
#include <vector>

#include "port/port_setting.h"

// The panel's refusal when a port is switched on: its message box text, or
// null when both ports are usable.
const char* switchOnRefusal(int port, int forwardPort);

// What a relay running as a server also refuses, being unable to honour it:
// empty when the setting can relay, else one line naming the key and value
// (the panel's own message where it has one).
std::string serverRefusal(const CPortSetting& setting);

// A setting that starts but may not work yet (an outgoing bind address this
// machine does not have right now): the warning line, or empty.
std::string serverWarning(const CPortSetting& setting);

// A port whose destination is one of the relay's own listening endpoints
// (its own or another ON port's, on a loopback address, the wildcard
// address or an address of this host) would call itself, caller after
// caller: the index of the port it would reach, or -1. onPorts holds every
// port that is ON, by index, this one included. A name other than
// "localhost" is not looked up here; the relay refuses such a loop at its
// first caller.
int relayLoopTarget(const CPortSetting& setting, const std::map<int, CPortSetting>& onPorts);
// The headless runner's line for such a port, or empty.
std::string relayLoopRefusal(int index, const CPortSetting& setting, const std::map<int, CPortSetting>& onPorts);

// The timeout keys of a port's section whose text is not a number of
// seconds the relay takes: one line each, saying how the key reads instead.
std::vector<std::string> timeoutWarnings(const CProfile& profile, int portIndex);

