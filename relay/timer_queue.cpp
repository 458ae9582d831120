#include "relay/timer_queue.h"

#include <utility>

CTimer::~CTimer() { cancel(); }

void CTimer::cancel() {
  if (queue_) queue_->cancel(*this);
}

CTimerQueue::~CTimerQueue() {
  for (CTimer* timer : heap_) timer->queue_ = nullptr;
}

bool CTimerQueue::before(size_t a, size_t b) const {
  const CTimer& x = *heap_[a];
  const CTimer& y = *heap_[b];
  return x.deadline_ != y.deadline_ ? x.deadline_ < y.deadline_ : x.sequence_ < y.sequence_;
}

void CTimerQueue::place(size_t slot, CTimer* timer) {
  heap_[slot] = timer;
  timer->slot_ = uint32_t(slot);
}

void CTimerQueue::siftUp(size_t slot) {
  while (slot > 0) {
    const size_t parent = (slot - 1) / 2;
    if (!before(slot, parent)) return;
    CTimer* up = heap_[slot];
    place(slot, heap_[parent]);
    place(parent, up);
    slot = parent;
  }
}

void CTimerQueue::siftDown(size_t slot) {
  for (;;) {
    size_t least = slot;
    for (size_t child : {2 * slot + 1, 2 * slot + 2})
      if (child < heap_.size() && before(child, least)) least = child;
    if (least == slot) return;
    CTimer* down = heap_[slot];
    place(slot, heap_[least]);
    place(least, down);
    slot = least;
  }
}

void CTimerQueue::removeAt(size_t slot) {
  CTimer* gone = heap_[slot];
  CTimer* last = heap_.back();
  heap_.pop_back();
  gone->queue_ = nullptr;
  if (gone == last) return;
  place(slot, last);
  siftUp(slot);
  siftDown(last->slot_);
}

void CTimerQueue::schedule(CTimer& timer, int64_t deadlineMs) {
  if (timer.queue_ && timer.queue_ != this) timer.queue_->cancel(timer);
  timer.deadline_ = deadlineMs;
  timer.sequence_ = nextSequence_++;
  if (timer.queue_) {
    siftUp(timer.slot_);
    siftDown(timer.slot_);
    return;
  }
  timer.queue_ = this;
  heap_.push_back(&timer);
  timer.slot_ = uint32_t(heap_.size() - 1);
  siftUp(timer.slot_);
}

void CTimerQueue::cancel(CTimer& timer) {
  if (timer.queue_ == this) removeAt(timer.slot_);
}

CTimer* CTimerQueue::popDue(int64_t nowMs) {
  if (heap_.empty() || heap_.front()->deadline_ > nowMs) return nullptr;
  CTimer* due = heap_.front();
  removeAt(0);
  return due;
}
