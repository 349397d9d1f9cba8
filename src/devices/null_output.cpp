#include "devices/null_output.h"

#include <vector>

namespace sonavel {

NullOutput::~NullOutput() { Close(); }

bool NullOutput::Open(const OutputFormat& format, int device_number) {
  NullOutput::Close();  // not the capture device's logged one
  error_.clear();
  if (device_number < 0) return Fail("no such output device");
  if (!AcceptFormat(format)) return false;
  std::lock_guard lock(mutex_);
  open_ = true;
  paused_ = false;
  stopping_ = false;
  lap_held_ = false;
  completed_frames_ = 0;
  head_done_ = {};
  opened_ = since_ = Clock::now();
  thread_ = std::thread([this] { Run(); });
  return true;
}

void NullOutput::Close() {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
  }
  NullOutput::Reset();
  StopThread();
  std::lock_guard lock(mutex_);
  open_ = false;
  paused_ = false;
}

void NullOutput::StopThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool NullOutput::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool NullOutput::Queue(const void* data, std::size_t bytes, std::uintptr_t tag, bool loop) {
  const std::size_t frame_bytes = static_cast<std::size_t>(format_.channels) * 2;
  std::lock_guard lock(mutex_);
  if (!open_ || data == nullptr || bytes == 0 || bytes % frame_bytes != 0) return false;
  if (queue_.empty()) {
    // An idle device starts the new buffer now.
    head_done_ = {};
    since_ = Clock::now();
    lap_held_ = false;
  }
  queue_.push_back({static_cast<const std::int16_t*>(data),
                    static_cast<std::int64_t>(bytes / frame_bytes), tag, loop});
  wake_.notify_all();
  return true;
}

NullOutput::Clock::duration NullOutput::Duration(std::int64_t frames) const {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(frames) / format_.rate));
}

NullOutput::Clock::duration NullOutput::HeadProgress(Clock::time_point now) const {
  return paused_ ? head_done_ : head_done_ + (now - since_);
}

std::int64_t NullOutput::Position() const {
  std::lock_guard lock(mutex_);
  if (queue_.empty() || pace_ == Pace::kImmediate) return completed_frames_;
  const double seconds = std::chrono::duration<double>(HeadProgress(Clock::now())).count();
  const auto into = static_cast<std::int64_t>(seconds * format_.rate);
  return completed_frames_ + std::min(into, queue_.front().frames);
}

void NullOutput::Pause() {
  std::lock_guard lock(mutex_);
  if (!open_ || paused_) return;
  head_done_ = HeadProgress(Clock::now());
  paused_ = true;
}

void NullOutput::Restart() {
  {
    std::lock_guard lock(mutex_);
    if (!open_ || !paused_) return;
    paused_ = false;
    since_ = Clock::now();
  }
  wake_.notify_all();
}

void NullOutput::Reset() {
  std::deque<Pending> dropped;
  {
    std::unique_lock lock(mutex_);
    if (!open_) return;
    wake_.wait(lock, [this] { return !delivering_; });
    resetting_ = true;
    dropped.swap(queue_);
    completed_frames_ = 0;
    head_done_ = {};
    since_ = Clock::now();
    lap_held_ = false;
  }
  for (const Pending& pending : dropped) Complete(pending.tag);
  {
    std::lock_guard lock(mutex_);
    resetting_ = false;
  }
  wake_.notify_all();
}

void NullOutput::Played(std::uintptr_t, const std::int16_t*, std::size_t, std::int64_t,
                        double) {}

void NullOutput::Run() {
  std::vector<std::int16_t> scaled;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (queue_.empty() || paused_ || resetting_ || lap_held_) {
      wake_.wait(lock);
      continue;
    }
    const Pending head = queue_.front();
    const Clock::duration length = Duration(head.frames);
    const Clock::time_point now = Clock::now();
    Clock::duration overshoot{};
    if (pace_ == Pace::kRealTime) {
      const Clock::duration progress = HeadProgress(now);
      if (progress < length) {
        wake_.wait_until(lock, now + (length - progress));
        continue;
      }
      overshoot = progress - length;
    }
    // The head (or one lap of it) has been played.
    const std::int64_t first_frame = completed_frames_;
    const double began =
        std::chrono::duration<double>((now - overshoot - length) - opened_).count();
    completed_frames_ += head.frames;
    head_done_ = overshoot;
    since_ = now;
    if (head.loop) {
      if (pace_ == Pace::kImmediate) lap_held_ = true;
    } else {
      queue_.pop_front();
      if (queue_.empty()) head_done_ = {};
    }
    delivering_ = true;
    lock.unlock();
    if (record_) {
      const std::size_t samples = static_cast<std::size_t>(head.frames) * format_.channels;
      scaled.resize(samples);
      CopyWithVolume(head.data, scaled.data(), static_cast<std::size_t>(head.frames));
      Played(head.tag, scaled.data(), static_cast<std::size_t>(head.frames), first_frame,
             began);
    }
    if (!head.loop) Complete(head.tag);
    lock.lock();
    delivering_ = false;
    wake_.notify_all();
  }
}

}  // namespace sonavel
