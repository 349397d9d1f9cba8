#include "effects/click_repair.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "effects/clip_filters.h"
#include "effects/effect_groups.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

constexpr int kManualSensitivity = 35;
constexpr int kLongestClickUs = 450;
constexpr int kAutoSensitivity = 50;
constexpr int kHighestLongestClickUs = 10000;

// Hands the high-pass what its owner just read, so that the audio and its detection copy
// come from one read of the upstream source.
class FeedSource final : public SampleSource {
 public:
  FeedSource(std::int32_t rate, std::uint8_t channels) : SampleSource(rate, channels, 0x7FFFFFFF) {}
  void Read(std::int32_t* buffer, std::int32_t frames) override {
    std::memcpy(buffer, next, sizeof(std::int32_t) * static_cast<std::size_t>(frames) * channels);
  }
  const std::int32_t* next = nullptr;
};

}  // namespace

// Reads audio and its copy high-passed at the detection frequency side by side.
class DetectionReader {
 public:
  explicit DetectionReader(SampleSource& source) : source_(source) {
    auto feed = MakeCounted<FeedSource>(source.rate, source.channels);
    feed_ = feed.get();
    high_pass_ = MakeCounted<HighPassFilter>(std::move(feed), kClickDetectionHz);
  }
  // Appends `frames` frames to `audio` and their high-passed copy to `high`.
  void Read(std::vector<std::int32_t>& audio, std::vector<std::int32_t>& high, std::int32_t frames) {
    if (frames <= 0) return;
    const std::size_t samples = static_cast<std::size_t>(frames) * source_.channels;
    const std::size_t at = audio.size();
    audio.resize(at + samples);
    high.resize(at + samples);
    source_.Read(audio.data() + at, frames);
    feed_->next = audio.data() + at;
    high_pass_->Read(high.data() + at, frames);
  }
  // The high-pass starts afresh (after a seek of the source).
  void Restart() { high_pass_->Seek(0); }

 private:
  SampleSource& source_;
  FeedSource* feed_;  // held by the high-pass
  SourceRef high_pass_;
};

namespace {

std::int64_t Magnitude(const std::int32_t* h, int stride, std::int32_t frame) {
  return std::abs(std::int64_t{h[static_cast<std::ptrdiff_t>(frame) * stride]});
}

}  // namespace

ClickThresholds WindowThresholds(const std::int32_t* h, int stride, std::int32_t length, std::int32_t lag,
                                 std::int64_t sensitivity) {
  if (length <= 0) return {};
  std::int64_t level_sum = 0;
  for (std::int32_t j = 0; j < length; ++j) level_sum += Magnitude(h, stride, j);
  const std::int64_t c = level_sum / length;
  std::int64_t e = 0;
  std::int64_t sigma = 0;
  const std::int32_t pairs = length - lag;
  if (pairs > 0) {
    auto change = [&](std::int32_t j) {
      return std::abs(std::int64_t{h[static_cast<std::ptrdiff_t>(j) * stride]} -
                      h[static_cast<std::ptrdiff_t>(j - lag) * stride]);
    };
    std::int64_t change_sum = 0;
    for (std::int32_t j = lag; j < length; ++j) change_sum += change(j);
    e = change_sum / pairs;
    double deviation = 0.0;
    for (std::int32_t j = lag; j < length; ++j) {
      const double d = static_cast<double>(change(j) - e);
      deviation += d * d;
    }
    sigma = static_cast<std::int64_t>(std::sqrt(deviation / pairs));
  }
  return {(sigma * sensitivity / 50 + e + 100) * (sensitivity / 10), e + c * sensitivity / 50};
}

