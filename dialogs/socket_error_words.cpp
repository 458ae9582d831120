#include "dialogs/socket_error_words.h"

#include "resources/event_texts.h"

const char* socketErrorWords(int wsaError) {
  for (const CSocketErrorWords& entry : kSocketErrorWords)
    if (entry.error == wsaError) return entry.words;
  return kPlainSocketError;
}
