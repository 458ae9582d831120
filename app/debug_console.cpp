#include "app/debug_console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "relay/trace.h"

bool CTraceWindow::captureStandardOutput() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  // Writing never waits for the window: the writer and the reader are the
  // same thread, so a full pipe drops trace text instead of freezing.
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  std::fflush(stdout);
  dup2(fds[1], STDOUT_FILENO);
  ::close(fds[1]);
  readFd_.reset(fds[0]);
  fcntl(readFd_.get(), F_SETFL, O_NONBLOCK);
  notifier_ = std::make_unique<QSocketNotifier>(readFd_.get(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &CTraceWindow::readPipe);
  setReadOnly(true);
  setWindowTitle(QStringLiteral("Quillex debug trace"));
  setFont(QFont(QStringLiteral("monospace")));
  resize(720, 400);
  return true;
}

void CTraceWindow::readPipe() {
  char chunk[16384];
  ssize_t n;
  while ((n = read(readFd_.get(), chunk, sizeof chunk)) > 0) appendTrace(QByteArrayView(chunk, n));
}

void CTraceWindow::appendTrace(QByteArrayView bytes) {
  moveCursor(QTextCursor::End);
  insertPlainText(decoder_.decode(bytes));
}

std::unique_ptr<CTraceWindow> bindStandardStreams(bool debugMode) {
  trace::setEnabled(debugMode);
  if (!debugMode) {
    (void)std::freopen("/dev/null", "w", stdout);
    (void)std::freopen("/dev/null", "r", stdin);
    return nullptr;
  }
  if (isatty(STDOUT_FILENO)) return nullptr;
  auto window = std::make_unique<CTraceWindow>();
  if (!window->captureStandardOutput()) return nullptr;
  window->show();
  return window;
}
