#include "devices/playback_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>

#include "store/peak_limiter.h"
#include "store/stream.h"
#include "store/time.h"

namespace sonavel {
namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(1000);

}  // namespace

std::int64_t FramesToMilliseconds(std::int64_t frames, std::int32_t rate) {
  return rate <= 0 ? frames : FramesToMs(frames, rate);
}

std::int32_t PlaybackBufferFrames(std::int32_t rate) {
  return std::clamp(rate / 10, 20, 8192);
}

std::int8_t ChannelLevel(const std::int32_t* samples, int channel, std::int32_t frames,
                         int channels) {
  if (frames <= 0) return -127;
  // Each square fits 29 bits; 64 bits hold the sum of any buffer.
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < frames; ++i) {
    const std::int64_t s = samples[static_cast<std::size_t>(i) * channels + channel] >> 5;
    total += s * s;
  }
  const std::int64_t mean_square = total / frames;
  if (mean_square == 0) return -127;
  double x = 10.0 * std::log10(static_cast<double>(mean_square) * 1.1920903375594525e-07);
  x += mean_square >= 0x800012 ? 0.5 : -0.5;
  const double clamped = std::clamp(std::trunc(x), -127.0, 127.0);
  return static_cast<std::int8_t>(clamped);
}

PlaybackEngine::PlaybackEngine(MainThreadQueue& queue)
    : queue_(queue), alive_(std::make_shared<PlaybackEngine*>(this)) {
  factory_ = [](int device_number) {
    return std::shared_ptr<WaveOutput>(CreateWaveOutput(device_number));
  };
}

PlaybackEngine::~PlaybackEngine() {
  Close();
  alive_.reset();
}

void PlaybackEngine::SetListener(PlaybackListener* listener, int cookie) {
  listener_ = listener != nullptr ? listener : &default_listener_;
  cookie_ = cookie;
}

std::int64_t PlaybackEngine::Milliseconds(std::int64_t frames) const {
  return FramesToMilliseconds(frames, rate_);
}

bool PlaybackEngine::Open(SourceRef source) {
  Close();
  if (!source || source->status != kStatusOk) return false;
  source = LimitTo(std::move(source), kPlaybackPeakBound);

  const int channels = source->channels == 0 ? 1 : source->channels;
  const OutputFormat format{source->rate, channels, 16};
  std::shared_ptr<WaveOutput> device = factory_(device_number_);
  if (!device) return false;
  device->SetCompletion([this](std::uintptr_t tag) { OnDeviceCompletion(tag); });
  if (volume_set_) {
    const std::uint16_t value = LevelToDeviceVolume(volume_level_);
    device->SetVolume(value, value);
  }
  // The default device is the second chance, as the system's mapper would be.
  if (!device->Open(format, device_number_) &&
      (device_number_ == 0 || !device->Open(format, 0))) {
    return false;
  }
  device_ = std::move(device);

  source_ = std::move(source);
  source_length_ = source_->Length();
  rate_ = source_->rate;
  channels_ = channels;
  buffer_frames_ = PlaybackBufferFrames(rate_);
  scratch_.assign(static_cast<std::size_t>(buffer_frames_) * channels_, 0);
  const std::size_t share = static_cast<std::size_t>(buffer_frames_) * channels_;
  block_.assign(share * kPlaybackSlots, 0);
  for (int i = 0; i < kPlaybackSlots; ++i) {
    BufferSlot& slot = slots_[i];
    slot.data = block_.data() + share * i;
    slot.capacity = static_cast<std::int32_t>(share * 2);
    slot.length = slot.capacity;
    slot.end_frame = 0;
    slot.loop = false;
    slot.levels = LevelRecord{};
    slot.done.store(false);
    slot.free.store(true);
  }

  state_.store(kPlaying);
  end_reached_.store(false);
  progress_pending_.store(false);
  // The start is reported as it was: the threads may move the position on at once.
  const std::int32_t start = source_->Position();
  position_.store(start);
  // Reported before the threads start, so that a listener reading the position sees the
  // start, not how far a fast device has already played.
  listener_->OnStarted(cookie_);
  listener_->OnPosition(Milliseconds(start), cookie_);
  StartWriter();
  return true;
}

