#pragma once
// Address space held back for the relay's small allocations. When memory
// runs out (an address-space limit, a full machine), the reserve is given
// up at once, so that accepting a caller, a log line or a timer still finds
// room, and the loops' buffer pools stop mapping new buffers until the
// reserve can be held again: bytes then go straight from one socket to the
// other (see the stream), and no connection dies for want of a buffer.
//
// One per process, made in main: it installs the program's new-handler,
// which gives the reserve up before an allocation fails, and puts the
// previous handler back when it goes.

#include <new>

class CMemoryReserve {
 public:
  CMemoryReserve();
  ~CMemoryReserve();
  CMemoryReserve(const CMemoryReserve&) = delete;
  CMemoryReserve& operator=(const CMemoryReserve&) = delete;

  // Maps the reserve if it is not held; false when that failed (memory is short).
  bool hold();
  // Gives the reserve up; false when none was held.
  bool release();
  // The reserve was given up and is not held again yet.
  bool isShort() const { return short_; }

 private:
  static void onOutOfMemory();

  void* reserve_ = nullptr;
  bool short_ = false;
  std::new_handler previous_ = nullptr;
};
