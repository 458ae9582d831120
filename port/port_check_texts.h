#pragma once
// What the checks before a start refuse or warn about, as the panel's message
// boxes and the headless runner's lines say it. UTF-8 constants without Qt,
// used exactly as written; %d, %s and %zu are printf's.

// Switching a port on: the panel's message boxes, and the headless runner's
// lines for the same settings.
constexpr const char* kListenPortInvalid = "Listenポートが無効な設定です";
constexpr const char* kForwardPortInvalid = "転送先ポート番号が無効な設定です";

// What the headless runner also refuses, being a server, one line each.
constexpr const char* kNoDestinationHost = "ON, but no destination host is set";
constexpr const char* kHostTooLong = "FORWARDHOST is %zu bytes long; a host name has at most %zu";
constexpr const char* kNotAnAddress = "%s=\"%s\" is not an IPv4 or IPv6 address";
constexpr const char* kBindCannotReach =
    "IPCONNECTBIND=%s is an %s address and cannot reach FORWARDHOST=%s, an %s one";
constexpr const char* kNotAFilterMode = "FILTERMODE=%d is not a filter mode (0 to 3)";
constexpr const char* kNotStarted = "%s: not started";
constexpr const char* kConnectBindMissing =
    "IPCONNECTBIND=%s is not an address of this machine now; connections will fail until it is";
constexpr const char* kTimeoutNotANumber = "%s=%s is not a whole number of seconds; read as %d%s";
constexpr const char* kTimeoutTooLong = "%s=%s is more than %d seconds; read as %d";
constexpr const char* kLoopToItself = "relays to its own listening port (%s), a loop: not started";
constexpr const char* kLoopToPort = "relays to the listening port of %s (%s), a loop: not started";
