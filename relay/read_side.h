#pragma once
// The read side of a connected socket as one decision: from what the socket
// knows of its reading, what the loop reported and what a look at the socket
// saw, to what the socket does. The rules alone, without a system call, so
// each case is a row of a table; the socket makes the looks and carries the
// actions out.

#include <cstdint>

enum class ReadState : uint8_t {
  Reading,  // reading is selected and the peer may send more
  Paused,   // reading is not selected; the peer may send more
  Ended,    // the peer's end of stream, or the close, has been seen
  Parked,   // off the loop until reading resumes: the peer ended while bytes waited unread
};

// What the socket's last look found.
enum class Seen : uint8_t {
  NotLooked,
  NoError,  // the pending error is none
  Data,     // bytes wait to be read
  End,      // the peer's end of stream, with nothing left to read
  Nothing,  // nothing to read just now
  Error,    // the look found an error or failed with one
};

enum class ReadAction : uint8_t {
  None,
  LookForError,  // read the pending error, then decide again
  Peek,          // peek at one byte, then decide again
  LookReadable,  // whether a read earlier in the batch left anything (Data or Nothing), then decide again
  Deliver,       // OnReceive
  ReportEnd,     // the peer's end: OnClose(0), if closes are selected
  ReportEndWhilePaused,  // the peer's end with nothing left unread: OnClose(0), though reading is paused
  ReportError,   // OnClose with the error the look found, then off the loop
  ReportReset,   // OnClose with a reset, then off the loop
  Park,          // off the loop until reading resumes, so nothing spins meanwhile
  Detach,        // off the loop: nothing is left to hear
};

// ready holds the loop's ready:: bits. sendingShut: this side has shut its
// sending, after which a hang-up is the peer's end of stream, not a reset.
ReadAction decideRead(ReadState state, bool sendingShut, uint32_t ready, Seen seen);

// The state once reading is selected (or not); an end stays an end.
ReadState selectReading(ReadState state, bool reading);
