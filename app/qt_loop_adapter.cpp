#include "app/qt_loop_adapter.h"

namespace {
// Long enough to drain a burst, or to see a request's answer come back, in
// one pass; short against the 50 ms in which the window must answer input.
constexpr int64_t kBudgetUs = 2000;
}  // namespace

CQtLoopAdapter::CQtLoopAdapter(CEventLoop& loop, QObject* parent) : QObject(parent), loop_(loop) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    armedDeadline_ = -1;  // fired: whatever is due next needs setting
    onActivated(nullptr);
  });
  if (loop_.fd() >= 0)
    notifier(loop_.fd(), QSocketNotifier::Read)->setEnabled(true);
  else
    loop_.setDescriptorWatcher(this);
  armTimer();
}

CQtLoopAdapter::~CQtLoopAdapter() {
  if (loop_.fd() < 0) loop_.setDescriptorWatcher(nullptr);
  for (auto& [fd, watched] : watched_)
    for (QSocketNotifier* n : {watched.read.data(), watched.write.data(), watched.urgent.data()}) delete n;
}

QSocketNotifier* CQtLoopAdapter::notifier(int fd, QSocketNotifier::Type type) {
  CWatched& watched = watched_[fd];
  QPointer<QSocketNotifier>& slot =
      type == QSocketNotifier::Read ? watched.read : type == QSocketNotifier::Write ? watched.write : watched.urgent;
  if (!slot) {
    slot = new QSocketNotifier(fd, type, this);
    slot->setEnabled(false);
    QSocketNotifier* created = slot;
    connect(created, &QSocketNotifier::activated, this, [this, created] { onActivated(created); });
  }
  return slot;
}

// Errors are reported to the urgent notifier whatever the interest, as the
// backend reports them.
void CQtLoopAdapter::watchDescriptor(int fd, uint32_t interest) {
  notifier(fd, QSocketNotifier::Read)->setEnabled(interest & (ready::kReadable | ready::kPeerClosed));
  notifier(fd, QSocketNotifier::Write)->setEnabled(interest & ready::kWritable);
  notifier(fd, QSocketNotifier::Exception)->setEnabled(true);
}

// The descriptor may be closed next and its number come back at once: its
// notifiers stop now and go once Qt is done with them.
void CQtLoopAdapter::unwatchDescriptor(int fd) {
  auto it = watched_.find(fd);
  if (it == watched_.end()) return;
  for (QSocketNotifier* n : {it->second.read.data(), it->second.write.data(), it->second.urgent.data()}) {
    if (!n) continue;
    n->setEnabled(false);
    n->deleteLater();
  }
  watched_.erase(it);
}

void CQtLoopAdapter::onActivated(QSocketNotifier* which) {
  // The descriptors are level-triggered: should a handler ever spin a nested
  // loop, a live notifier would fire again at once while the reactor refuses
  // the re-entry. It rests until the outer dispatch is done.
  if (loop_.dispatching()) {
    if (which) {
      which->setEnabled(false);
      resting_.emplace_back(which);
    }
    return;
  }
  loop_.dispatchFor(kBudgetUs);
  for (QPointer<QSocketNotifier>& rested : resting_)
    if (rested) rested->setEnabled(true);
  resting_.clear();
  armTimer();
}

// Every dispatch comes here; Qt's timer is set again only when the reactor's
// earliest deadline moved, which a busy relay with timeouts rarely does.
void CQtLoopAdapter::armTimer() {
  if (loop_.fd() >= 0) return;  // that descriptor turns readable at the reactor's deadlines itself
  const int64_t deadline = loop_.nextTimerDeadlineMs();
  if (deadline == armedDeadline_ && (deadline < 0 || timer_.isActive())) return;
  armedDeadline_ = deadline;
  const int64_t due = loop_.msUntilNextTimer();
  if (due < 0)
    timer_.stop();
  else
    timer_.start(int(std::min<int64_t>(due, 1 << 30)));
}
