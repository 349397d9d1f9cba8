#pragma once
// A small pool of worker threads shared by the whole process, for filters that can split
// their work into independent pieces. The threads start on first use, one fewer than the
// processor has cores (the calling thread works too), and stay until the program ends.
// Threads wait on a condition variable between jobs; nothing spins.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sonavel {

class WorkerPool {
 public:
  // The process's pool, started on the first call.
  static WorkerPool& Shared();

  // A pool of `workers` threads besides the caller's (0: everything runs in the caller).
  explicit WorkerPool(int workers);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs task(0) .. task(count − 1) on the workers and the calling thread and returns when
  // all have finished; in which thread a task runs is not fixed, so tasks must write only
  // their own data. While the pool is busy with another caller's tasks (or when called
  // from a task), the tasks run one after another in the calling thread.
  void Run(std::int32_t count, const std::function<void(std::int32_t)>& task);

  // Worker threads besides the caller's.
  int workers() const { return static_cast<int>(threads_.size()); }

 private:
  void Work();
  // Claims and runs tasks of the current job until none are left.
  void RunClaimed(const std::function<void(std::int32_t)>* task, std::int32_t count);

  std::mutex run_mutex_;  // held by the caller whose job the workers share
  std::mutex mutex_;      // guards the job and the counters below
  std::condition_variable work_;
  std::condition_variable done_;
  const std::function<void(std::int32_t)>* task_ = nullptr;
  std::int32_t count_ = 0;
  std::atomic<std::int32_t> next_{0};
  std::uint64_t generation_ = 0;
  int active_ = 0;  // workers inside the current job
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace sonavel
