#pragma once
// The limits of a port's settings and of a profile, each in one place: the
// relay, the filter, the profile code and the dialogs all ask here, and none
// keeps a copy or a clamp of its own. Plain C++, so every layer may include it.

#include <algorithm>
#include <array>

// TCP port numbers: 0 means "not set", and a larger one would wrap to
// another port on the wire.
constexpr int MIN_PORT_NUMBER = 1;
constexpr int MAX_PORT_NUMBER = 65535;
// A port number a socket can use.
constexpr bool isUsablePort(int port) { return port >= MIN_PORT_NUMBER && port <= MAX_PORT_NUMBER; }

// A stream's buffer size in kibibytes: the range the settings allow, and the
// size of a port whose profile does not say.
constexpr int MIN_BUFFER_KBYTES = 1;
constexpr int MAX_BUFFER_KBYTES = 65536;
constexpr int DEFAULT_BUFFER_KBYTES = 128;
// A hand-edited profile may hold any size; a buffer of 0 would stall every
// connection while a huge one exhausts memory.
constexpr int boundedBufferSize(int kbytes) { return std::clamp(kbytes, MIN_BUFFER_KBYTES, MAX_BUFFER_KBYTES); }

// The entries of each of a filter's two lists.
constexpr int MAX_FILTER_ENTRIES = 10;
// A count from a hand-edited profile never reaches beyond the last slot.
constexpr int boundedEntryCount(int count) { return std::clamp(count, 0, MAX_FILTER_ENTRIES); }

// The counts PORTNUM may hold, in the order the system properties offer
// them, and the most ports a profile may describe beyond them by hand,
// [TCP-PORT0] to [TCP-PORT1023].
constexpr std::array<int, 3> PORT_COUNT_CHOICES = {1, 5, 10};
constexpr int MAX_PORTS = 1024;
// The ports to run for a PORTNUM: below 1 runs one, as the original did;
// above MAX_PORTS the rest are not run.
constexpr int boundedPortCount(int portNum) { return std::clamp(portNum, 1, MAX_PORTS); }

// The longest timeout a profile sets, about 24 days: its milliseconds stay
// within an int. Below 1 is off.
constexpr int MAX_TIMEOUT_SECONDS = 2'000'000;
constexpr int boundedTimeoutSeconds(int seconds) { return std::clamp(seconds, 0, MAX_TIMEOUT_SECONDS); }
