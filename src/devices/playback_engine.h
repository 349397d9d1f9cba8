#pragma once
// The playback engine: plays one SampleSource through a wave-output device.
//
// A writer thread reads the source, converts store samples to 16 bits and queues them in a
// ring of 64 device buffers of bufferFrames frames (100 ms); a completion thread harvests
// the buffers the device has finished, in ring order, keeping the position (the source
// frame at the end of the last finished buffer) and the levels of that buffer. Both
// threads report through the main-thread queue, so the listener is only ever called on
// the user-interface thread, which is also the thread that calls every public operation.
//
// Scrub mode loops a snippet of a quarter buffer (about 25 ms) at the position with the
// device's loop flag until the next seek, Resume or Close; every seek renders it afresh.
//
// The device's completion callback marks its buffer done and wakes the completion thread;
// the ring itself is handed between the threads through each slot's free and done flags.
//
// Priorities: both threads start at normal priority. The first time the writer finds the
// ring full it raises the completion thread to time-critical, so finished buffers are
// harvested at once. When more than 33 buffers finish without the ring filling up (the
// writer falls behind), the completion thread raises the writer to time-critical; the
// next time the writer finds the ring full it drops itself to below-normal.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "devices/main_thread_queue.h"
#include "devices/thread_priority.h"
#include "devices/wave_output.h"
#include "store/stream.h"

namespace sonavel {

// Per-channel levels of one buffer in dB, -127 (silence) … +127.
struct LevelRecord {
  std::uint8_t count = 0;
  std::array<std::int8_t, 256> level{};
};

// Receives the engine's notifications, on the user-interface thread. The default of each
// operation does nothing.
class PlaybackListener {
 public:
  virtual ~PlaybackListener() = default;
  // After the device was opened and streaming began; after scrub mode ends.
  virtual void OnStarted(int /*cookie*/) {}
  // After the device was closed, by Close or at the end of the sound.
  virtual void OnStopped(int /*cookie*/) {}
  virtual void OnScrubStarted(int /*cookie*/) {}
  // After Open, after a seek, after each finished buffer and at the end.
  virtual void OnPosition(std::int64_t /*milliseconds*/, int /*cookie*/) {}
  // After each finished buffer and after a scrub snippet was rendered.
  virtual void OnLevels(const LevelRecord& /*levels*/, int /*cookie*/) {}
};

inline constexpr int kPlaybackSlots = 64;
// Sources may deliver up to this magnitude; louder ones pass through the limiter first,
// so that the 16-bit conversion never overflows.
inline constexpr std::int32_t kPlaybackPeakBound = 0x7FFF0;

// Frames to milliseconds in integer arithmetic; unchanged for a rate <= 0.
std::int64_t FramesToMilliseconds(std::int64_t frames, std::int32_t rate);
// Frames per device buffer: rate / 10, clamped to 20 … 8192.
std::int32_t PlaybackBufferFrames(std::int32_t rate);
// Level in dB of channel `channel` over `frames` interleaved frames of store samples:
// -127 for silence, a full-scale square wave gives +15.
std::int8_t ChannelLevel(const std::int32_t* samples, int channel, std::int32_t frames,
                         int channels);

class PlaybackEngine {
 public:
  enum State : std::uint16_t { kClosed = 0, kPlaying = 1, kScrubbing = 5 };
  static constexpr std::uint16_t kOpenFlag = 1;
  static constexpr std::uint16_t kScrubFlag = 4;

  // Makes the device for a device number; CreateWaveOutput unless replaced.
  using OutputFactory = std::function<std::shared_ptr<WaveOutput>(int device_number)>;

  explicit PlaybackEngine(MainThreadQueue& queue);
  ~PlaybackEngine();
  PlaybackEngine(const PlaybackEngine&) = delete;
  PlaybackEngine& operator=(const PlaybackEngine&) = delete;

  // Closes any previous playback and plays `source` from its current position. False
  // (holding nothing) when the source's status is not 0 or no device takes the format.
  bool Open(SourceRef source);
  void Close();
  // Enters scrub mode at the position; nothing when closed or already scrubbing.
  void Scrub();
  // Leaves scrub mode and streams on from the source's position; nothing unless scrubbing.
  void Resume();
  // Moves the play position while open, discarding everything queued.
  void Seek(std::int32_t frame);