std::int32_t FindClicks(const ClickScan& scan, const std::int32_t* h, int stride, std::int32_t length,
                        ClickThresholds thresholds, std::int32_t first, std::int32_t stop, int channel,
                        std::vector<ClickSpan>& spans) {
  // The click's end n must leave its right anchor n + lag inside the window.
  const std::int32_t last_end = length - 1 - scan.lag;
  stop = std::min(stop, length);
  std::int32_t resume = first;
  std::int32_t j = std::max(first, scan.lag + scan.left_extra);
  while (j < stop) {
    const std::int64_t level = Magnitude(h, stride, j);
    const std::int64_t rise = level - Magnitude(h, stride, j - scan.lag);
    const bool click = scan.strict ? rise > thresholds.jump && level > thresholds.level
                                   : rise >= thresholds.jump && level >= thresholds.level;
    if (!click) {
      ++j;
      continue;
    }
    const std::int32_t search_end = std::min<std::int64_t>(std::int64_t{j} + scan.longest, last_end);
    std::int32_t n = j + 1;
    while (n <= search_end && Magnitude(h, stride, n) * 3 >= level) ++n;
    if (n <= search_end) {
      spans.push_back({channel, j - scan.lag - scan.left_extra, n + scan.lag});
      j = n + scan.lag + 1;
      resume = j;
    } else {
      thresholds.jump += thresholds.jump / 2;
      thresholds.level += thresholds.level / 2;
      j = std::max(search_end, j + 1);
    }
  }
  return resume;
}

void MendClick(std::int32_t* audio, int stride, std::int32_t left, std::int32_t right) {
  const std::int64_t from = audio[static_cast<std::ptrdiff_t>(left) * stride];
  const std::int64_t to = audio[static_cast<std::ptrdiff_t>(right) * stride];
  const std::int64_t width = right - left;
  for (std::int32_t k = left + 1; k < right; ++k)
    audio[static_cast<std::ptrdiff_t>(k) * stride] = static_cast<std::int32_t>(from + (to - from) * (k - left) / width);
}

// ---- The manual filter ----

ClickRepairFilter::ClickRepairFilter(SourceRef source, int sensitivity_value, int longest_us, std::int32_t end)
    : FilterSource(std::move(source)), end_(end) {
  sensitivity = static_cast<std::int8_t>(std::clamp(sensitivity_value, -128, 127));
  const std::int32_t r = rate / 22050;
  window = rate / 100;
  lag = r + 1;
  const std::int64_t frames = std::int64_t{rate} * std::max(longest_us, 0) / 1000000;
  longest = static_cast<std::int32_t>(std::clamp<std::int64_t>(frames, 4, rate));
  window = std::max(window, 2 * longest);
  span = std::max(window - 2 * r - longest - 2, 1);
  detection_ = std::make_unique<DetectionReader>(*upstream);
}

ClickRepairFilter::~ClickRepairFilter() = default;

void ClickRepairFilter::Pull(std::int32_t frames) {
  detection_->Read(audio_, high_, frames);
  CheckUpstream();
  filled_ += frames;
}

void ClickRepairFilter::ProcessWindow() {
  if (filled_ < ready_ + window) Pull(ready_ + window - filled_);
  // Nothing is mended across the end of the selection.
  const std::int64_t to_end = std::int64_t{end_} - position_ - ready_;
  const std::int32_t length = static_cast<std::int32_t>(std::clamp<std::int64_t>(to_end, 0, window));
  const ClickScan scan{lag, longest, false, 0};
  std::vector<ClickSpan> spans;
  for (int ch = 0; ch < channels; ++ch) {
    const std::int32_t* h = high_.data() + static_cast<std::size_t>(ready_) * channels + ch;
    const ClickThresholds thresholds = WindowThresholds(h, channels, length, lag, sensitivity);
    FindClicks(scan, h, channels, length, thresholds, lag, lag + span, ch, spans);
  }
  std::int32_t* audio = audio_.data() + static_cast<std::size_t>(ready_) * channels;
  for (const ClickSpan& click : spans) MendClick(audio + click.channel, channels, click.left, click.right);
  ready_ += span;
}

void ClickRepairFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  if (frames <= 0) return;
  while (ready_ < frames) ProcessWindow();
  const std::size_t samples = static_cast<std::size_t>(frames) * channels;
  std::copy_n(audio_.begin(), samples, buffer);
  audio_.erase(audio_.begin(), audio_.begin() + static_cast<std::ptrdiff_t>(samples));
  high_.erase(high_.begin(), high_.begin() + static_cast<std::ptrdiff_t>(samples));
  filled_ -= frames;
  ready_ -= frames;
  position_ += frames;
}

void ClickRepairFilter::Seek(std::int32_t frame) {
  upstream->Seek(frame);
  detection_->Restart();
  audio_.clear();
  high_.clear();
  filled_ = 0;
  ready_ = 0;
  position_ = frame;
}

// ---- The automatic runner ----

