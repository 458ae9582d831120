#pragma once
// "host:port" as every log and window shows an endpoint: an IPv6 literal in
// brackets, so its colons do not run into the port's.

#include <string>

std::string endpointText(const std::string& host, int port);
// The host alone in the same form: an IPv6 literal in brackets.
std::string addressText(const std::string& host);
// A listener's endpoint: its bound address, or the wildcard ("0.0.0.0", or
// "[::]" and "(IPv4 and IPv6)" for one socket that takes both families).
std::string listenEndpointText(bool bound, const std::string& address, bool dualStack, int port);
