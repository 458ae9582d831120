#pragma once
// One-shot timers kept in a binary min-heap by deadline. A timer is a small
// record its owner embeds (a connection holds one for its timeouts), so
// arming, re-arming and cancelling allocate nothing and cost O(log n); ten
// thousand armed timers cost the heap ten thousand pointers.
//
// The queue does not own its timers or what they call; a timer leaves its
// queue when it is destroyed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class CTimerQueue;

class CTimer {
 public:
  // Runs once the timer is due and no longer armed; it may re-arm the timer,
  // or destroy it and touch nothing of it after. An owner's member call
  // ([this] or [this, index]) is held without an allocation.
  using Callback = std::function<void()>;

  CTimer() = default;
  explicit CTimer(Callback callback) : callback(std::move(callback)) {}
  ~CTimer();
  CTimer(const CTimer&) = delete;
  CTimer& operator=(const CTimer&) = delete;

  bool armed() const { return queue_ != nullptr; }
  void cancel();
  int64_t deadlineMs() const { return deadline_; }

  Callback callback;

 private:
  friend class CTimerQueue;
  int64_t deadline_ = 0;
  uint32_t sequence_ = 0;  // equal deadlines fire in the order they were set (it may wrap: only order is lost)
  uint32_t slot_ = 0;
  CTimerQueue* queue_ = nullptr;
};

class CTimerQueue {
 public:
  CTimerQueue() = default;
  ~CTimerQueue();  // disarms every timer still armed
  CTimerQueue(const CTimerQueue&) = delete;
  CTimerQueue& operator=(const CTimerQueue&) = delete;

  // Arms the timer for the deadline, moving it if it is armed already.
  void schedule(CTimer& timer, int64_t deadlineMs);
  void cancel(CTimer& timer);
  bool empty() const { return heap_.empty(); }
  // The earliest deadline; only when not empty.
  int64_t earliest() const { return heap_.front()->deadline_; }
  // Takes the earliest timer out if it is due at nowMs; null when none is.
  CTimer* popDue(int64_t nowMs);

 private:
  bool before(size_t a, size_t b) const;
  void place(size_t slot, CTimer* timer);
  void siftUp(size_t slot);
  void siftDown(size_t slot);
  void removeAt(size_t slot);

  std::vector<CTimer*> heap_;
  uint32_t nextSequence_ = 0;
};
