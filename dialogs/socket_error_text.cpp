#include "dialogs/socket_error_text.h"

#include "relay/socket_error_words.h"
#include "resources/event_texts.h"

QString socketErrorText(int wsaError) {
  return QString::fromUtf8(kSocketErrorText).arg(QString::fromUtf8(socketErrorWords(wsaError))).arg(wsaError);
}