  std::uint16_t State() const { return state_.load(); }
  // The source frame at the end of the last finished buffer.
  std::int32_t Position() const { return position_.load(); }
  std::int32_t BufferFrames() const { return buffer_frames_; }

  void SetListener(PlaybackListener* listener, int cookie);
  void SetDevice(int device_number) { device_number_ = device_number; }
  int Device() const { return device_number_; }
  void SetOutputFactory(OutputFactory factory) { factory_ = std::move(factory); }

  // The volume level v (a signed byte): both device channels get 0 for v <= -36, else
  // min((v + 36) × 1424, 65535). Reading gives left / 1424 - 36, clamped to -127 … 127,
  // with 0x8000 taken when there is no device to ask.
  void SetVolume(int level);
  int Volume() const;

  // Which worker thread a priority change is for.
  enum class Worker { kWriter, kCompletion };
  // Carries out the priority changes; SetThreadPriority unless replaced (tests record them).
  using PriorityHook = std::function<void(Worker worker, pid_t thread, ThreadPriority priority)>;
  void SetPriorityHook(PriorityHook hook) { priority_hook_ = std::move(hook); }

  // Buffers handed to the device and not yet given back (0 whenever the engine is closed).
  int BuffersAtDevice() const { return at_device_.load(); }

 private:
  struct BufferSlot {
    std::int32_t capacity = 0;  // bytes
    std::int16_t* data = nullptr;
    std::int32_t length = 0;    // bytes
    std::int32_t end_frame = 0; // source position at the end of the buffer's sound
    bool loop = false;
    LevelRecord levels;
    std::atomic<bool> free{true};
    std::atomic<bool> done{false};
  };

  void WriterLoop();
  // The writer found the ring full.
  void RingFull();
  void ChangePriority(Worker worker, ThreadPriority priority);
  void CompletionLoop();
  void StartWriter();
  void StopWriter();
  void StopCompletion();
  void OnDeviceCompletion(std::uintptr_t tag);
  // Converts `frames` frames of scratch into `target`.
  void Convert(std::int16_t* target, std::int32_t frames) const;
  void FillLevels(LevelRecord& levels, std::int32_t frames) const;
  void QueueSlot(int index);
  void RenderSnippet();
  // Runs on the user-interface thread for every record the worker threads post.
  void Notify();
  void PostNotify();
  std::int64_t Milliseconds(std::int64_t frames) const;

  MainThreadQueue& queue_;
  // Records posted by the workers check this before touching the engine, which may be
  // gone by the time they run. Created and released on the user-interface thread.
  std::shared_ptr<PlaybackEngine*> alive_;
  OutputFactory factory_;
  std::shared_ptr<WaveOutput> device_;

  PlaybackListener default_listener_;
  PlaybackListener* listener_ = &default_listener_;
  int cookie_ = 0;
  int device_number_ = 0;
  int volume_level_ = 0;
  bool volume_set_ = false;

  std::atomic<std::uint16_t> state_{kClosed};
  std::atomic<std::int32_t> position_{0};
  std::atomic<bool> end_reached_{false};
  std::atomic<bool> progress_pending_{false};
  std::atomic<int> at_device_{0};

  // Fixed while open; the ring and the source belong to the writer thread while it runs.
  SourceRef source_;
  std::int32_t source_length_ = 0;
  std::int32_t rate_ = 0;
  std::int32_t buffer_frames_ = 0;
  int channels_ = 1;
  std::vector<std::int16_t> block_;
  std::vector<std::int32_t> scratch_;
  std::array<BufferSlot, kPlaybackSlots> slots_;

  std::mutex levels_mutex_;
  LevelRecord current_levels_;

  // The events and stop requests, all under signal_mutex_.
  std::mutex signal_mutex_;
  std::condition_variable signal_;
  bool done_event_ = false;
  bool slot_freed_event_ = false;
  bool writer_stop_ = false;
  bool completion_stop_ = false;

  // Priority bookkeeping, shared by the two worker threads.
  PriorityHook priority_hook_;
  std::atomic<pid_t> writer_thread_{0};
  std::atomic<pid_t> completion_thread_{0};
  std::atomic<bool> completion_raised_writer_{false};
  std::atomic<int> completed_since_full_{0};
  bool completion_raised_ = false;  // by this writer thread, once in its life

  std::thread writer_;      // started and joined by the user-interface thread
  std::thread completion_;  // started and joined by the writer thread
};

}  // namespace sonavel
