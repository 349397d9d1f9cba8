#include "devices/alsa_output.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "devices/null_output.h"

namespace sonavel {

namespace {

// alsa-lib prints its own complaints (an "Unknown PCM" while probing for a card, say) to
// standard error; the reasons reach the user through error() instead.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaOnce() {
  static const bool silenced = [] {
    snd_lib_error_set_handler(&QuietAlsaErrors);
    return true;
  }();
  (void)silenced;
}

std::string AlsaError(const char* what, const std::string& name, int code) {
  return std::string(what) + " \"" + name + "\": " + snd_strerror(code);
}

}  // namespace

std::vector<std::string> OutputDeviceNames() {
  std::vector<std::string> names;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return names;
  for (void** hint = hints; *hint != nullptr; ++hint) {
    char* name = snd_device_name_get_hint(*hint, "NAME");
    char* direction = snd_device_name_get_hint(*hint, "IOID");
    // Hints without a direction serve both; "default" is device 0 and "null" is silence.
    if (name != nullptr && (direction == nullptr || std::strcmp(direction, "Output") == 0) &&
        std::strcmp(name, "default") != 0 && std::strcmp(name, "null") != 0)
      names.emplace_back(name);
    std::free(name);
    std::free(direction);
  }
  snd_device_name_free_hint(hints);
  return names;
}

std::string AlsaDeviceName(int device_number) {
  if (device_number == 0) return "default";
  if (device_number < 0) return {};
  const std::vector<std::string> names = OutputDeviceNames();
  if (static_cast<std::size_t>(device_number) > names.size()) return {};
  return names[static_cast<std::size_t>(device_number) - 1];
}

std::unique_ptr<WaveOutput> CreateWaveOutputOn(const std::string& alsa_name) {
  if (!alsa_name.empty()) {
    snd_pcm_t* probe = nullptr;
    SilenceAlsaOnce();
    if (snd_pcm_open(&probe, alsa_name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) ==
        0) {
      snd_pcm_close(probe);
      return std::make_unique<AlsaOutput>(alsa_name);
    }
  }
  return std::make_unique<NullOutput>();
}

AlsaOutput::~AlsaOutput() { Close(); }

