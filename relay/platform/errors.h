#pragma once
// The system's error numbers, seen from above this layer only through these
// questions and the Winsock number each one maps to.

namespace platform {

// The error of the failed call just made on this thread.
int lastSystemError();
void setLastSystemError(int error);
// The two failures the loop reports of its own accord.
enum class CLoopError { InvalidArgument, NotRegistered };
void setLastSystemError(CLoopError error);

// The Winsock number for a system error; a number the table lacks is
// passed through unchanged, so it is never mistaken for would-block or
// success.
int winsockErrorOf(int systemError);

bool isInterrupted(int systemError);
bool isWouldBlock(int systemError);
bool isNotFound(int systemError);
// The medium is full (disk, quota, size limit) or failing: worth another try later.
bool isOutOfRoom(int systemError);
// The error as the system words it, for messages.
const char* systemErrorText(int systemError);

}  // namespace platform
