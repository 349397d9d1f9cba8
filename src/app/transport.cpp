#include "app/transport.h"

#include <algorithm>
#include <cmath>

#include "devices/cue_source.h"
#include "devices/repeat_source.h"
#include "devices/wave_output.h"
#include "effects/resampler.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/peak_limiter.h"
#include "store/segment_reader.h"
#include "store/sound.h"
#include "store/time.h"
#include "views/wave_mouse.h"

namespace sonavel {
namespace {

static_assert(setting::kPlaySpeed.fallback == kSpeedNormal);
// How far the winding buttons lower the volume with "ReduceVolWhenRewind".
constexpr int kRewindVolumeDrop = 8;
// The rate a device that refuses the sound's own rate is tried with.
constexpr std::int32_t kDeviceRate = 48000;
// Fast forward and rewind speed up from the first to the second factor over this time.
constexpr std::int32_t kCueSpanMs = 8000;

std::int32_t ClampFrame(std::int64_t frame, std::int64_t length) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(frame, 0, std::max<std::int64_t>(length, 0)));
}

}  // namespace

Transport::Transport(PlaybackEngine& engine, Settings& settings, Ui& ui, TransportView& view)
    : engine_(engine), settings_(settings), ui_(ui), view_(view) {
  engine_.SetListener(this, 0);
}

Transport::~Transport() {
  engine_.Close();
  engine_.SetListener(nullptr, 0);
}

int Transport::Speed() const {
  return std::clamp(settings_.Read(setting::kPlaySpeed), kSpeedSlow, kSpeedFast);
}

bool Transport::Repeat() const { return settings_.Read(setting::kPlayRepeat); }

void Transport::DocumentClosing(AudioDocument* document) {
  if (document == active_) active_ = nullptr;
  if (document != nullptr && document == playing_) engine_.Close();
}

bool Transport::OpenEngine(SourceRef source, AudioDocument* document, double scale) {
  // The options store the device's name; a number is taken as it is.
  const std::string device = settings_.Read(setting::kSoundOutDevice);
  engine_.SetDevice(device.empty() ? 0 : OutputDeviceNumber(device, OutputDeviceNames()));
  playing_ = document;
  scale_ = scale;
  source_ = source;
  if (engine_.Open(source)) return true;
  // A device that takes only its own rate gets the sound converted to the common one;
  // positions then count in frames of that rate.
  if (source->rate != kDeviceRate && source->status == kStatusOk) {
    const std::int32_t position = source->Position();
    SourceRef converted = ConvertFormat(source, kDeviceRate, source->channels, StoredResampleQuality(settings_));
    converted->Seek(static_cast<std::int32_t>(std::int64_t{position} * kDeviceRate / source->rate));
    scale_ = scale * source->rate / kDeviceRate;
    source_ = converted;
    if (engine_.Open(converted)) return true;
  }
  playing_ = nullptr;
  source_ = SourceRef();
  return false;
}

bool Transport::Play(bool keep_cursor) {
  AudioDocument* document = active_;
  if (document == nullptr) return false;
  if (engine_.State() == PlaybackEngine::kScrubbing) {
    engine_.Resume();
    return true;
  }
  return Start(*document, keep_cursor, true);
}

