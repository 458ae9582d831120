#pragma once
// How a connection ended, in each form it is shown in, side by side in one
// list: the headless connection log's word and the window's Japanese words.
// UTF-8 and no Qt, so the engine and the window read the same list.

#include "relay/connection_observer.h"

struct CConnectionEndWords {
  CConnectionRecord::End end;
  const char* logName;   // "closed-by-caller"
  const char* japanese;  // "接続元が閉じました"
  bool withError;        // the socket error's words follow the Japanese ones
};

// The words of an end; null only for a value outside the enumeration.
const CConnectionEndWords* connectionEndWords(CConnectionRecord::End end);
