#pragma once
// The events of every port, for the event log window: listening started and
// stopped, a port that cannot listen, and each connection as it ends (a
// caller refused included). It keeps the latest `capacity` events and never
// slows relaying: adding one copies a record into a slot of a ring, nothing
// more. Once older events had to go, the first row says how many. Lines are
// formatted only when a view shows them, and a view hears of new rows at most
// once a display frame, and only while it is live (shown). Safe to call from
// inside socket handlers: it never opens a window.

#include <QAbstractListModel>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <vector>

#include "dialogs/log_event.h"

class CEventLog : public QAbstractListModel {
  Q_OBJECT

 public:
  static constexpr int kDefaultCapacity = 5000;

  explicit CEventLog(int capacity = kDefaultCapacity, QObject* parent = nullptr);

  // detail: where the port listens, or why it cannot.
  void addListenEvent(CLogEvent::Kind kind, int listenPort, const QString& destination,
                      const QString& detail);
  void addConnection(int listenPort, const QString& destination,
                     const CConnectionRecord& record);
  // A shown view is live: it gets the rows at once, then new ones each frame.
  void setLive(bool live);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // The event a row shows, or null when it is gone or the row is the count
  // of the events dropped.
  const CLogEvent* eventAt(int row) const;

 private:
  CLogEvent& nextSlot();
  void eventAdded();
  void flush();
  void dropOldest(uint64_t first);
  // The first row is the count of the events dropped, once there are any.
  int firstEventRow() const { return firstShown_ > 0 ? 1 : 0; }

  const uint64_t capacity_;
  // Twice the rows shown: a view may still show the oldest rows while newer
  // events arrive, until the next frame removes them.
  std::vector<CLogEvent> ring_;
  uint64_t added_ = 0;  // events ever added; the next one's number
  uint64_t firstShown_ = 0, endShown_ = 0;  // numbers of the rows a view knows
  bool live_ = false;
  QTimer frame_;
};
