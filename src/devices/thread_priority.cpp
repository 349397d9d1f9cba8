#include "devices/thread_priority.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sonavel {
namespace {

// Above ordinary real-time work such as a desktop's, far below the kernel's own threads.
constexpr int kTimeCriticalPriority = 10;
constexpr int kBelowNormalNice = 5;

}  // namespace

pid_t CurrentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

bool SetThreadPriority(pid_t thread, ThreadPriority priority) {
  if (thread <= 0) return false;
  if (priority == ThreadPriority::kTimeCritical) {
    sched_param param{};
    param.sched_priority = kTimeCriticalPriority;
    return ::sched_setscheduler(thread, SCHED_RR, &param) == 0;
  }
  // Leaving real-time scheduling first; an ordinary thread may always do that.
  sched_param param{};
  param.sched_priority = 0;
  const bool policy = ::sched_setscheduler(thread, SCHED_OTHER, &param) == 0;
  const int nice = priority == ThreadPriority::kBelowNormal ? kBelowNormalNice : 0;
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice) == 0 && policy;
}

}  // namespace sonavel
