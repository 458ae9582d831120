#include "app/qt_loop_adapter.h"

#include "relay/event_loop.h"

CQtLoopAdapter::CQtLoopAdapter(CEventLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), notifier_(loop.fd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, &CQtLoopAdapter::onActivated);
}

void CQtLoopAdapter::onActivated() {
  // The descriptor is level-triggered and stays readable until the batch is
  // handled; should a handler ever spin a nested loop, a live notifier would
  // fire again at once and the reactor would refuse the re-entry, spinning.
  notifier_.setEnabled(false);
  loop_.dispatchReady();
  notifier_.setEnabled(true);
}
