#include "app/debug_console.h"

#include <cstdio>

#include "relay/platform/descriptor.h"
#include "relay/platform/paths.h"
#include "relay/trace.h"
#include "resources/app_texts.h"

namespace {
constexpr int kKeptLines = 20000;
constexpr size_t kChunkBytes = 64 * 1024;
}  // namespace

bool CTraceWindow::captureStandardOutput() {
  CUniqueFd writeEnd;  // standard output becomes its only writer
  // Writing never waits for the window: the writer and the reader are the
  // same thread, so a full pipe drops trace text instead of freezing.
  if (!platform::makePipe(readFd_, writeEnd, true, true)) return false;
  platform::growPipe(writeEnd.get(), 1 << 20);
  std::fflush(stdout);
  platform::replaceStandardOutput(writeEnd.get());
  notifier_ = std::make_unique<QSocketNotifier>(readFd_.get(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &CTraceWindow::readPipe);
  setReadOnly(true);
  // The window keeps the newest lines; an endless trace must not grow it,
  // nor the time each new line takes, without bound.
  setMaximumBlockCount(kKeptLines);
  setWindowTitle(QString::fromUtf8(kTraceWindowTitle));
  setFont(QFont(QStringLiteral("monospace")));
  resize(720, 400);
  return true;
}

// One bounded piece per turn of the loop: the rest makes the descriptor
// readable again, and relaying gets its turn in between.
void CTraceWindow::readPipe() {
  char chunk[kChunkBytes];
  const long n = platform::readSome(readFd_.get(), chunk, sizeof chunk);
  if (n > 0) appendTrace(QByteArrayView(chunk, n));
}

void CTraceWindow::appendTrace(QByteArrayView bytes) {
  moveCursor(QTextCursor::End);
  insertPlainText(decoder_.decode(bytes));
}

std::unique_ptr<CTraceWindow> bindStandardStreams(bool debugMode) {
  trace::setEnabled(debugMode);
  if (!debugMode) {
    // Nothing is reported when the null device cannot be opened: the trace
    // is off anyway.
    [[maybe_unused]] const bool quietOut = std::freopen(platform::nullDevice(), "w", stdout) != nullptr;
    [[maybe_unused]] const bool quietIn = std::freopen(platform::nullDevice(), "r", stdin) != nullptr;
    return nullptr;
  }
  if (platform::isTerminal(platform::standardOutput())) return nullptr;
  auto window = std::make_unique<CTraceWindow>();
  if (!window->captureStandardOutput()) return nullptr;
  window->show();
  return window;
}
