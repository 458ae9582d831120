#pragma once
// The hosts file, which names an address before any name server is asked:
// "address name [alias ...]" per line, '#' begins a comment, and names match
// without regard to ASCII letter case. A name the file lists is answered
// from it alone, whatever a name server would say. The file is the system's,
// or the one QUILLEX_HOSTS_FILE names.

#include <string>

namespace hostsFile {

// The name's first IPv4 address in the file, else its first IPv6 one;
// false when the file does not list the name. Reads the file again only
// when it changed.
bool lookUp(const std::string& name, std::string& address);

}  // namespace hostsFile
