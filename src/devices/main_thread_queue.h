#pragma once
// The main-thread queue: worker threads post small records, and the user-interface thread
// runs them, so that listeners are only ever called on that thread. The Qt queue (a
// queued invocation on the GUI thread) lives with the user interface; the manual queue
// here is drained by whoever plays the user-interface thread, which is what tests do.

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace sonavel {

class MainThreadQueue {
 public:
  virtual ~MainThreadQueue() = default;
  MainThreadQueue() = default;
  MainThreadQueue(const MainThreadQueue&) = delete;
  MainThreadQueue& operator=(const MainThreadQueue&) = delete;

  // May be called from any thread. Records run in the order they were posted.
  virtual void Post(std::function<void()> record) = 0;
};

// Keeps the records until Drain is called.
class ManualQueue final : public MainThreadQueue {
 public:
  void Post(std::function<void()> record) override;
  // Runs the waiting records, and those they or other threads post meanwhile, until the
  // queue is empty. Returns how many ran.
  std::size_t Drain();
  std::size_t Pending() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> records_;
};

}  // namespace sonavel
