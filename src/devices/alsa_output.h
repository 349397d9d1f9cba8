#pragma once
// Wave output through an ALSA PCM: S16_LE interleaved, opened non-blocking and fed by a
// writer thread. Period and buffer sizes ask for about 10 ms and 40 ms. A buffer is
// complete once the device reports (snd_pcm_delay) that its last frame has left. Pause
// uses snd_pcm_pause when the hardware can; otherwise the stream is dropped and the
// frames not yet played are written again on Restart. Underruns (an idle queue always
// ends in one) are recovered with snd_pcm_recover. Volume is applied in software to the
// samples as they are written; the mixer is left alone.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "devices/wave_output.h"

typedef struct _snd_pcm snd_pcm_t;

namespace sonavel {

class AlsaOutput final : public WaveOutput {
 public:
  // Open picks the device by number: 0 = "default", n = OutputDeviceNames()[n-1].
  AlsaOutput() = default;
  // Open uses this ALSA PCM name whatever the device number (tests use "null").
  explicit AlsaOutput(std::string pcm_name) : fixed_name_(std::move(pcm_name)) {}
  ~AlsaOutput() override;

  bool Open(const OutputFormat& format, int device_number) override;
  void Close() override;
  bool IsOpen() const override;
  bool Queue(const void* data, std::size_t bytes, std::uintptr_t tag,
             bool loop = false) override;
  std::int64_t Position() const override;
  void Pause() override;
  void Restart() override;
  void Reset() override;

  // The ALSA name Open used; the period and buffer sizes granted, in frames.
  const std::string& pcm_name() const { return pcm_name_; }
  long period_frames() const { return period_frames_; }
  long buffer_frames() const { return buffer_frames_; }
  bool hardware_pause() const { return can_pause_; }

 private:
  struct Pending {
    const std::int16_t* data;
    std::int64_t frames;
    std::uintptr_t tag;
    bool loop;
    std::int64_t start;  // stream frame where it begins
  };

  void Run();
  bool Configure(const OutputFormat& format);
  // Frames played so far according to the device (lock held).
  std::int64_t PlayedNow() const;
  // Writes what the device takes now; false when there was nothing it could take.
  bool WriteSome();

  std::string fixed_name_;
  std::string pcm_name_;
  snd_pcm_t* pcm_ = nullptr;
  long period_frames_ = 0;
  long buffer_frames_ = 0;
  bool can_pause_ = false;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;
  std::int64_t queued_end_ = 0;      // stream frame after the last queued buffer
  std::int64_t written_ = 0;         // stream frames handed to the device
  mutable std::int64_t played_ = 0;  // stream frames known to have been played
  bool paused_ = false;
  bool hardware_paused_ = false;
  bool stopping_ = false;
  bool delivering_ = false;
  bool resetting_ = false;
  std::vector<std::int16_t> staging_;
  std::thread thread_;
};

// The ALSA name for a device number: "default" for 0, else the entry of
// OutputDeviceNames(); empty when there is no such device.
std::string AlsaDeviceName(int device_number);
// ALSA on `alsa_name` when that PCM can be opened for playback, else the null device.
std::unique_ptr<WaveOutput> CreateWaveOutputOn(const std::string& alsa_name);

}  // namespace sonavel
