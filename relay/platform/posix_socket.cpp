#include "relay/platform/socket.h"

#include "relay/platform/unique_fd.h"

namespace platform {

CAddressCheck checkLocalAddress(const sockaddr* address, socklen_t length) {
  CUniqueFd probe(::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!probe) return CAddressCheck::Unknown;
  int one = 1;
  setsockopt(probe.get(), IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  return ::bind(probe.get(), address, length) == 0 ? CAddressCheck::Local : CAddressCheck::NotLocal;
}

}  // namespace platform