bool Transport::Start(AudioDocument& target, bool keep_cursor, bool use_selection) {
  AudioDocument* document = &target;
  engine_.Close();
  previewing_ = false;

  EditState& state = document->state;
  const std::int64_t length = SoundLength(document->sound);
  const std::int32_t rate = document->sound.rate;
  if (!keep_cursor && state.cursor > length - rate) state.cursor = 0;

  SourceRef source;
  const bool selection = use_selection && state.selection_end > state.selection_start;
  if (selection) {
    // The source ends at the selection's end, so playback stops there; its frames are
    // the document's.
    state.cursor = state.selection_start;
    Sound range(document->sound.rate, document->sound.channels);
    CopyRange(document->sound, range, 0, state.selection_end);
    source = OpenSoundReader(range);
  } else {
    source = OpenSoundReader(document->sound);
  }
  if (state.cursor != 0) source->Seek(state.cursor);

  // Slow and fast play through the speed changer; its frames are shorter or longer than
  // the document's by the factor, so positions and the loop are scaled by it.
  const int speed = Speed();
  double factor = 1.0;
  if (speed != kSpeedNormal) {
    factor = (speed + 1) * 0.5;
    source = MakeSpeedChanger(source, factor);
    source->Seek(static_cast<std::int32_t>(std::floor(state.cursor / factor)));
  }
  // Limited before the loop, so that the loop's jumps pass straight to the engine, whose
  // position then follows them.
  source = LimitTo(source, kPlaybackPeakBound);
  if (Repeat()) {
    std::int64_t loop_start = 0;
    std::int64_t loop_end = FramesToMs(source->Length(), source->rate);
    if (selection) {
      loop_start = static_cast<std::int64_t>(FramesToMs(state.selection_start, rate) / factor);
      loop_end = static_cast<std::int64_t>(FramesToMs(state.selection_end, rate) / factor);
    }
    const std::int32_t position = source->Position();
    source = MakeRepeatSource(source, loop_start, loop_end);
    source->Seek(position);
  }
  document->Notify(kCursorChanged);
  if (!OpenEngine(source, document, factor)) {
    ui_.ShowMessage({kNoOutputDeviceText, "Sonavel", MessageIcon::kInformation, MessageButtons::kOk});
    return false;
  }
  return true;
}

void Transport::Stop() {
  engine_.Close();
  previewing_ = false;
}

void Transport::Scrub() {
  if (engine_.State() == PlaybackEngine::kClosed && !Play()) return;
  engine_.Scrub();
}

void Transport::ScrubButton() {
  if (engine_.State() == PlaybackEngine::kScrubbing)
    Play();
  else
    Scrub();
}

void Transport::GoToStart() {
  if (engine_.State() != PlaybackEngine::kClosed) {
    engine_.Seek(0);
    return;
  }
  if (active_ != nullptr) MoveCursor(*active_, 0, true);
}

void Transport::GoToEnd() {
  if (engine_.State() == PlaybackEngine::kClosed) {
    if (active_ != nullptr) MoveCursor(*active_, SoundLength(active_->sound), true);
    return;
  }
  if (!source_) return;
  std::int64_t target = source_->Length();
  if (engine_.State() != PlaybackEngine::kScrubbing) target = std::max<std::int64_t>(target - source_->rate, 0);
  engine_.Seek(static_cast<std::int32_t>(target));
}

void Transport::Press(Direction direction) {
  AudioDocument* document = active_;
  if (document == nullptr) return;
  if (running(direction)) return;
  const Direction other = direction == Direction::kRewind ? Direction::kForward : Direction::kRewind;
  if (running(other)) Release(other);

  const std::uint16_t state = engine_.State();
  resume_ = state == PlaybackEngine::kClosed      ? Resume::kNothing
            : state == PlaybackEngine::kScrubbing ? Resume::kScrub
                                                  : Resume::kPlay;
  const bool large = state != PlaybackEngine::kScrubbing;
  engine_.Close();
  previewing_ = false;

  const int sign = static_cast<int>(direction);
  const std::int32_t rate = document->sound.rate;
  const std::int64_t length = SoundLength(document->sound);
  const std::int32_t step = large ? rate / 5 : rate / 10;
  MoveCursor(*document, static_cast<std::int64_t>(document->state.cursor) + sign * step, false);

  // The limiter goes inside the cue, which then stays within what 16 bits hold: the
  // engine's own limiter would read ahead across the cue's jumps.
  SourceRef source = LimitTo(OpenSoundReader(document->sound), kPlaybackPeakBound);
  source->Seek(ClampFrame(document->state.cursor, length));
  source = large ? MakeCueSource(source, sign * 0.5, sign * 7.0, kCueSpanMs)
                 : MakeCueSource(source, sign * 0.1, sign * 3.0, kCueSpanMs);

  if (settings_.Read(setting::kReduceVolWhenRewind) && !volume_lowered_) {
    volume_lowered_ = true;
    engine_.SetVolume(std::max(engine_.Volume() - kRewindVolumeDrop, -127));
  }
  // Without a device the winding goes on silently, as the cursor still moves.
  OpenEngine(source, document, 1.0);
  (direction == Direction::kRewind ? rewinding_ : forwarding_) = true;
}

