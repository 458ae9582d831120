#pragma once
// The kernel pipes one loop's streams move bytes through, socket to pipe to
// socket, so bytes nobody looks at never enter the process. A stream holds a
// pipe only while bytes wait in it; an emptied pipe goes back here for the
// next one. What the pool keeps and nobody takes for a while is closed, so
// a relay at rest holds no pipe.
//
// A pipe costs two descriptors: a stream gets none when descriptors run
// short (it copies through its buffer instead), so callers are not refused
// for the sake of speed. The debug trace shows every buffered step, so
// streams copy while it is on, as they do where the system has no such move
// and where a reader gone while bytes move to it would end the program.
//
// Owned by its loop; owns every pipe it keeps.

#include <cstddef>
#include <vector>

#include "relay/event_loop.h"
#include "relay/platform/unique_fd.h"

struct CPipe {
  CUniqueFd readEnd, writeEnd;
  size_t capacity = 0;  // bytes it holds at least
  explicit operator bool() const { return bool(readEnd); }
};

class CPipePool {
 public:
  explicit CPipePool(CEventLoop& loop);
  CPipePool(const CPipePool&) = delete;
  CPipePool& operator=(const CPipePool&) = delete;

  // A pipe that holds at least `bytes`, or an empty one when none can be
  // had (moving is off, the system refuses the size, descriptors run short).
  CPipe take(size_t bytes);
  // A pipe with bytes still in it is closed, and they go with it.
  void put(CPipe pipe, bool empty);
  size_t kept() const { return free_.size(); }
  // Closes every kept pipe, for a caller who finds no descriptor left;
  // false when none was kept.
  bool dropKept();

 private:
  CPipe open(size_t bytes);
  void trim();

  CEventLoop& loop_;
  std::vector<CPipe> free_;
  size_t lowWater_ = 0;  // the fewest kept since the last trim: unused all that time
  bool enabled_;
  CTimer timer_{[this] { trim(); }};
};