void PlaybackEngine::Close() {
  if (state_.load() == kClosed) return;
  StopWriter();
  device_->Reset();
  device_->Close();
  source_ = SourceRef();
  block_ = std::vector<std::int16_t>();
  scratch_ = std::vector<std::int32_t>();
  for (BufferSlot& slot : slots_) {
    slot.data = nullptr;
    slot.free.store(true);
    slot.done.store(false);
  }
  state_.store(kClosed);
  end_reached_.store(false);
  progress_pending_.store(false);
  position_.store(0);
  listener_->OnStopped(cookie_);
}

void PlaybackEngine::Scrub() {
  if (state_.load() != kPlaying) return;
  StopWriter();
  device_->Reset();
  source_->Seek(position_.load());
  position_.store(source_->Position());
  RenderSnippet();
  state_.store(kScrubbing);
  end_reached_.store(false);
  progress_pending_.store(false);
  listener_->OnScrubStarted(cookie_);
  listener_->OnPosition(Milliseconds(position_.load()), cookie_);
}

void PlaybackEngine::Resume() {
  if ((state_.load() & kOpenFlag) == 0) return;
  if (state_.load() == kScrubbing) {
    device_->Reset();
    state_.store(kPlaying);
    StartWriter();
  }
  listener_->OnStarted(cookie_);
}

void PlaybackEngine::Seek(std::int32_t frame) {
  if ((state_.load() & kOpenFlag) == 0) return;
  StopWriter();
  device_->Reset();
  source_->Seek(frame);
  position_.store(source_->Position());
  end_reached_.store(false);
  progress_pending_.store(false);
  const std::int32_t sought = position_.load();
  if (state_.load() == kScrubbing) {
    RenderSnippet();
  } else {
    StartWriter();
  }
  listener_->OnPosition(Milliseconds(sought), cookie_);
}

void PlaybackEngine::SetVolume(int level) {
  volume_level_ = std::clamp(level, -128, 127);
  volume_set_ = true;
  const std::uint16_t value = LevelToDeviceVolume(volume_level_);
  if (device_) device_->SetVolume(value, value);
}

int PlaybackEngine::Volume() const {
  std::uint16_t left = 0x8000;
  if (device_) {
    left = device_->VolumeLeft();
  } else if (volume_set_) {
    left = LevelToDeviceVolume(volume_level_);
  }
  return DeviceVolumeToLevel(left);
}

void PlaybackEngine::StartWriter() {
  if (writer_.joinable()) writer_.join();
  {
    std::lock_guard lock(signal_mutex_);
    writer_stop_ = false;
  }
  writer_ = std::thread([this] { WriterLoop(); });
}

void PlaybackEngine::StopWriter() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard lock(signal_mutex_);
    writer_stop_ = true;
  }
  signal_.notify_all();
  writer_.join();
}

void PlaybackEngine::StopCompletion() {
  if (!completion_.joinable()) return;
  {
    std::lock_guard lock(signal_mutex_);
    completion_stop_ = true;
  }
  signal_.notify_all();
  completion_.join();
}

void PlaybackEngine::OnDeviceCompletion(std::uintptr_t tag) {
  at_device_.fetch_sub(1);
  if (tag >= kPlaybackSlots) return;
  slots_[tag].done.store(true);
  {
    std::lock_guard lock(signal_mutex_);
    done_event_ = true;
  }
  signal_.notify_all();
}

