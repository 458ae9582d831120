#include "dialogs/socket_error_words.h"

#include "resources/event_texts.h"

const char* socketErrorWords(int wsaError) {
  for (const CSocketErrorWords& entry : kSocketErrorWords)
    if (entry.error == wsaError) return entry.words;
  return kPlainSocketError;
}

QString socketErrorText(int wsaError) {
  return QString::fromUtf8(kSocketErrorText).arg(QString::fromUtf8(socketErrorWords(wsaError))).arg(wsaError);
}
