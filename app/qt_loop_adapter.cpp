#include "app/qt_loop_adapter.h"

#include "relay/event_loop.h"

CQtLoopAdapter::CQtLoopAdapter(CEventLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), notifier_(loop.fd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, &CQtLoopAdapter::onActivated);
}

namespace {
// Long enough to drain a burst in one pass, short against the 50 ms in which
// the window must answer input.
constexpr int64_t kBudgetUs = 2000;
// A batch this small is all there usually is (a request, or its answer):
// looking again would cost an empty system call at every step of a round trip.
constexpr int kLoneBatch = 1;
}  // namespace

void CQtLoopAdapter::onActivated() {
  // The descriptor is level-triggered: should a handler ever spin a nested
  // loop, a live notifier would fire again at once while the reactor refuses
  // the re-entry. It rests until the outer dispatch is done.
  if (loop_.dispatching()) {
    notifier_.setEnabled(false);
    return;
  }
  if (loop_.dispatchReady() > kLoneBatch) loop_.dispatchWhileBusy(kBudgetUs);
  if (!notifier_.isEnabled()) notifier_.setEnabled(true);
}