void PlaybackEngine::Convert(std::int16_t* target, std::int32_t frames) const {
  const std::size_t samples = static_cast<std::size_t>(frames) * channels_;
  const std::int32_t* in = scratch_.data();
  std::size_t i = 0;
  for (; i + 8 <= samples; i += 8) {
    target[i] = StoreTo16(in[i]);
    target[i + 1] = StoreTo16(in[i + 1]);
    target[i + 2] = StoreTo16(in[i + 2]);
    target[i + 3] = StoreTo16(in[i + 3]);
    target[i + 4] = StoreTo16(in[i + 4]);
    target[i + 5] = StoreTo16(in[i + 5]);
    target[i + 6] = StoreTo16(in[i + 6]);
    target[i + 7] = StoreTo16(in[i + 7]);
  }
  for (; i < samples; ++i) target[i] = StoreTo16(in[i]);
}

void PlaybackEngine::FillLevels(LevelRecord& levels, std::int32_t frames) const {
  levels.count = static_cast<std::uint8_t>(channels_);
  for (int c = 0; c < channels_; ++c) {
    levels.level[c] = ChannelLevel(scratch_.data(), c, frames, channels_);
  }
}

void PlaybackEngine::QueueSlot(int index) {
  BufferSlot& slot = slots_[index];
  at_device_.fetch_add(1);
  if (!device_->Queue(slot.data, static_cast<std::size_t>(slot.length),
                      static_cast<std::uintptr_t>(index), slot.loop)) {
    // Refused: hand it back at once, as if it had been played.
    OnDeviceCompletion(static_cast<std::uintptr_t>(index));
  }
}

void PlaybackEngine::ChangePriority(Worker worker, ThreadPriority priority) {
  const pid_t thread = (worker == Worker::kWriter ? writer_thread_ : completion_thread_).load();
  if (priority_hook_) {
    priority_hook_(worker, thread, priority);
  } else {
    SetThreadPriority(thread, priority);
  }
}

void PlaybackEngine::RingFull() {
  completed_since_full_.store(0);
  if (!completion_raised_) {
    completion_raised_ = true;
    ChangePriority(Worker::kCompletion, ThreadPriority::kTimeCritical);
  }
  if (completion_raised_writer_.exchange(false)) ChangePriority(Worker::kWriter, ThreadPriority::kBelowNormal);
}

void PlaybackEngine::WriterLoop() {
  writer_thread_.store(CurrentThreadId());
  completion_raised_writer_.store(false);
  completed_since_full_.store(0);
  completion_raised_ = false;
  for (BufferSlot& slot : slots_) {
    slot.done.store(false);
    slot.loop = false;
    slot.free.store(true);
  }
  {
    std::lock_guard lock(signal_mutex_);
    completion_stop_ = false;
    done_event_ = false;
  }
  completion_thread_.store(0);
  completion_ = std::thread([this] {
    completion_thread_.store(CurrentThreadId());
    CompletionLoop();
  });
  // The completion thread names itself at once; its priority may be changed from here on.
  while (completion_thread_.load() == 0) std::this_thread::yield();

  // Resets the slot-freed event, then waits for it unless `free` already holds; false
  // when told to stop.
  auto wait_free = [this](const BufferSlot& slot) {
    std::unique_lock lock(signal_mutex_);
    slot_freed_event_ = false;
    if (writer_stop_) return false;
    if (slot.free.load()) return true;
    signal_.wait_for(lock, kWaitStep, [this] { return slot_freed_event_ || writer_stop_; });
    return !writer_stop_;
  };

  int index = 0;
  for (;;) {
    BufferSlot& slot = slots_[index];
    if (!slot.free.load()) RingFull();
    if (!wait_free(slot)) break;
    if (!slot.free.load()) continue;

    const std::int32_t available = source_length_ - source_->Position();
    if (available <= 0) {
      const BufferSlot& last = slots_[(index + kPlaybackSlots - 1) % kPlaybackSlots];
      bool stopped = false;
      while (!last.free.load()) {
        if (!wait_free(last)) {
          stopped = true;
          break;
        }
      }
      if (!stopped) {
        end_reached_.store(true);
        PostNotify();
      }
      break;
    }

    const std::int32_t frames = std::min(available, buffer_frames_);
    source_->Read(scratch_.data(), frames);
    Convert(slot.data, frames);
    FillLevels(slot.levels, frames);
    slot.done.store(false);
    slot.loop = false;
    slot.length = frames * channels_ * 2;
    // Where the source stands after the buffer: for a plain stream the start plus the
    // frames read, for a looping or cueing source wherever the loop or the cue has got to.
    slot.end_frame = source_->Position();
    slot.free.store(false);
    QueueSlot(index);
    index = (index + 1) % kPlaybackSlots;
  }

  StopCompletion();
  device_->Reset();
}

