#pragma once
// What a socket error number means, in the words of the user interface.

#include <QString>

// UTF-8 words for a Winsock error number; a number without words of its own
// reads as a plain socket error, so a caller still shows the number beside it.
const char* socketErrorWords(int wsaError);

// The words with the number, in the one form every Japanese text uses:
// "アドレスは既に使用されています (エラー 10048)".
QString socketErrorText(int wsaError);
