#pragma once
// "host:port" as every log and window shows an endpoint: an IPv6 literal in
// brackets, so its colons do not run into the port's.

#include <string>

std::string endpointText(const std::string& host, int port);