namespace {

// Writes the mended spans (absolute frames) through one block writer and splices them all
// in place of their frames in one pass. Spans that overlap or touch are written as one range, mended in
// order, so that a line starting inside an earlier one starts from its mended value.
Result SpliceMended(Sound& sound, std::vector<ClickSpan>& clicks) {
  if (clicks.empty()) return kDone;
  std::stable_sort(clicks.begin(), clicks.end(),
                   [](const ClickSpan& a, const ClickSpan& b) { return a.left < b.left; });
  const int channels = sound.channels;
  struct Range {
    std::int32_t start, end, first, last;  // frames [start, end), clicks [first, last)
  };
  std::vector<Range> ranges;
  for (std::size_t i = 0; i < clicks.size(); ++i) {
    const std::int32_t start = clicks[i].left + 1;
    const std::int32_t end = clicks[i].right;
    if (start >= end) continue;
    if (!ranges.empty() && start <= ranges.back().end) {
      ranges.back().end = std::max(ranges.back().end, end);
      ranges.back().last = static_cast<std::int32_t>(i + 1);
    } else {
      ranges.push_back({start, end, static_cast<std::int32_t>(i), static_cast<std::int32_t>(i + 1)});
    }
  }
  Sound mended(sound.rate, sound.channels);
  {
    SourceRef reader = OpenSoundReader(sound);
    SinkRef writer = CreateBlockWriter(mended, sound.rate, sound.channels);
    std::vector<std::int32_t> frames;
    for (const Range& range : ranges) {
      // The range with one frame either side, where the lines' ends lie.
      const std::int32_t count = range.end - range.start + 2;
      frames.assign(static_cast<std::size_t>(count) * channels, 0);
      reader->Seek(range.start - 1);
      reader->Read(frames.data(), count);
      for (std::int32_t i = range.first; i < range.last; ++i) {
        const ClickSpan& click = clicks[i];
        MendClick(frames.data() + click.channel, channels, click.left - (range.start - 1),
                  click.right - (range.start - 1));
      }
      writer->Write(frames.data() + channels, range.end - range.start);
    }
    if ((writer->status & kSinkWriteFailed) != 0) return kFailed;
  }
  std::vector<std::pair<std::int32_t, std::int32_t>> spliced;
  spliced.reserve(ranges.size());
  for (const Range& range : ranges) spliced.emplace_back(range.start, range.end);
  ReplaceRanges(sound, spliced, mended);
  return kDone;
}

}  // namespace

Result RepairClicks(EffectRun& run, int sensitivity, int longest_us) {
  Sound& sound = run.sound;
  run.progress.SetTexts("Click Detecting", "Bitte warten...");
  if (run.end <= run.start) return kDone;
  const std::int32_t rate = sound.rate;
  const int channels = sound.channels;
  const std::int32_t window = ((rate / 100) / 4 + 1) * 4;  // C
  const std::int32_t half = window / 2;
  const std::int32_t lag = rate / 44100 + 1;
  const std::int32_t first = window / 4 + lag;
  const std::int64_t m = std::max(100 - sensitivity, 1);
  const std::int32_t longest = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(std::int64_t{longest_us} * rate / 1000000, 1, window));
  const ClickScan scan{lag, longest, true, 1};

  SourceRef reader = OpenSoundReader(sound);
  if (run.start > 0) reader->Seek(run.start);
  DetectionReader detection(*reader);
  std::vector<std::int32_t> audio;
  std::vector<std::int32_t> high;
  std::vector<ClickSpan> clicks;
  std::vector<ClickSpan> spans;
  // Per channel, the frame after the last click found: the next window scans from there.
  std::vector<std::int64_t> resume(channels, 0);
  const std::int64_t total = std::int64_t{run.end} - run.start;
  std::int64_t start = run.start;  // the window's first frame
  detection.Read(audio, high, static_cast<std::int32_t>(std::min<std::int64_t>(window, total)));
  while (start < run.end) {
    if (run.progress.Pump()) return kCancelled;
    // The last window ends with the selection: nothing past it is read or mended.
    const std::int32_t length = static_cast<std::int32_t>(std::min<std::int64_t>(window, run.end - start));
    for (int ch = 0; ch < channels; ++ch) {
      const std::int32_t* h = high.data() + ch;
      const ClickThresholds thresholds = WindowThresholds(h, channels, length, lag, m);
      const std::int32_t from =
          static_cast<std::int32_t>(std::max<std::int64_t>(first, resume[ch] - start));
      spans.clear();
      const std::int32_t after = FindClicks(scan, h, channels, length, thresholds, from, first + half, ch, spans);
      resume[ch] = std::max<std::int64_t>(resume[ch], start + after);
      for (const ClickSpan& found : spans) {
        clicks.push_back(
            {ch, static_cast<std::int32_t>(start + found.left), static_cast<std::int32_t>(start + found.right)});
      }
    }
    // The next window: drop the first half, read the next half (up to the selection's end).
    start += half;
    const std::size_t dropped = std::min(audio.size(), static_cast<std::size_t>(half) * channels);
    audio.erase(audio.begin(), audio.begin() + static_cast<std::ptrdiff_t>(dropped));
    high.erase(high.begin(), high.begin() + static_cast<std::ptrdiff_t>(dropped));
    const std::int64_t held_end = start + static_cast<std::int64_t>(audio.size() / channels);
    const std::int64_t wanted = std::min<std::int64_t>(start + window, run.end) - held_end;
    detection.Read(audio, high, static_cast<std::int32_t>(std::clamp<std::int64_t>(wanted, 0, window)));
    run.progress.SetFraction(static_cast<double>(std::min<std::int64_t>(start - run.start, total)) /
                             static_cast<double>(total));
  }
  const Result result = SpliceMended(sound, clicks);
  if (result == kFailed) run.failure = "Die bearbeitete Audiodatei konnte nicht geschrieben werden.";
  return result;
}

