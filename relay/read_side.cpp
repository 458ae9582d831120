#include "relay/read_side.h"

#include "relay/readiness.h"

namespace {

// Nothing looked at yet but the pending error.
bool unseen(Seen seen) { return seen == Seen::NotLooked || seen == Seen::NoError; }

ReadAction whileReading(uint32_t ready, Seen seen) {
  // The peer has closed or hung up: data still waiting comes first, and the
  // end is reported only once nothing is left to read.
  if (ready & (ready::kPeerClosed | ready::kHangUp)) {
    if (unseen(seen)) return ReadAction::Peek;
    if (seen == Seen::Data) return ReadAction::Deliver;
    if (seen == Seen::End) return ReadAction::ReportEnd;
    return (ready & ready::kHangUp) ? ReadAction::ReportReset : ReadAction::None;
  }
  // A read earlier in this batch may have consumed what the event announced.
  if (unseen(seen)) return ReadAction::LookReadable;
  return seen == Seen::Data ? ReadAction::Deliver : ReadAction::None;
}

// A hang-up after this side shut its sending is the peer's end: with bytes
// still unread the socket leaves the loop until reading resumes, so the
// bytes come first and nothing spins; with nothing left the end is reported
// even while reading is paused.
ReadAction pausedAfterShutdown(Seen seen) {
  if (unseen(seen)) return ReadAction::Peek;
  return seen == Seen::Data ? ReadAction::Park : ReadAction::ReportEndWhilePaused;
}

}  // namespace

ReadAction decideRead(ReadState state, bool sendingShut, uint32_t ready, Seen seen) {
  if (state == ReadState::Parked) return ReadAction::None;  // nothing is reported to it
  if (seen == Seen::Error) return ReadAction::ReportError;
  if ((ready & ready::kError) && seen == Seen::NotLooked) return ReadAction::LookForError;
  if (state == ReadState::Reading) return whileReading(ready, seen);
  // Not reading, only a hang-up counts: it is reported whatever the interest.
  // Unless this side shut its sending, it means the connection was reset.
  if (!(ready & ready::kHangUp)) return ReadAction::None;
  if (!sendingShut) return ReadAction::ReportReset;
  return state == ReadState::Ended ? ReadAction::Detach : pausedAfterShutdown(seen);
}

ReadState selectReading(ReadState state, bool reading) {
  if (reading) return state == ReadState::Ended ? state : ReadState::Reading;
  return state == ReadState::Reading ? ReadState::Paused : state;
}
