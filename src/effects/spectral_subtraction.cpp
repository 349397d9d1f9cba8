// Spectral subtraction, automatic and from a noise sample, and their catalogue entries.

#include "effects/spectral_subtraction.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <utility>

#include "effects/dsp/fixed_point.h"
#include "effects/effect_groups.h"

namespace sonavel {
namespace {

constexpr int kAutoCommand = 4011;
constexpr int kTakeSampleCommand = 4012;
constexpr int kApplySampleCommand = 4013;
constexpr char kAutoName[] = "Noise Reduction (Auto Spectral Subtraction)";
constexpr char kApplySampleName[] = "Noise Reduction (Spectral Subtraction basiert auf Noise Sample)";
constexpr char kSampleCaption[] = "Fehler Manuelle Noise Reduction";
constexpr char kThresholdName[] = "SSNoiseThreshold";
constexpr int kLowestThreshold = 1;
constexpr int kHighestThreshold = 50;

// A bin's magnitude relative to this is its level: the magnitude a full-scale 2^17 sine
// gives its bin is 0 dB.
constexpr double kLevelReference = 92682.0;
constexpr int kLevels = 256;  // histogram entries: level bytes -128 … 127
constexpr double kEstimationShare = 0.3;
constexpr double kApplyEnd = 0.9;
// Blocks of the estimation pass between two looks at the cancel button.
constexpr std::int32_t kBlocksPerPump = 16;

// The symmetric Hamming window of n points.
std::vector<double> HammingWindow(std::int32_t n) {
  std::vector<double> window(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) window[i] = 0.54 - 0.46 * std::cos(2 * std::numbers::pi * i / (n - 1));
  return window;
}

// Lower edges of the level bytes -126 … 127 in power relative to the reference: a bin's
// level byte is -127 plus the number of edges at or below its power (its level in dB
// rounded to the nearest whole, limited to -127 … 127).
const std::vector<double>& LevelEdges() {
  static const std::vector<double> edges = [] {
    std::vector<double> table;
    for (int level = kSilenceDb + 1; level <= 127; ++level) {
      const double magnitude = std::pow(10.0, (level - 0.5) / 20.0) * kLevelReference;
      table.push_back(magnitude * magnitude);
    }
    return table;
  }();
  return edges;
}

// Splits the spectrum z of two real signals a + ib into theirs at bin j (0 < j < N / 2):
// A = (Z[j] + conj Z[N − j]) / 2, B = (Z[j] − conj Z[N − j]) / 2i.
struct BinPair {
  double a_real, a_imaginary, b_real, b_imaginary;
};
inline BinPair SplitBins(const double* re, const double* im, std::int32_t j, std::int32_t n) {
  const double zr = re[j], zi = im[j], mr = re[n - j], mi = im[n - j];
  return {(zr + mr) * 0.5, (zi - mi) * 0.5, (zi + mi) * 0.5, (mr - zr) * 0.5};
}

// The factor that brings a bin of power `power` down to the noise magnitude, 1 at or below it.
inline double NoiseFactor(double power, double noise) {
  return power > noise * noise ? noise / std::sqrt(power) : 1.0;
}

std::string TooShortText(std::int32_t frames) {
  return "Sonavel kann einen so kurzen Bereich nicht analysieren. Bitte wählen Sie einen Bereich von mindestens " +
         std::to_string(frames) + " Samples.";
}

}  // namespace

std::int32_t SpectralFftSize(std::int32_t rate) {
  const std::int64_t least = std::int64_t{rate / 33} * 3 / 4;
  std::int64_t size = 8;
  while (size < least) size *= 2;
  return static_cast<std::int32_t>(std::min<std::int64_t>(size, std::int64_t{1} << FftPlan::kMaxOrder));
}

std::optional<Message> SpectralRangeRefusal(std::int32_t rate, std::int32_t frames, std::string_view caption) {
  const std::int32_t size = SpectralFftSize(rate);
  if (size > kLargestSpectralFftSize)
    return Message{"Sonavel kann bei dieser Samplerate keine Spectral Subtraction anwenden.", std::string(caption),
                   MessageIcon::kError, MessageButtons::kOk};
  if (frames < size) return Message{TooShortText(size), std::string(caption), MessageIcon::kError, MessageButtons::kOk};
  return std::nullopt;
}

Result EstimateSpectralProfile(SampleSource& source, std::int32_t start, std::int32_t end, int percentile,
                               Progress& progress, SpectralProfile& profile) {
  const std::int32_t n = SpectralFftSize(source.rate);
  const std::int32_t half = n / 2;
  const int channels = source.channels;
  const std::int32_t blocks = (end - start) / n;
  if (n > kLargestSpectralFftSize || blocks < 1) return kFailed;
  const FftPlan plan(std::countr_zero(static_cast<std::uint32_t>(n)));
  const std::vector<double> window = HammingWindow(n);
  const std::vector<double>& edges = LevelEdges();
  // Magnitudes are compared as powers in units of the FFT's output.
  std::vector<std::int32_t> histogram(static_cast<std::size_t>(channels) * half * kLevels, 0);
  std::vector<std::int32_t> input(static_cast<std::size_t>(n) * channels);
  std::vector<double> re(n), im(n);
  auto count = [&](int channel, std::int32_t bin, double power) {
    const auto above = std::upper_bound(edges.begin(), edges.end(), power) - edges.begin();
    const int level = kSilenceDb + static_cast<int>(above);
    ++histogram[(static_cast<std::size_t>(channel) * half + bin) * kLevels + (level + 128)];
  };
  source.Seek(start);
  for (std::int32_t block = 0; block < blocks; ++block) {
    source.Read(input.data(), n);
    for (int a = 0; a < channels; a += 2) {
      const int b = a + 1 < channels ? a + 1 : -1;
      for (std::int32_t i = 0; i < n; ++i) {
        re[i] = input[static_cast<std::size_t>(i) * channels + a] * window[i];
        im[i] = b >= 0 ? input[static_cast<std::size_t>(i) * channels + b] * window[i] : 0.0;
      }
      plan.Forward(re.data(), im.data());
      count(a, 0, re[0] * re[0]);
      if (b >= 0) count(b, 0, im[0] * im[0]);
      for (std::int32_t j = 1; j < half; ++j) {
        const BinPair bins = SplitBins(re.data(), im.data(), j, n);
        count(a, j, bins.a_real * bins.a_real + bins.a_imaginary * bins.a_imaginary);
        if (b >= 0) count(b, j, bins.b_real * bins.b_real + bins.b_imaginary * bins.b_imaginary);
      }
    }
    if (block % kBlocksPerPump == 0) {
      progress.SetFraction(kEstimationShare * block / blocks);
      if (progress.Pump()) return kCancelled;
    }
  }
  progress.SetFraction(kEstimationShare);

  // The level where the running count of each histogram reaches T; at least one block, so
  // that a short range still gives its quietest level rather than silence.
  const std::int64_t threshold = std::max<std::int64_t>(1, std::int64_t{blocks / 10} * percentile / 10);
  profile.size = n;
  profile.rate = source.rate;
  profile.channels = static_cast<std::uint8_t>(channels);
  profile.magnitude.assign(static_cast<std::size_t>(channels) * half, 0.0);
  for (std::size_t row = 0; row < profile.magnitude.size(); ++row) {
    const std::int32_t* counts = histogram.data() + row * kLevels;
    std::int64_t sum = 0;
    int steps = 0;
    while (sum < threshold && steps < kLevels) sum += counts[steps++];
    const int level = std::clamp(steps - 128, kSilenceDb, 127);
    profile.magnitude[row] = std::pow(10.0, level / 20.0) * kLevelReference;
  }
  return kDone;
}

SpectralSubtractor::SpectralSubtractor(SourceRef source, SpectralProfile profile)
    : FilterSource(std::move(source)),
      fits_(profile.FitsSound(rate, channels)),
      plan_(fits_ ? std::countr_zero(static_cast<std::uint32_t>(profile.size)) : 0),
      size_(profile.size),
      hop_(profile.size / 4),
      profile_(std::move(profile)),
      window_(HammingWindow(size_)),
      crossfade_(static_cast<std::size_t>(hop_) * 2),
      frame_(static_cast<std::size_t>(size_) * channels),
      pending_(static_cast<std::size_t>(hop_) * channels),
      real_(size_),
      imaginary_(size_),
      input_(static_cast<std::size_t>(hop_) * channels),
      ready_(static_cast<std::size_t>(hop_) * channels) {
  if (!fits_) return;
  // The estimate is of the windowed frame: dividing by the window gives it back unwindowed.
  for (std::int32_t k = 0; k < hop_; ++k) {
    crossfade_[k] = static_cast<double>(k) / (hop_ * window_[hop_ + k]);
    crossfade_[hop_ + k] = static_cast<double>(hop_ - k) / (hop_ * window_[2 * hop_ + k]);
  }
  Reset();
}

void SpectralSubtractor::Reset() {
  std::fill(frame_.begin(), frame_.end(), 0.0);
  std::fill(pending_.begin(), pending_.end(), 0.0);
  ready_offset_ = hop_;
  // Output frame 0 sits a quarter into the frame that starts N / 4 before it; the two
  // frames before that one only fill the crossfade.
  fill_hops_ = 2;
}

void SpectralSubtractor::Hop() {
  upstream->Read(input_.data(), hop_);
  CheckUpstream();
  const std::int32_t n = size_;
  const std::int32_t half = n / 2;
  for (int ch = 0; ch < channels; ++ch) {
    double* frame = frame_.data() + static_cast<std::size_t>(ch) * n;
    std::memmove(frame, frame + hop_, sizeof(double) * (n - hop_));
    for (std::int32_t i = 0; i < hop_; ++i) frame[n - hop_ + i] = input_[static_cast<std::size_t>(i) * channels + ch];
  }
  for (int a = 0; a < channels; a += 2) {
    const bool pair = a + 1 < channels;
    const double* frame_a = frame_.data() + static_cast<std::size_t>(a) * n;
    const double* frame_b = pair ? frame_a + n : nullptr;
    for (std::int32_t i = 0; i < n; ++i) {
      real_[i] = frame_a[i] * window_[i];
      imaginary_[i] = pair ? frame_b[i] * window_[i] : 0.0;
    }
    plan_.Forward(real_.data(), imaginary_.data());
    // Each bin keeps at most its noise magnitude: what remains is the noise estimate. A
    // bin and its mirror N − j take the same factor, so the estimate stays real.
    const double* noise_a = profile_.Channel(a);
    const double* noise_b = pair ? profile_.Channel(a + 1) : noise_a;
    double* re = real_.data();
    double* im = imaginary_.data();
    re[0] *= NoiseFactor(re[0] * re[0], noise_a[0]);
    im[0] *= NoiseFactor(im[0] * im[0], noise_b[0]);
    for (std::int32_t j = 1; j < half; ++j) {
      BinPair bins = SplitBins(re, im, j, n);
      const double ga = NoiseFactor(bins.a_real * bins.a_real + bins.a_imaginary * bins.a_imaginary, noise_a[j]);
      const double gb = NoiseFactor(bins.b_real * bins.b_real + bins.b_imaginary * bins.b_imaginary, noise_b[j]);
      bins.a_real *= ga;
      bins.a_imaginary *= ga;
      bins.b_real *= gb;
      bins.b_imaginary *= gb;
      re[j] = bins.a_real - bins.b_imaginary;
      im[j] = bins.a_imaginary + bins.b_real;
      re[n - j] = bins.a_real + bins.b_imaginary;
      im[n - j] = bins.b_real - bins.a_imaginary;
    }
    plan_.Inverse(re, im);
    for (int ch = a; ch < a + (pair ? 2 : 1); ++ch) {
      const double* estimate = ch == a ? re : im;
      const double* frame = frame_.data() + static_cast<std::size_t>(ch) * n;
      double* pending = pending_.data() + static_cast<std::size_t>(ch) * hop_;
      // The frames a quarter to a half into the frame are finished: the rising half of this
      // estimate and the falling half of the previous one come off them.
      for (std::int32_t k = 0; k < hop_; ++k) {
        const double correction = pending[k] + crossfade_[k] * estimate[hop_ + k];
        const double value = std::nearbyint(frame[hop_ + k] - correction);
        ready_[static_cast<std::size_t>(k) * channels + ch] = SaturateToInt32(
            static_cast<std::int64_t>(std::clamp(value, -0x1p62, 0x1p62)));
        pending[k] = crossfade_[hop_ + k] * estimate[2 * hop_ + k];
      }
    }
  }
  ready_offset_ = 0;
}

void SpectralSubtractor::Read(std::int32_t* buffer, std::int32_t frames) {
  if (!fits_) {
    // A profile of another shape would read past its bins: the audio passes unchanged.
    upstream->Read(buffer, frames);
    CheckUpstream();
    position_ += frames;
    return;
  }
  std::int32_t done = 0;
  while (done < frames) {
    while (ready_offset_ == hop_) {
      Hop();
      if (fill_hops_ > 0) {
        --fill_hops_;
        ready_offset_ = hop_;
      }
    }
    const std::int32_t take = std::min(frames - done, hop_ - ready_offset_);
    std::copy_n(ready_.data() + static_cast<std::size_t>(ready_offset_) * channels,
                static_cast<std::size_t>(take) * channels, buffer + static_cast<std::size_t>(done) * channels);
    ready_offset_ += take;
    done += take;
  }
  position_ += frames;
}

void SpectralSubtractor::Seek(std::int32_t frame) {
  upstream->Seek(frame);
  position_ = frame;
  Reset();
}

namespace {

std::optional<SpectralProfile>& StoredNoiseSample() {
  static std::optional<SpectralProfile> profile;
  return profile;
}

// Subtracts `profile` from [run.start, run.end): progress from 30 to 90 %.
Result SubtractProfile(EffectRun& run, const SpectralProfile& profile, RangeStream& stream) {
  SourceRef chain = MakeCounted<SpectralSubtractor>(SourceRef(&stream.source()), profile);
  chain->Seek(run.start);
  if (!CopyChunks(*chain, stream.sink(), run.start, run.end, run.progress, kEstimationShare, kApplyEnd))
    return kCancelled;
  if (!stream.Commit(run.start, run.end)) {
    run.failure = "Die bearbeitete Audiodatei konnte nicht geschrieben werden.";
    return kFailed;
  }
  run.progress.SetFraction(1.0);
  return kDone;
}

Result AutoSubtraction(EffectRun& run) {
  run.progress.SetTexts(kAutoName, {});
  RangeStream stream(run.sound, run.input, run.output);
  if (std::optional<Message> refused = SpectralRangeRefusal(stream.source().rate, run.end - run.start, "Fehler")) {
    run.refusal = std::move(refused);
    return kFailed;
  }
  SpectralProfile profile;
  const int percentile = std::clamp(ValueInt(run.values, kThresholdName), kLowestThreshold, kHighestThreshold);
  if (const Result estimated =
          EstimateSpectralProfile(stream.source(), run.start, run.end, percentile, run.progress, profile);
      estimated != kDone)
    return estimated;
  return SubtractProfile(run, profile, stream);
}

// Why a noise sample cannot be taken from `frames` frames at `rate`.
std::optional<Message> NoiseSampleRefusal(std::int32_t rate, std::int32_t frames) {
  if (rate > 0 && frames / rate > kLongestNoiseSampleSeconds) return NoiseSampleTooLongMessage();
  return SpectralRangeRefusal(rate, frames, kSampleCaption);
}

Result TakeNoiseSample(SampleSource& source, std::int32_t start, std::int32_t end, Progress& progress) {
  progress.SetTexts("Get Noise Sample", {});
  SpectralProfile profile;
  const Result result = EstimateSpectralProfile(source, start, end, kNoiseSamplePercentile, progress, profile);
  if (result == kDone) SetNoiseSampleProfile(std::move(profile));
  return result;
}

// Why the stored noise sample cannot be applied to a sound of this shape.
std::optional<Message> ApplySampleRefusal(std::int32_t rate, std::uint8_t channels, std::int32_t frames) {
  const SpectralProfile* profile = NoiseSampleProfile();
  if (profile == nullptr)
    return Message{"Es wurde noch kein Noise Sample genommen. Bitte markieren Sie einen Bereich, der nur Rauschen "
                   "enthält, und wählen Sie \"Noise Sample nehmen\".",
                   "Fehler", MessageIcon::kError, MessageButtons::kOk};
  if (!profile->FitsSound(rate, channels)) return IncompatibleNoiseSampleMessage();
  return SpectralRangeRefusal(rate, frames, "Fehler");
}

Result SampleSubtraction(EffectRun& run) {
  RangeStream stream(run.sound, run.input, run.output);
  const std::int32_t rate = stream.source().rate;
  const std::uint8_t channels = stream.source().channels;
  if (run.input) {
    // A headless run takes its noise sample first, from NoiseFrom to NoiseTo (ms) of the file.
    const std::int32_t from = EffectMsToFrames(rate, ValueInt(run.values, "NoiseFrom"));
    const std::int32_t to = EffectMsToFrames(rate, ValueInt(run.values, "NoiseTo"));
    if (to > run.end) {
      run.refusal = Message{"NoiseTo= lies beyond the end of the file.", "Fehler", MessageIcon::kError,
                            MessageButtons::kOk};
      return kFailed;
    }
    if (std::optional<Message> refused = NoiseSampleRefusal(rate, to - from)) {
      run.refusal = std::move(refused);
      return kFailed;
    }
    if (const Result taken = TakeNoiseSample(stream.source(), from, to, run.progress); taken != kDone) return taken;
  }
  if (std::optional<Message> refused = ApplySampleRefusal(rate, channels, run.end - run.start)) {
    run.refusal = std::move(refused);
    return kFailed;
  }
  run.progress.SetTexts(kApplySampleName, {});
  return SubtractProfile(run, *NoiseSampleProfile(), stream);
}

EffectDefinition AutoSubtractionEffect() {
  EffectDefinition effect;
  effect.command_id = kAutoCommand;
  effect.undo_name = kAutoName;
  EffectParameter threshold{.name = kThresholdName, .fallback = "30", .label = "Rauschschwelle (%)", .id = 101,
                            .lowest = kLowestThreshold, .highest = kHighestThreshold, .clamps_stored = true,
                            .kind = EffectFieldKind::kEditAndSlider, .control_lowest = kLowestThreshold,
                            .control_highest = kHighestThreshold};
  effect.parameters = {threshold};
  effect.presets = {{"Für Sprache anwenden", {"20"}}, {"Für Musik anwenden", {"10"}}};
  effect.presets_id = 103;
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.streams = true;
  effect.lead_in_ms = 1000;
  effect.refuse = [](const Sound& sound, std::int32_t start, std::int32_t end) {
    return SpectralRangeRefusal(sound.rate, end - start, "Fehler");
  };
  effect.run = AutoSubtraction;
  // The preview estimates the noise from the selection it plays, as the render will.
  effect.preview = [](SourceRef reader, const EffectValues& values) -> SourceRef {
    const std::int32_t length = reader->Length();
    if (SpectralRangeRefusal(reader->rate, length, "")) return reader;
    SilentProgress progress;
    SpectralProfile profile;
    const int percentile = std::clamp(ValueInt(values, kThresholdName), kLowestThreshold, kHighestThreshold);
    EstimateSpectralProfile(*reader, 0, length, percentile, progress, profile);
    reader->Seek(0);
    return MakeCounted<SpectralSubtractor>(std::move(reader), std::move(profile));
  };
  return effect;
}

EffectDefinition TakeSampleEffect() {
  EffectDefinition effect;
  effect.command_id = kTakeSampleCommand;
  effect.undo_name = "Noise Sample nehmen";
  effect.progress_title = "Get Noise Sample";
  effect.changes_sound = false;
  effect.remembers = false;
  effect.refuse = [](const Sound& sound, std::int32_t start, std::int32_t end) {
    return NoiseSampleRefusal(sound.rate, end - start);
  };
  effect.run = [](EffectRun& run) {
    RangeStream stream(run.sound, run.input, run.output);
    if (std::optional<Message> refused = NoiseSampleRefusal(stream.source().rate, run.end - run.start)) {
      run.refusal = std::move(refused);
      return kFailed;
    }
    return TakeNoiseSample(stream.source(), run.start, run.end, run.progress);
  };
  return effect;
}

EffectDefinition ApplySampleEffect() {
  EffectDefinition effect;
  effect.command_id = kApplySampleCommand;
  effect.undo_name = kApplySampleName;
  // Only headless runs take these: the noise sample's range in ms of the input file.
  const EffectParameter from{.name = "NoiseFrom", .fallback = "-1", .label = "Noise Sample ab (ms)", .lowest = -1};
  const EffectParameter to{.name = "NoiseTo", .fallback = "-1", .label = "Noise Sample bis (ms)", .id = 102,
                           .lowest = -1};
  effect.parameters = {from, to};
  effect.remembers = false;
  effect.streams = true;
  effect.lead_in_ms = 1000;
  effect.validate = [](const EffectValues& values) -> std::string {
    const int start = ValueInt(values, "NoiseFrom");
    const int end = ValueInt(values, "NoiseTo");
    if (start < 0 || end < 0) return "NoiseFrom= and NoiseTo= (ms) give the noise sample's range.";
    if (end <= start) return "NoiseTo= must lie after NoiseFrom=.";
    return {};
  };
  effect.refuse = [](const Sound& sound, std::int32_t start, std::int32_t end) {
    return ApplySampleRefusal(sound.rate, sound.channels, end - start);
  };
  effect.run = SampleSubtraction;
  return effect;
}

}  // namespace

const SpectralProfile* NoiseSampleProfile() {
  const std::optional<SpectralProfile>& profile = StoredNoiseSample();
  return profile ? &*profile : nullptr;
}

void SetNoiseSampleProfile(SpectralProfile profile) {
  if (profile.size == 0)
    StoredNoiseSample().reset();
  else
    StoredNoiseSample() = std::move(profile);
}

Message NoiseSampleTooLongMessage() {
  return {"Sie können einen Bereich, der länger als 8 Sek. ist nicht samplen. Bitte wählen Sie einen kürtzeren "
          "Bereich.",
          kSampleCaption, MessageIcon::kError, MessageButtons::kOk};
}

Message IncompatibleNoiseSampleMessage() {
  return {"Der gewählte Noise Sample ist nicht ist mit den Markierten nicht kompatibel.", "Fehler",
          MessageIcon::kError, MessageButtons::kOk};
}

void AddSpectralEffects(std::vector<EffectDefinition>& effects) {
  effects.push_back(AutoSubtractionEffect());
  effects.push_back(TakeSampleEffect());
  effects.push_back(ApplySampleEffect());
}

}  // namespace sonavel
