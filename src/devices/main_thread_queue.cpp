#include "devices/main_thread_queue.h"

#include <utility>

namespace sonavel {

void ManualQueue::Post(std::function<void()> record) {
  std::lock_guard lock(mutex_);
  records_.push_back(std::move(record));
}

std::size_t ManualQueue::Drain() {
  std::size_t ran = 0;
  for (;;) {
    std::function<void()> record;
    {
      std::lock_guard lock(mutex_);
      if (records_.empty()) return ran;
      record = std::move(records_.front());
      records_.pop_front();
    }
    // Run without the lock: a record may post again.
    if (record) record();
    ++ran;
  }
}

std::size_t ManualQueue::Pending() const {
  std::lock_guard lock(mutex_);
  return records_.size();
}

}  // namespace sonavel
