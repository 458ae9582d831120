#include "relay/platform/service_manager.h"

// No service manager speaks this protocol here; running as a Windows service comes later.

namespace platform {

int connectToServiceManager() { return -1; }

CDatagramSent sendDatagram(int, std::string_view) { return CDatagramSent::Failed; }

}  // namespace platform