void PlaybackEngine::CompletionLoop() {
  int index = 0;
  for (;;) {
    {
      std::lock_guard lock(signal_mutex_);
      if (completion_stop_) return;
      done_event_ = false;
    }
    BufferSlot& slot = slots_[index];
    if (slot.done.load()) {
      position_.store(slot.end_frame);
      {
        std::lock_guard lock(levels_mutex_);
        current_levels_ = slot.levels;
      }
      slot.done.store(false);
      slot.free.store(true);
      {
        std::lock_guard lock(signal_mutex_);
        slot_freed_event_ = true;
      }
      signal_.notify_all();
      // The writer is falling behind: let it catch up.
      if (completed_since_full_.fetch_add(1) > 32 && !completion_raised_writer_.load()) {
        ChangePriority(Worker::kWriter, ThreadPriority::kTimeCritical);
        completion_raised_writer_.store(true);
      }
      progress_pending_.store(true);
      PostNotify();
      index = (index + 1) % kPlaybackSlots;
      continue;
    }
    std::unique_lock lock(signal_mutex_);
    signal_.wait_for(lock, kWaitStep, [this] { return done_event_ || completion_stop_; });
  }
}

void PlaybackEngine::RenderSnippet() {
  BufferSlot& slot = slots_[0];
  const std::int32_t quarter = (buffer_frames_ + 3) / 4;
  source_->Read(scratch_.data(), quarter);
  Convert(slot.data, quarter);
  const std::size_t frame_samples = static_cast<std::size_t>(channels_);
  const std::size_t copied = static_cast<std::size_t>(quarter) * frame_samples;
  const std::size_t total = static_cast<std::size_t>(buffer_frames_) * frame_samples;
  for (std::size_t at = copied; at < total; at += copied) {
    std::memcpy(slot.data + at, slot.data, std::min(copied, total - at) * sizeof(std::int16_t));
  }
  slot.done.store(false);
  slot.loop = true;
  slot.end_frame = source_->Position();
  slot.length = slot.capacity;
  FillLevels(slot.levels, quarter);
  slot.free.store(false);
  QueueSlot(0);
  listener_->OnLevels(slot.levels, cookie_);
}

void PlaybackEngine::PostNotify() {
  std::weak_ptr<PlaybackEngine*> alive = alive_;
  queue_.Post([alive] {
    if (const std::shared_ptr<PlaybackEngine*> engine = alive.lock()) (*engine)->Notify();
  });
}

void PlaybackEngine::Notify() {
  if (state_.load() == kClosed) return;
  if (end_reached_.load()) {
    listener_->OnPosition(Milliseconds(source_length_), cookie_);
    // The listener may have sought or closed meanwhile.
    if (end_reached_.load()) Close();
  } else if (progress_pending_.exchange(false)) {
    LevelRecord levels;
    {
      std::lock_guard lock(levels_mutex_);
      levels = current_levels_;
    }
    listener_->OnPosition(Milliseconds(position_.load()), cookie_);
    listener_->OnLevels(levels, cookie_);
  }
}

}  // namespace sonavel