// ---- The two commands ----

namespace {

EffectDefinition ManualRepair() {
  EffectDefinition effect;
  effect.command_id = 7010;
  effect.undo_name = "Manueller Klick/Pop Reduzierung";
  effect.lead_in_ms = 1000;
  effect.keeps_selection = true;
  effect.refuse = [](const Sound& sound, std::int32_t start, std::int32_t end) -> std::optional<Message> {
    // Longer than a millisecond: too long to be one click.
    if ((std::int64_t{end} - start) * 1000 <= sound.rate) return std::nullopt;
    return Message{"Sonavel kann einen Bereich dieser Größe nicht manuell reduzieren. Bitte wählen Sie einen "
                   "kleineren Bereich.",
                   "Sonavel", MessageIcon::kError, MessageButtons::kOk};
  };
  effect.run = [](EffectRun& run) {
    const std::int32_t end = run.end;
    return RunGenericEffect(
        run.sound, run.start, run.end,
        [end](SourceRef reader) {
          return SourceRef(MakeCounted<ClickRepairFilter>(std::move(reader), kManualSensitivity, kLongestClickUs, end));
        },
        "Manueller Klick/Pop Reduzierung", run.progress);
  };
  return effect;
}

EffectDefinition AutomaticRepair() {
  EffectDefinition effect;
  effect.command_id = 7009;
  effect.undo_name = "&Auto Störgeräuschrestoration";
  effect.progress_title = "Click Detecting";
  // One default for the longest click, the dialog's reset value, wherever it is read.
  EffectParameter sensitivity{.name = "ClickSensitivity", .key = std::string(setting::kSettingsGroup),
                              .fallback = std::to_string(kAutoSensitivity), .label = "Empfindlichkeit",
                              .id = 101, .lowest = 0, .highest = 100, .kind = EffectFieldKind::kSlider,
                              .control_lowest = 0, .control_highest = 100};
  EffectParameter longest{.name = "MaxClickLength", .key = std::string(setting::kSettingsGroup),
                          .fallback = std::to_string(kLongestClickUs), .label = "Maximale Klicklänge (µs)",
                          .id = 102, .lowest = 1, .highest = kHighestLongestClickUs};
  effect.parameters = {sensitivity, longest};
  effect.reset_id = 103;
  effect.has_dialog = true;
  effect.lead_in_ms = 1000;
  effect.run = [](EffectRun& run) {
    return RepairClicks(run, ValueInt(run.values, "ClickSensitivity"), ValueInt(run.values, "MaxClickLength"));
  };
  return effect;
}

}  // namespace

void AddClickEffects(std::vector<EffectDefinition>& effects) {
  effects.push_back(ManualRepair());
  effects.push_back(AutomaticRepair());
}

}  // namespace sonavel
