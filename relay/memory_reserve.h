#pragma once
// Address space held back for the relay's small allocations. When memory
// runs out (an address-space limit, a full machine), the reserve is given
// up at once, so that accepting a caller, a log line or a timer still finds
// room, and the send-buffer pool stops mapping new buffers until the
// reserve can be held again: bytes then go straight from one socket to the
// other (see the stream), and no connection dies for want of a buffer.
//
// One per process; the relay runs on one thread.

namespace memory {

// Maps the reserve if it is not held; false when that failed (memory is short).
bool holdReserve();
// Gives the reserve up; false when none was held.
bool releaseReserve();
// The reserve was given up and is not held again yet.
bool isShort();
// Holds the reserve and makes a failing allocation of the program give it
// up first, before it fails; installed once.
void installNewHandler();

}  // namespace memory