bool AlsaOutput::Open(const OutputFormat& format, int device_number) {
  Close();
  error_.clear();
  if (!AcceptFormat(format)) return false;
  pcm_name_ = fixed_name_.empty() ? AlsaDeviceName(device_number) : fixed_name_;
  if (pcm_name_.empty())
    return Fail("there is no output device number " + std::to_string(device_number));
  snd_pcm_t* pcm = nullptr;
  SilenceAlsaOnce();
  const int opened = snd_pcm_open(&pcm, pcm_name_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (opened < 0) return Fail(AlsaError("cannot open ALSA device", pcm_name_, opened));
  pcm_ = pcm;
  if (!Configure(format)) {
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
    return false;
  }
  std::lock_guard lock(mutex_);
  queue_.clear();
  queued_end_ = written_ = played_ = 0;
  paused_ = hardware_paused_ = stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

bool AlsaOutput::Configure(const OutputFormat& format) {
  snd_pcm_hw_params_t* hw = nullptr;
  if (snd_pcm_hw_params_malloc(&hw) < 0) return Fail("out of memory");
  std::unique_ptr<snd_pcm_hw_params_t, void (*)(snd_pcm_hw_params_t*)> hw_owner(
      hw, snd_pcm_hw_params_free);
  int result = snd_pcm_hw_params_any(pcm_, hw);
  if (result >= 0) result = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (result >= 0) result = snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE);
  if (result < 0) return Fail(AlsaError("no 16-bit interleaved playback on", pcm_name_, result));
  result = snd_pcm_hw_params_set_channels(pcm_, hw, static_cast<unsigned>(format.channels));
  if (result < 0)
    return Fail(AlsaError(
        (std::to_string(format.channels) + " channels are not supported by").c_str(),
        pcm_name_, result));
  result = snd_pcm_hw_params_set_rate(pcm_, hw, static_cast<unsigned>(format.rate), 0);
  if (result < 0)
    return Fail(AlsaError((std::to_string(format.rate) + " Hz is not supported by").c_str(),
                          pcm_name_, result));
  unsigned buffer_time = 40000;  // microseconds
  unsigned period_time = 10000;
  int direction = 0;
  snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &buffer_time, &direction);
  direction = 0;
  snd_pcm_hw_params_set_period_time_near(pcm_, hw, &period_time, &direction);
  result = snd_pcm_hw_params(pcm_, hw);
  if (result < 0) return Fail(AlsaError("cannot set up", pcm_name_, result));
  snd_pcm_uframes_t period = 0;
  snd_pcm_uframes_t buffer = 0;
  direction = 0;
  snd_pcm_hw_params_get_period_size(hw, &period, &direction);
  snd_pcm_hw_params_get_buffer_size(hw, &buffer);
  period_frames_ = static_cast<long>(std::max<snd_pcm_uframes_t>(period, 1));
  buffer_frames_ = static_cast<long>(std::max<snd_pcm_uframes_t>(buffer, 1));
  can_pause_ = snd_pcm_hw_params_can_pause(hw) != 0;

  snd_pcm_sw_params_t* sw = nullptr;
  if (snd_pcm_sw_params_malloc(&sw) < 0) return Fail("out of memory");
  std::unique_ptr<snd_pcm_sw_params_t, void (*)(snd_pcm_sw_params_t*)> sw_owner(
      sw, snd_pcm_sw_params_free);
  result = snd_pcm_sw_params_current(pcm_, sw);
  if (result >= 0)
    result = snd_pcm_sw_params_set_start_threshold(
        pcm_, sw, static_cast<snd_pcm_uframes_t>(period_frames_));
  if (result >= 0)
    result = snd_pcm_sw_params_set_avail_min(pcm_, sw,
                                             static_cast<snd_pcm_uframes_t>(period_frames_));
  if (result >= 0) result = snd_pcm_sw_params(pcm_, sw);
  if (result < 0) return Fail(AlsaError("cannot set up", pcm_name_, result));
  result = snd_pcm_prepare(pcm_);
  if (result < 0) return Fail(AlsaError("cannot prepare", pcm_name_, result));
  return true;
}

void AlsaOutput::Close() {
  if (pcm_ == nullptr) return;
  Reset();
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  snd_pcm_drop(pcm_);
  snd_pcm_close(pcm_);
  pcm_ = nullptr;
  paused_ = hardware_paused_ = false;
}

bool AlsaOutput::IsOpen() const { return pcm_ != nullptr; }

bool AlsaOutput::Queue(const void* data, std::size_t bytes, std::uintptr_t tag, bool loop) {
  const std::size_t frame_bytes = static_cast<std::size_t>(format_.channels) * 2;
  std::lock_guard lock(mutex_);
  if (pcm_ == nullptr || data == nullptr || bytes == 0 || bytes % frame_bytes != 0)
    return false;
  const auto frames = static_cast<std::int64_t>(bytes / frame_bytes);
  queue_.push_back({static_cast<const std::int16_t*>(data), frames, tag, loop, queued_end_});
  queued_end_ += frames;
  wake_.notify_all();
  return true;
}

std::int64_t AlsaOutput::PlayedNow() const {
  if (paused_ || written_ == played_) return played_;
  const snd_pcm_state_t state = snd_pcm_state(pcm_);
  if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SETUP) {
    // Everything written has left before the device ran dry.
    played_ = written_;
    return played_;
  }
  snd_pcm_sframes_t delay = 0;
  const int result = snd_pcm_delay(pcm_, &delay);
  if (result == -EPIPE) {
    played_ = written_;
  } else if (result == 0) {
    delay = std::clamp<snd_pcm_sframes_t>(delay, 0, written_ - played_);
    played_ = std::max(played_, written_ - delay);
  }
  return played_;
}

std::int64_t AlsaOutput::Position() const {
  std::lock_guard lock(mutex_);
  if (pcm_ == nullptr) return 0;
  return PlayedNow();
}

