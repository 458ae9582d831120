#pragma once
// What a socket error number means, in the words of the user interface.

// UTF-8 words for a Winsock error number; a number without words of its own
// reads as a plain socket error, so a caller still shows the number beside it.
const char* socketErrorWords(int wsaError);
