#pragma once
// A socket error's words in each language it is shown in, side by side in
// one list, so a code cannot have words in one language and none in the
// other: English in the headless relay's lines and messages, Japanese in the
// window. UTF-8 and no Qt, so the engine and the window read the same list.

namespace ws {

// English words for a Winsock error number, for messages a user reads (the
// trace keeps the bare number); "socket error" for one without words.
const char* describeError(int wsaError);

}  // namespace ws

// Japanese words for a Winsock error number; "ソケットエラー" for one
// without words, so a caller still shows the number beside them.
const char* socketErrorWords(int wsaError);
