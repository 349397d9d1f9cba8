#pragma once
// Scheduling priorities of the engines' worker threads, named by the Linux thread id.

#include <sys/types.h>

namespace sonavel {

enum class ThreadPriority { kBelowNormal, kNormal, kTimeCritical };

// The calling thread's id.
pid_t CurrentThreadId();
// Best effort: time-critical asks for round-robin real-time scheduling, which needs the
// right to it (CAP_SYS_NICE or an RLIMIT_RTPRIO); below-normal raises the nice value.
// False when the system refused; the thread then keeps its priority.
bool SetThreadPriority(pid_t thread, ThreadPriority priority);

}  // namespace sonavel
