#include "dialogs/event_log.h"

#include "dialogs/event_log_text.h"
#include "resources/event_texts.h"

namespace {

constexpr int kFrameMs = 16;  // one frame of a 60 Hz display

}  // namespace

CEventLog::CEventLog(int capacity, QObject* parent)
    : QAbstractListModel(parent), capacity_(uint64_t(std::max(capacity, 1))) {
  frame_.setSingleShot(true);
  frame_.setInterval(kFrameMs);
  connect(&frame_, &QTimer::timeout, this, &CEventLog::flush);
}

// Slots are taken in turn and reused, so after warming up nothing is allocated.
CLogEvent& CEventLog::nextSlot() {
  if (ring_.size() < 2 * capacity_) ring_.emplace_back();
  CLogEvent& slot = ring_[size_t(added_ % (2 * capacity_))];
  slot.time = std::chrono::system_clock::now();
  return slot;
}

void CEventLog::eventAdded() {
  ++added_;
  if (live_ && !frame_.isActive()) frame_.start();
}

void CEventLog::addListenEvent(CLogEvent::Kind kind, int listenPort,
                               const QString& destination, const QString& detail) {
  CLogEvent& event = nextSlot();
  event.kind = kind;
  event.listenPort = listenPort;
  event.detail = detail;
  event.destination = destination;
  eventAdded();
}

void CEventLog::addConnection(int listenPort, const QString& destination,
                              const CConnectionRecord& record) {
  CLogEvent& event = nextSlot();
  event.kind = CLogEvent::Kind::Connection;
  event.listenPort = listenPort;
  event.detail.clear();
  event.destination = destination;
  event.record = record;
  eventAdded();
}

void CEventLog::setLive(bool live) {
  live_ = live;
  if (live) flush();
}

// The view drops the rows beyond the capacity from the top and takes the new
// ones at the bottom, keeping its selection and scroll position meanwhile.
void CEventLog::flush() {
  frame_.stop();
  const uint64_t first = added_ > capacity_ ? added_ - capacity_ : 0;
  if (first > firstShown_) dropOldest(first);
  if (added_ > endShown_) {
    const int rows = rowCount();
    beginInsertRows(QModelIndex(), rows, rows + int(added_ - endShown_) - 1);
    endShown_ = added_;
    endInsertRows();
  }
}

// The rows of events before `first` go; the count row, below which they
// stood, says how many went in all.
void CEventLog::dropOldest(uint64_t first) {
  const bool counted = firstShown_ > 0;
  const uint64_t gone = std::min(first, endShown_) - firstShown_;
  if (gone > 0) {
    beginRemoveRows(QModelIndex(), firstEventRow(), firstEventRow() + int(gone) - 1);
    firstShown_ += gone;
    endRemoveRows();
  }
  // Events added and dropped again while no view was live are never shown.
  if (firstShown_ < first) firstShown_ = endShown_ = first;
  if (counted) {
    emit dataChanged(index(0), index(0));
  } else {
    beginInsertRows(QModelIndex(), 0, 0);
    endInsertRows();
  }
}

int CEventLog::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : firstEventRow() + int(endShown_ - firstShown_);
}

const CLogEvent* CEventLog::eventAt(int row) const {
  const uint64_t number = firstShown_ + uint64_t(row - firstEventRow());
  // A row the ring has reused since is shown empty until the next frame drops it.
  if (row < firstEventRow() || number >= endShown_ || number + 2 * capacity_ < added_ + 1) return nullptr;
  return &ring_[size_t(number % (2 * capacity_))];
}

QVariant CEventLog::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (index.row() < firstEventRow())
    return QString::fromUtf8(kOlderEventsDropped).arg(firstShown_).arg(capacity_);
  const CLogEvent* event = eventAt(index.row());
  return event ? eventLogLine(*event) : QString();
}
