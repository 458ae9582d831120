#pragma once
// What the tests' own far ends and helpers ask of the system, the same on
// every system: blocking sockets, the environment, temporary directories.
// One implementation per system (posix_test_system.cpp,
// windows_test_system.cpp), as the product's platform layer has.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "relay/platform/net.h"
#include "relay/platform/unique_fd.h"

namespace testsys {

// A blocking socket (SOCK_STREAM or SOCK_DGRAM), not inherited by children; -1 on failure.
int openSocket(int family, int type);
// The next caller of a listener, blocking; -1 on failure.
int acceptCaller(int listenFd);
// Whether the socket turns readable (writable) within the time (an interrupted wait goes on).
bool waitReadable(int fd, int timeoutMs);
bool waitWritable(int fd, int timeoutMs);
// From now on a call that would wait fails at once instead (wouldBlock()).
bool setNonBlocking(int fd);
// Bytes, or -1; a send to a peer that went never raises a signal.
long sendBytes(int fd, const void* data, size_t size);
// Bytes, 0 at the end, or -1. peek leaves them in the socket; now never waits.
long receiveBytes(int fd, void* data, size_t size, bool peek = false, bool now = false);
// The last failed call was interrupted by a signal and is worth making again.
bool interrupted();
// The last failed call would have had to wait.
bool wouldBlock();
long sendDatagram(int fd, const void* data, size_t size, const sockaddr_in& to);
long receiveDatagram(int fd, void* data, size_t size, sockaddr_in& from);

bool setIntOption(int fd, int level, int option, int value);
int intOption(int fd, int level, int option);  // -1 when it cannot be read
// The seconds of silence before keepalive's first probe; -1 when the system does not say.
int keepAliveIdleSeconds(int fd);
// A blocked send gives up after the time, so a broken relay fails a test instead of hanging it.
void boundSends(int fd, int seconds);
// A close then sends a reset instead of an orderly end.
void resetOnClose(int fd);
// Ends this side's sending: the peer reads the end of the stream.
bool shutDownSending(int fd);
bool sendUrgentByte(int fd, char byte);
// A broken pipe ends the program again, where the system has such a signal.
void letBrokenPipeEndTheProgram();

// A pipe whose buffer (of about `capacity` bytes) is full of 'f's; the
// writing end blocks again, as a parent hands such a pipe over.
bool makeFullPipe(CUniqueFd& readEnd, CUniqueFd& writeEnd, size_t capacity);
// What a pipe holds now, without waiting: bytes read, 0 for none.
long readNow(int fd, void* data, size_t size);
// A file opened for appending, emptied; -1 on failure.
int openEmptyForAppend(const std::string& path);
// Limits the size of files this process writes (a full disk stands in);
// -1 lifts the limit. False where there is no such limit.
bool limitFileSize(long long bytes);

// Takes every free descriptor number below a lowered limit while it lives,
// then gives them back with the old limit (where there is such a limit).
class CDescriptorShortage {
 public:
  CDescriptorShortage();
  ~CDescriptorShortage();
  CDescriptorShortage(const CDescriptorShortage&) = delete;
  CDescriptorShortage& operator=(const CDescriptorShortage&) = delete;

 private:
  long savedLimit_ = -1;
  std::vector<int> fillers_;
};

// CPU time this process has used, user and system, in milliseconds.
long processCpuMillis();

// What some tests need that not every system offers. A test that needs one
// the system lacks is skipped, saying why (SKIP_WITHOUT).
enum class CFacility {
  TestNameServer,    // the relay asks the test's own name server (QUILLEX_NAME_SERVER)
  DescriptorLimit,   // a process's descriptors can be limited (RLIMIT_NOFILE)
  FileSizeLimit,     // a process's file sizes can be limited (RLIMIT_FSIZE)
  SilentListener,    // a listener with a full queue leaves a caller's handshake unanswered
  LocalPortRange,    // a socket can be given its own range of local ports (IP_LOCAL_PORT_RANGE)
  SendQueueQuery,    // the system says what a socket's send queue holds
  KeepAliveQuery,    // the system says a socket's keepalive time
  KeepAliveAsAsked,  // the system takes the keepalive times the tests ask for, up to the maximum it states
  ResetReadAsReset,  // a read after the peer's reset fails with the reset (Wine reads an end instead)
  AddressInUseReported,  // a listen port taken by another listener is refused as in use (Wine: access denied)
  Permissions,       // files have POSIX permission bits, and a test run as root can act as another user
  XdgDirectories,    // a user's settings follow the XDG base directory convention
};

// Runs the body in a child process as an unprivileged user ("nobody" when
// run as root); the body's result, -1 where that cannot be done.
int runUnprivileged(const std::function<int()>& body);
// Why the system lacks it, or null when it has it.
const char* lacking(CFacility facility);

void setEnv(const std::string& name, const std::string& value);
void unsetEnv(const std::string& name);
// A fresh directory of its own under the system's temporary one; "" on failure.
std::string makeTempDirectory();
// The running test program's own path.
std::string executablePath();
int processId();

}  // namespace testsys

#define SKIP_WITHOUT(facility)                                  \
  if (const char* lacking_ = testsys::lacking(facility); lacking_) \
  GTEST_SKIP() << lacking_
