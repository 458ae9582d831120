#include "relay/platform/errors.h"

#include <cerrno>
#include <cstring>

#include "relay/platform/winsock_numbers.h"

namespace platform {
namespace {

struct Mapping {
  int err;
  int wsa;
};

constexpr Mapping kTable[] = {
    {EINTR, ws::kWSAEINTR},
    {EBADF, ws::kWSAEBADF},
    {EACCES, ws::kWSAEACCES},
    {EPERM, ws::kWSAEACCES},
    {EFAULT, ws::kWSAEFAULT},
    {EINVAL, ws::kWSAEINVAL},
    {EMFILE, ws::kWSAEMFILE},
    {ENFILE, ws::kWSAEMFILE},
    {EAGAIN, ws::kWSAEWOULDBLOCK},
    {EINPROGRESS, ws::kWSAEWOULDBLOCK},  // a non-blocking connect under way
    {EALREADY, ws::kWSAEALREADY},
    {ENOTSOCK, ws::kWSAENOTSOCK},
    {EDESTADDRREQ, ws::kWSAEDESTADDRREQ},
    {EMSGSIZE, ws::kWSAEMSGSIZE},
    {EPROTOTYPE, ws::kWSAEPROTOTYPE},
    {ENOPROTOOPT, ws::kWSAENOPROTOOPT},
    {EPROTONOSUPPORT, ws::kWSAEPROTONOSUPPORT},
    {EOPNOTSUPP, ws::kWSAEOPNOTSUPP},
    {EAFNOSUPPORT, ws::kWSAEAFNOSUPPORT},
    {EADDRINUSE, ws::kWSAEADDRINUSE},
    {EADDRNOTAVAIL, ws::kWSAEADDRNOTAVAIL},
    {ENETDOWN, ws::kWSAENETDOWN},
    {ENETUNREACH, ws::kWSAENETUNREACH},
    {ENETRESET, ws::kWSAENETRESET},
    {ECONNABORTED, ws::kWSAECONNABORTED},
    {ECONNRESET, ws::kWSAECONNRESET},
    {EPIPE, ws::kWSAECONNRESET},  // writing after the peer reset
    {ENOBUFS, ws::kWSAENOBUFS},
    {ENOMEM, ws::kWSAENOBUFS},
    {EISCONN, ws::kWSAEISCONN},
    {ENOTCONN, ws::kWSAENOTCONN},
    {ESHUTDOWN, ws::kWSAESHUTDOWN},
    {ETIMEDOUT, ws::kWSAETIMEDOUT},
    {ECONNREFUSED, ws::kWSAECONNREFUSED},
    {EHOSTDOWN, ws::kWSAEHOSTDOWN},
    {EHOSTUNREACH, ws::kWSAEHOSTUNREACH},
};

}  // namespace

int lastSystemError() { return errno; }
void setLastSystemError(int error) { errno = error; }
void setLastSystemError(CLoopError error) { errno = error == CLoopError::InvalidArgument ? EINVAL : ENOENT; }

int winsockErrorOf(int systemError) {
  if (systemError == EWOULDBLOCK) return ws::kWSAEWOULDBLOCK;
  for (const Mapping& m : kTable)
    if (m.err == systemError) return m.wsa;
  return systemError;
}

bool isInterrupted(int systemError) { return systemError == EINTR; }
bool isWouldBlock(int systemError) { return systemError == EAGAIN || systemError == EWOULDBLOCK; }
bool isNotFound(int systemError) { return systemError == ENOENT; }
bool isOutOfRoom(int systemError) {
  return systemError == ENOSPC || systemError == EDQUOT || systemError == EFBIG || systemError == EIO;
}
const char* systemErrorText(int systemError) { return std::strerror(systemError); }

}  // namespace platform
