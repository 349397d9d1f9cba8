#pragma once
// The capture device for tests: the null device that records every sample it plays,
// with where and when it was played, and every call made to it.

#include <mutex>
#include <string>
#include <vector>

#include "devices/null_output.h"

namespace sonavel {

class CaptureOutput : public NullOutput {
 public:
  // One played buffer (one lap of a looping buffer), volume applied.
  struct Stretch {
    std::uintptr_t tag;
    std::int64_t first_frame;  // the position where it began
    double seconds;            // clock time since Open at which it began
    std::vector<std::int16_t> samples;
  };

  // kRealTime keeps the clock like the null device; kImmediate plays as fast as possible.
  explicit CaptureOutput(Pace pace = Pace::kImmediate) : NullOutput(pace, true) {}
  ~CaptureOutput() override;

  bool Open(const OutputFormat& format, int device_number) override;
  void Close() override;
  bool Queue(const void* data, std::size_t bytes, std::uintptr_t tag,
             bool loop = false) override;
  void Pause() override;
  void Restart() override;
  void Reset() override;

  // Every sample played, in order, over all stretches since construction.
  std::vector<std::int16_t> Samples() const;
  std::vector<Stretch> Stretches() const;
  // The calls in order, e.g. "Open 44100 2 16 0", "Queue 400 7", "Queue 400 8 loop",
  // "Pause", "Restart", "Reset", "Close".
  std::vector<std::string> Calls() const;
  void ClearRecord();

 protected:
  void Played(std::uintptr_t tag, const std::int16_t* samples, std::size_t frames,
              std::int64_t first_frame, double seconds) override;

 private:
  void Log(std::string call);

  mutable std::mutex record_mutex_;
  std::vector<Stretch> stretches_;
  std::vector<std::string> calls_;
};

}  // namespace sonavel
