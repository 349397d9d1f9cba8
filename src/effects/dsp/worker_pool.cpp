#include "effects/dsp/worker_pool.h"

#include <algorithm>

namespace sonavel {

namespace {

// More threads than this would only wait for each other on the small jobs given here.
constexpr int kMaxWorkers = 7;

}  // namespace

WorkerPool& WorkerPool::Shared() {
  // Never destroyed, so that a filter still running in another thread while the program
  // ends does not meet a pool that is gone.
  static WorkerPool* const pool =
      new WorkerPool(std::clamp(static_cast<int>(std::thread::hardware_concurrency()) - 1, 0, kMaxWorkers));
  return *pool;
}

WorkerPool::WorkerPool(int workers) {
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::RunClaimed(const std::function<void(std::int32_t)>* task, std::int32_t count) {
  for (std::int32_t i = next_.fetch_add(1); i < count; i = next_.fetch_add(1)) (*task)(i);
}

void WorkerPool::Run(std::int32_t count, const std::function<void(std::int32_t)>& task) {
  std::unique_lock run_lock(run_mutex_, std::try_to_lock);
  if (threads_.empty() || count <= 1 || !run_lock.owns_lock()) {
    for (std::int32_t i = 0; i < count; ++i) task(i);
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    task_ = &task;
    count_ = count;
    next_.store(0);
    ++generation_;
  }
  work_.notify_all();
  RunClaimed(&task, count);
  // Every task is claimed; those claimed by workers are done when no worker is inside the
  // job any more. A worker that wakes later finds nothing left to claim and stays out.
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return active_ == 0; });
  task_ = nullptr;
  count_ = 0;
}

void WorkerPool::Work() {
  std::uint64_t seen = 0;
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return stop_ || (generation_ != seen && next_.load() < count_); });
    if (stop_) return;
    seen = generation_;
    const auto* task = task_;
    const std::int32_t count = count_;
    ++active_;
    lock.unlock();
    RunClaimed(task, count);
    lock.lock();
    if (--active_ == 0) done_.notify_all();
  }
}

}  // namespace sonavel