bool AlsaOutput::WriteSome() {
  const Pending* source = nullptr;
  std::int64_t offset = 0;
  for (const Pending& pending : queue_) {
    if (pending.loop) {
      source = &pending;
      offset = (written_ - pending.start) % pending.frames;
      break;
    }
    if (written_ < pending.start + pending.frames) {
      source = &pending;
      offset = written_ - pending.start;
      break;
    }
  }
  if (source == nullptr) return false;
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
  if (avail < 0) {
    PlayedNow();
    if (snd_pcm_recover(pcm_, static_cast<int>(avail), 1) < 0) snd_pcm_prepare(pcm_);
    played_ = written_;
    return true;
  }
  if (avail == 0) return false;
  const std::int64_t frames = std::min<std::int64_t>(avail, source->frames - offset);
  const std::size_t channels = static_cast<std::size_t>(format_.channels);
  staging_.resize(static_cast<std::size_t>(frames) * channels);
  CopyWithVolume(source->data + offset * static_cast<std::int64_t>(channels), staging_.data(),
                 static_cast<std::size_t>(frames));
  const snd_pcm_sframes_t result =
      snd_pcm_writei(pcm_, staging_.data(), static_cast<snd_pcm_uframes_t>(frames));
  if (result == -EAGAIN) return false;
  if (result < 0) {
    // An underrun or a suspended device: what was written has gone.
    if (snd_pcm_recover(pcm_, static_cast<int>(result), 1) < 0) snd_pcm_prepare(pcm_);
    played_ = written_;
    return true;
  }
  written_ += result;
  return result > 0;
}

void AlsaOutput::Run() {
  const auto poll = std::chrono::microseconds(
      std::clamp<long>(period_frames_ * 500000L / format_.rate, 1000, 20000));
  // Frames written since the thread last waited: a device that takes everything at once
  // (the "null" PCM) must not keep the lock from the owner.
  long burst = 0;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (paused_ || resetting_ || queue_.empty()) {
      burst = 0;
      wake_.wait(lock);
      continue;
    }
    const std::int64_t played = PlayedNow();
    const Pending& head = queue_.front();
    if (!head.loop && head.start + head.frames <= played) {
      const std::uintptr_t tag = head.tag;
      queue_.pop_front();
      delivering_ = true;
      lock.unlock();
      Complete(tag);
      lock.lock();
      delivering_ = false;
      wake_.notify_all();
      continue;
    }
    const std::int64_t before = written_;
    if (burst < buffer_frames_ && WriteSome()) {
      burst += static_cast<long>(std::max<std::int64_t>(written_ - before, 0));
      continue;
    }
    burst = 0;
    // The device is full, or everything is written and playing out. A stream holding
    // less than its start threshold is started by hand.
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && written_ > played_)
      snd_pcm_start(pcm_);
    wake_.wait_for(lock, poll);
  }
}

void AlsaOutput::Pause() {
  std::lock_guard lock(mutex_);
  if (pcm_ == nullptr || paused_) return;
  PlayedNow();
  hardware_paused_ = can_pause_ && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING &&
                     snd_pcm_pause(pcm_, 1) == 0;
  if (!hardware_paused_) {
    // Without hardware pause the unplayed frames are dropped and written again later.
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    written_ = played_;
  }
  paused_ = true;
}

void AlsaOutput::Restart() {
  {
    std::lock_guard lock(mutex_);
    if (pcm_ == nullptr || !paused_) return;
    if (hardware_paused_ && snd_pcm_pause(pcm_, 0) < 0) {
      snd_pcm_drop(pcm_);
      snd_pcm_prepare(pcm_);
      written_ = played_;
    }
    hardware_paused_ = false;
    paused_ = false;
  }
  wake_.notify_all();
}

void AlsaOutput::Reset() {
  std::deque<Pending> dropped;
  {
    std::unique_lock lock(mutex_);
    if (pcm_ == nullptr) return;
    wake_.wait(lock, [this] { return !delivering_; });
    resetting_ = true;
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
    hardware_paused_ = false;
    dropped.swap(queue_);
    queued_end_ = written_ = played_ = 0;
  }
  for (const Pending& pending : dropped) Complete(pending.tag);
  {
    std::lock_guard lock(mutex_);
    resetting_ = false;
  }
  wake_.notify_all();
}

}  // namespace sonavel
