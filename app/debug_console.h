#pragma once
// Where standard output goes once the program has started. With the debug
// switch the trace is shown: on the terminal the program was started from,
// or, when standard output is not a terminal, in a trace window of the
// program. Without it, standard output and input are the null device and
// the trace is not even formatted.

#include <QObject>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <memory>

#include "relay/platform/unique_fd.h"

// A window showing what the program writes to standard output.
class CTraceWindow : public QPlainTextEdit {
  Q_OBJECT

 public:
  // Takes over standard output; false when no pipe could be made.
  bool captureStandardOutput();
  // Shows bytes of the trace as they arrive. The trace is one UTF-8 stream:
  // a character whose bytes come in two pieces shows once it is whole.
  void appendTrace(QByteArrayView bytes);

 private:
  void readPipe();

  QStringDecoder decoder_{QStringDecoder::Utf8};
  CUniqueFd readFd_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// Binds the standard streams for the mode; returns the trace window when
// one was opened (owned by the caller), else null.
std::unique_ptr<CTraceWindow> bindStandardStreams(bool debugMode);
