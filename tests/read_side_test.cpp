// The read side's rules, case by case, without a socket.
#include <gtest/gtest.h>

#include "relay/read_side.h"
#include "relay/readiness.h"

namespace {

using A = ReadAction;
using S = ReadState;
using L = Seen;

constexpr uint32_t kIn = ready::kReadable, kRdHup = ready::kPeerClosed, kHup = ready::kHangUp, kErr = ready::kError;

struct Case {
  S state;
  bool shut;  // this side has shut its sending
  uint32_t ready;
  L seen;
  A expected;
};

const char* name(A a) {
  static const char* const names[] = {"None",     "LookForError", "Peek",        "LookReadable",
                                      "Deliver",  "ReportEnd",    "ReportEndWhilePaused",
                                      "ReportError", "ReportReset", "Park",       "Detach"};
  return names[int(a)];
}

const Case kCases[] = {
    // Plain readable: delivered unless a read earlier in the batch took it.
    {S::Reading, false, kIn, L::NotLooked, A::LookReadable},
    {S::Reading, false, kIn, L::Data, A::Deliver},
    {S::Reading, false, kIn, L::Nothing, A::None},
    // The peer's end: data left comes first, the end once nothing is left.
    {S::Reading, false, kIn | kRdHup, L::NotLooked, A::Peek},
    {S::Reading, false, kIn | kRdHup, L::Data, A::Deliver},
    {S::Reading, false, kIn | kRdHup, L::End, A::ReportEnd},
    {S::Reading, true, kIn | kRdHup, L::End, A::ReportEnd},
    {S::Reading, false, kRdHup, L::Nothing, A::None},
    {S::Reading, false, kIn | kRdHup, L::Error, A::ReportError},
    // A hang-up while reading: still data first; nothing to read is a reset.
    {S::Reading, false, kHup, L::Data, A::Deliver},
    {S::Reading, false, kHup, L::End, A::ReportEnd},
    {S::Reading, false, kHup, L::Nothing, A::ReportReset},
    {S::Reading, true, kHup, L::Nothing, A::ReportReset},
    // A pending error is looked at first, in every state; none found, the
    // rest of the rule goes on as if nothing had been looked at.
    {S::Reading, false, kErr | kHup, L::NotLooked, A::LookForError},
    {S::Reading, false, kErr | kHup, L::NoError, A::Peek},
    {S::Reading, false, kErr, L::NoError, A::LookReadable},
    {S::Reading, false, kErr | kHup, L::Error, A::ReportError},
    {S::Paused, true, kErr | kHup, L::NotLooked, A::LookForError},
    {S::Ended, true, kErr, L::Error, A::ReportError},
    {S::Paused, false, kErr, L::NoError, A::None},
    // Paused: only a hang-up counts, and without a shutdown of this side's
    // sending it is a reset, unread bytes or not.
    {S::Paused, false, kIn | kRdHup, L::NotLooked, A::None},
    {S::Paused, true, kRdHup, L::NotLooked, A::None},
    {S::Paused, false, kHup, L::NotLooked, A::ReportReset},
    {S::Paused, false, kErr | kHup, L::NoError, A::ReportReset},
    // Paused after this side's shutdown: the hang-up is the peer's end.
    // Unread bytes park the socket; with none the end is reported.
    {S::Paused, true, kHup, L::NotLooked, A::Peek},
    {S::Paused, true, kErr | kHup, L::NoError, A::Peek},
    {S::Paused, true, kHup, L::Data, A::Park},
    {S::Paused, true, kHup, L::End, A::ReportEndWhilePaused},
    {S::Paused, true, kHup, L::Nothing, A::ReportEndWhilePaused},
    {S::Paused, true, kHup, L::Error, A::ReportError},
    // Ended: a hang-up is a reset unless this side shut down, when nothing
    // is left to hear.
    {S::Ended, false, kIn | kRdHup, L::NotLooked, A::None},
    {S::Ended, false, kHup, L::NotLooked, A::ReportReset},
    {S::Ended, true, kHup, L::NotLooked, A::Detach},
    {S::Ended, true, kIn | kHup, L::NoError, A::Detach},
    // Parked: off the loop, so anything reported is no news.
    {S::Parked, true, kHup, L::NotLooked, A::None},
    {S::Parked, true, kErr | kHup, L::Error, A::None},
};

TEST(ReadSide, EachCaseOfTheTable) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "state " << int(c.state) << ", shut " << c.shut << ", ready " << c.ready
                                      << ", seen " << int(c.seen));
    EXPECT_STREQ(name(decideRead(c.state, c.shut, c.ready, c.seen)), name(c.expected));
  }
}

TEST(ReadSide, SelectingReadingResumesAllButAnEnd) {
  EXPECT_EQ(selectReading(S::Paused, true), S::Reading);
  EXPECT_EQ(selectReading(S::Parked, true), S::Reading);
  EXPECT_EQ(selectReading(S::Reading, false), S::Paused);
  EXPECT_EQ(selectReading(S::Parked, false), S::Parked);
  EXPECT_EQ(selectReading(S::Ended, true), S::Ended);
  EXPECT_EQ(selectReading(S::Ended, false), S::Ended);
}

}  // namespace