void Transport::Release(Direction direction) {
  if (!running(direction)) return;
  if (volume_lowered_) {
    volume_lowered_ = false;
    engine_.SetVolume(std::min(engine_.Volume() + kRewindVolumeDrop, 127));
  }
  engine_.Close();
  rewinding_ = false;
  forwarding_ = false;
  const Resume resume = resume_;
  resume_ = Resume::kNothing;
  if (resume == Resume::kScrub) Scrub();
  if (resume == Resume::kPlay) Play();
}

void Transport::SetSpeed(int speed) {
  settings_.Write(setting::kPlaySpeed, std::clamp(speed, kSpeedSlow, kSpeedFast));
  Play();
}

void Transport::ToggleRepeat() { settings_.Write(setting::kPlayRepeat, !Repeat()); }

void Transport::ShiftDown() {
  if (active_ == nullptr) return;
  shift_held_ = true;
  anchor_ = active_->state.cursor;
}

bool Transport::Preview(SourceRef source) {
  engine_.Close();
  previewing_ = OpenEngine(std::move(source), nullptr, 1.0);
  return previewing_;
}

void Transport::StopPreview() {
  if (previewing_) engine_.Close();
  previewing_ = false;
}

void Transport::PlayFrom(AudioDocument& document, std::int32_t frame) {
  // After an edit the lead-in counts: playback starts at `frame`, selection or not.
  active_ = &document;
  document.state.cursor = frame;
  Start(document, true, false);
}

void Transport::OnStarted(int) { view_.ShowTransportState(engine_.State()); }

void Transport::OnStopped(int) {
  playing_ = nullptr;
  source_ = SourceRef();
  previewing_ = false;
  view_.ShowTransportState(PlaybackEngine::kClosed);
  LevelRecord silent;
  silent.count = 1;
  silent.level[0] = -127;
  view_.ShowLevels(silent);
  if (active_ != nullptr) active_->Notify(kCursorChanged);
}

void Transport::OnScrubStarted(int) { view_.ShowTransportState(engine_.State()); }

void Transport::OnPosition(std::int64_t, int) {
  // The engine's frame, not its milliseconds: at another speed they differ by the factor.
  if (playing_ == nullptr) return;
  MoveCursor(*playing_, std::llround(engine_.Position() * scale_), false);
}

void Transport::ApplyCursor(AudioDocument& document) {
  if (engine_.State() != PlaybackEngine::kClosed && playing_ == &document) {
    // The engine counts frames of what it plays, which are the document's divided by the
    // speed factor.
    engine_.Seek(static_cast<std::int32_t>(std::floor(document.state.cursor / scale_)));
    return;
  }
  document.Notify(kCursorChanged);
}

void Transport::OnLevels(const LevelRecord& levels, int) {
  if (engine_.State() != PlaybackEngine::kClosed) view_.ShowLevels(levels);
}

void Transport::MoveCursor(AudioDocument& document, std::int64_t frame, bool collapse) {
  const std::int64_t length = SoundLength(document.sound);
  EditState& state = document.state;
  const std::int32_t cursor = ClampFrame(frame, length);
  unsigned changes = kCursorChanged;
  if (extend_selection_) {
    state.selection_start = std::min(anchor_, cursor);
    state.selection_end = std::max(anchor_, cursor);
    changes |= kSelectionChanged;
  } else if (collapse || state.selection_end <= state.selection_start) {
    if (state.selection_start != cursor || state.selection_end != cursor) changes |= kSelectionChanged;
    state.selection_start = cursor;
    state.selection_end = cursor;
  }
  state.cursor = cursor;
  const FrameRange view =
      KeepCursorVisible(FrameRange{state.view_start, state.view_end}, cursor, length);
  if (view.start != state.view_start || view.end != state.view_end) {
    state.view_start = static_cast<std::int32_t>(view.start);
    state.view_end = static_cast<std::int32_t>(view.end);
    changes |= kViewChanged;
  }
  document.Notify(changes);
}

}  // namespace sonavel
