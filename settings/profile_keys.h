#pragma once
// The keys of the profile as one table each, a row per key: a port's
// "[TCP-PORTn]" section and "[SYSTEM]". Reading, writing and comparing
// records all walk these rows, so a new key is one row here plus its use
// (applyPortSetting, a dialog). A row names its field through a small
// accessor that works on any record with that member, so this header needs
// none of the records' types.

#include <tuple>

#include "settings/limits.h"

// How a number read from a hand-edited profile is bounded.
enum class CKeyBound {
  None,     // as it stands
  OnlyOne,  // 1 switches the key on; anything else reads as 0
  Seconds,  // 0..MAX_TIMEOUT_SECONDS
};

constexpr int boundedKeyValue(CKeyBound bound, int value) {
  switch (bound) {
    case CKeyBound::None: return value;
    case CKeyBound::OnlyOne: return value == 1 ? 1 : 0;
    case CKeyBound::Seconds: return boundedTimeoutSeconds(value);
  }
  return value;
}

// When a number key is written with its section.
enum class CKeyWrite {
  Always,
  Never,        // optional, kept in the file as the user wrote it
  WhenChanged,  // optional and edited in the window: written only when the
                // value differs from what the profile reads for it
};

// A key holding a decimal number. An optional key is read when present and
// written at most when changed, so a section without it reads and writes as
// it always has.
template <class Field>
struct CNumberKey {
  const char* name;
  Field field;
  int defaultValue;
  CKeyBound bound = CKeyBound::None;
  CKeyWrite write = CKeyWrite::Always;
};

// A key holding a text (a host or an address).
template <class Field>
struct CTextKey {
  const char* name;
  Field field;
  const char* defaultValue;
};

// A count key followed by one key per entry ("ENABLEIP0", ...) below the
// count. Counts are bounded to 0..MAX_FILTER_ENTRIES when read and written.
template <class Count, class Slots>
struct CEntryListKey {
  const char* countKey;
  const char* entryKey;
  Count count;
  Slots slots;  // MAX_FILTER_ENTRIES texts
  const char* defaultEntry;
};

constexpr const char* kDefaultAddress = "127.0.0.1";
constexpr const char* kDefaultEntry = "0.0.0.0";

// In the order the section is written: the order in which the original
// program wrote its keys one by one, which profiles already on disk show.
inline constexpr auto kPortKeys = std::tuple{
    CNumberKey{"ACT", [](auto& r) -> auto& { return r.act; }, 0},
    CNumberKey{"PORT", [](auto& r) -> auto& { return r.port; }, 0},
    CTextKey{"FORWARDHOST", [](auto& r) -> auto& { return r.forwardHost; }, kDefaultAddress},
    CNumberKey{"FORWARDPORT", [](auto& r) -> auto& { return r.forwardPort; }, 0},
    // Not bounded here: the repeater bounds it, and the file keeps what the user wrote.
    CNumberKey{"BUFFERSIZE", [](auto& r) -> auto& { return r.bufferSize; }, DEFAULT_BUFFER_KBYTES},
    CNumberKey{"ISLISTENBIND", [](auto& r) -> auto& { return r.isListenBind; }, 0},
    CTextKey{"IPLISTENBIND", [](auto& r) -> auto& { return r.ipListenBind; }, kDefaultAddress},
    CNumberKey{"ISCONNECTBIND", [](auto& r) -> auto& { return r.isConnectBind; }, 0},
    CTextKey{"IPCONNECTBIND", [](auto& r) -> auto& { return r.ipConnectBind; }, kDefaultAddress},
    CNumberKey{"FILTERMODE", [](auto& r) -> auto& { return r.filter.mode; }, 0},
    CEntryListKey{"ENABLEIPCOUNT", "ENABLEIP", [](auto& r) -> auto& { return r.filter.enableIpCount; },
                  [](auto& r) -> auto& { return r.filter.enableIp; }, kDefaultEntry},
    CEntryListKey{"REFUSEIPCOUNT", "REFUSEIP", [](auto& r) -> auto& { return r.filter.refuseIpCount; },
                  [](auto& r) -> auto& { return r.filter.refuseIp; }, kDefaultEntry},
    CNumberKey{"HALFCLOSE", [](auto& r) -> auto& { return r.halfClose; }, 0, CKeyBound::OnlyOne, CKeyWrite::Never},
    CNumberKey{"CONNECTTIMEOUT", [](auto& r) -> auto& { return r.connectTimeout; }, 0, CKeyBound::Seconds, CKeyWrite::Never},
    CNumberKey{"IDLETIMEOUT", [](auto& r) -> auto& { return r.idleTimeout; }, 0, CKeyBound::Seconds, CKeyWrite::Never},
    CNumberKey{"KEEPALIVE", [](auto& r) -> auto& { return r.keepAlive; }, 0, CKeyBound::Seconds, CKeyWrite::Never},
    CNumberKey{"LISTENDUAL", [](auto& r) -> auto& { return r.listenDual; }, 0, CKeyBound::OnlyOne,
               CKeyWrite::WhenChanged},
};

inline constexpr auto kSystemKeys = std::tuple{
    CNumberKey{"PORTNUM", [](auto& r) -> auto& { return r.portNum; }, 1},
    CNumberKey{"WINDOW", [](auto& r) -> auto& { return r.window; }, 1},
};

// Calls visit(row) for every row of a table, in its order.
template <class Keys, class Visit>
constexpr void forEachKey(const Keys& keys, Visit&& visit) {
  std::apply([&](const auto&... key) { (visit(key), ...); }, keys);
}
