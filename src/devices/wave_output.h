#pragma once
// The wave-output device port: a device that takes 16-bit interleaved buffers in order,
// plays them, and hands each one back through the completion callback when its last
// sample has been played. Backends: ALSA, a null device paced by the monotonic clock
// (machines without a sound card), and a capture device for tests.
//
// Threads: every operation may be called from any one owner thread. The completion
// callback runs on the device's own thread, in queue order; it must not call Close or
// Reset (they wait for the device thread), but it may call Queue and Position.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sonavel {

struct OutputFormat {
  int rate;
  int channels;
  int bits = 16;
};

class WaveOutput {
 public:
  // The tag given to Queue, back with the buffer it belongs to.
  using Completion = std::function<void(std::uintptr_t tag)>;

  virtual ~WaveOutput() = default;
  WaveOutput() = default;
  WaveOutput(const WaveOutput&) = delete;
  WaveOutput& operator=(const WaveOutput&) = delete;

  // Set before Open; called for every buffer that finished playing or was dropped by Reset.
  void SetCompletion(Completion completion) { completion_ = std::move(completion); }

  // device_number: 0 = the system's default device, n > 0 = the n-th entry of
  // OutputDeviceNames(). False (with error() telling why) when the device or the format
  // is not available; only 16-bit formats with 1 or 2 channels are played.
  virtual bool Open(const OutputFormat& format, int device_number) = 0;
  // Drops what is queued (each buffer gets its completion) and releases the device.
  // Also done by the destructor.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Appends a buffer of whole frames. The memory must stay valid and unchanged until its
  // completion. A looping buffer repeats without end (nothing queued behind it is
  // reached) until Reset or Close; it is then handed back like any other.
  // False when closed or when bytes is not a positive multiple of the frame size.
  virtual bool Queue(const void* data, std::size_t bytes, std::uintptr_t tag,
                     bool loop = false) = 0;

  // Frames played since Open or the last Reset.
  virtual std::int64_t Position() const = 0;
  // Pause holds playback and the position; Restart continues where it stopped.
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  // Drops every queued buffer: each gets its completion, on the caller's thread and in
  // queue order, before Reset returns. The position starts at 0 again. A paused device
  // stays paused.
  virtual void Reset() = 0;

  // The device volume per channel, 0 (silent) … 0xFFFF (unchanged). Every backend scales
  // the samples in software as they are handed to the device: a sample s becomes
  // (s × volume) >> 16 (rounded towards minus infinity), except at 0xFFFF where it stays.
  // Mono sound uses the left value. Kept across Open and Close.
  void SetVolume(std::uint16_t left, std::uint16_t right);
  std::uint16_t VolumeLeft() const { return volume_left_.load(); }
  std::uint16_t VolumeRight() const { return volume_right_.load(); }
  // Both channels in one value: left in the low word, right in the high word.
  std::uint32_t Volume() const;

  // Why the last Open failed, empty after a successful one.
  const std::string& error() const { return error_; }
  const OutputFormat& format() const { return format_; }

 protected:
  // Sets error() and returns false.
  bool Fail(std::string reason);
  // Checks the format (setting error() when it is refused) and remembers it.
  bool AcceptFormat(const OutputFormat& format);
  void Complete(std::uintptr_t tag) const {
    if (completion_) completion_(tag);
  }
  // Copies `frames` frames from `source` to `target` with the current volume applied.
  void CopyWithVolume(const std::int16_t* source, std::int16_t* target,
                      std::size_t frames) const;

  OutputFormat format_{0, 0, 16};
  std::string error_;

 private:
  Completion completion_;
  std::atomic<std::uint16_t> volume_left_{0xFFFF};
  std::atomic<std::uint16_t> volume_right_{0xFFFF};
};

// The volume scaling of one channel's sample, as described at SetVolume.
inline std::int16_t ScaleSample(std::int16_t sample, std::uint16_t volume) {
  if (volume == 0xFFFF) return sample;
  return static_cast<std::int16_t>((static_cast<std::int32_t>(sample) * volume) >> 16);
}

// The program's volume level (a signed byte) as a 16-bit device value: 0 for levels of
// -36 and below, else (level + 36) × 1424 up to 65535.
std::uint16_t LevelToDeviceVolume(int level);
// The reverse: value / 1424 - 36, clamped to -127 … 127.
int DeviceVolumeToLevel(std::uint16_t value);

enum class OutputBackend {
  kAlsa,
  kNull,      // paced by the monotonic clock
  kCapture,   // the null device that also records what it played (tests)
};

// A closed device of the given backend.
std::unique_ptr<WaveOutput> OpenWaveOutputBackend(OutputBackend kind);

// The ALSA playback devices, in the order device numbers 1, 2, … refer to. The system's
// default device is not among them (it is device 0).
std::vector<std::string> OutputDeviceNames();

// The device number for a stored "SoundOutDevice": empty is 0 (the default device), a
// number is taken as it is, a device name counts from 1 in `names` (OutputDeviceNames()).
// A name that is not there now gives the default device.
int OutputDeviceNumber(std::string_view stored, const std::vector<std::string>& names);

// The device the playback engine uses for "SoundOutDevice" = device_number: ALSA when the
// chosen ALSA device can be opened, else the null device, so that a machine without a
// sound card plays in silence instead of failing. The result is closed.
std::unique_ptr<WaveOutput> CreateWaveOutput(int device_number);

}  // namespace sonavel
