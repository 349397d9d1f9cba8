#pragma once
// The null wave-output device: plays nothing, but keeps real time with the monotonic
// clock. A buffer of n frames completes n / rate seconds after the previous one finished
// (or after it was queued, when the device was idle). Pause stops the clock.
//
// In the immediate pace buffers complete as soon as the device thread reaches them
// (the capture device uses it when timing is not the point); a looping buffer then
// plays one lap and holds until Reset.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "devices/wave_output.h"

namespace sonavel {

class NullOutput : public WaveOutput {
 public:
  enum class Pace { kRealTime, kImmediate };

  explicit NullOutput(Pace pace = Pace::kRealTime) : pace_(pace) {}
  ~NullOutput() override;

  bool Open(const OutputFormat& format, int device_number) override;
  void Close() override;
  bool IsOpen() const override;
  bool Queue(const void* data, std::size_t bytes, std::uintptr_t tag,
             bool loop = false) override;
  std::int64_t Position() const override;
  void Pause() override;
  void Restart() override;
  void Reset() override;

 protected:
  // With `record` set, Played receives the sound of every buffer (every lap of a looping
  // one) on the device thread when it has been played, volume applied: `first_frame` is
  // the position where it began and `seconds` the clock time since Open at which it began.
  NullOutput(Pace pace, bool record) : pace_(pace), record_(record) {}
  virtual void Played(std::uintptr_t tag, const std::int16_t* samples, std::size_t frames,
                      std::int64_t first_frame, double seconds);

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    const std::int16_t* data;
    std::int64_t frames;
    std::uintptr_t tag;
    bool loop;
  };

  void Run();
  // Playing time of the head buffer so far (lock held).
  Clock::duration HeadProgress(Clock::time_point now) const;
  Clock::duration Duration(std::int64_t frames) const;
  void StopThread();

  const Pace pace_;
  const bool record_ = false;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;
  bool open_ = false;
  bool paused_ = false;
  bool stopping_ = false;
  bool delivering_ = false;  // the device thread is running a callback
  bool resetting_ = false;   // Reset is handing buffers back
  bool lap_held_ = false;    // immediate pace: the looping head has played its lap
  std::int64_t completed_frames_ = 0;  // the position where the head buffer begins
  Clock::duration head_done_{};        // head playing time accumulated before since_
  Clock::time_point since_;            // when the head last started or resumed
  Clock::time_point opened_;
  std::thread thread_;
};

}  // namespace sonavel
