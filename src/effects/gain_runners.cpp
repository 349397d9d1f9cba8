#include "effects/gain_runners.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "effects/envelope.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

std::vector<std::int32_t> ChunkBuffer(int channels) {
  return std::vector<std::int32_t>(static_cast<std::size_t>(kChunkFrames) * std::max(channels, 1));
}

}  // namespace

Result AmplifyRange(Sound& sound, std::int32_t percent, std::int32_t start, std::int32_t end) {
  // The store's scaling multiplies before dividing (so 50 % of unity is exactly a half)
  // and saturates growth at 0x7FFFFFFF.
  ChangeRangeVolume(sound, std::max<std::int32_t>(percent, 0), start, end);
  return kDone;
}

std::int64_t PeakOfRange(const Sound& sound, std::int32_t start, std::int32_t end, Progress& progress) {
  SourceRef reader = OpenSoundReader(sound);
  if (start > 0) reader->Seek(start);
  const int channels = std::max<int>(reader->channels, 1);
  std::vector<std::int32_t> buffer = ChunkBuffer(channels);
  const std::int64_t total = std::max<std::int64_t>(std::int64_t{end} - start, 1);
  std::int64_t maximum = 0;
  std::int64_t minimum = 0;
  for (std::int64_t done = 0;;) {
    if (progress.Pump()) return -1;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(kChunkFrames, end - start - done));
    if (n <= 0) break;
    reader->Read(buffer.data(), n);
    for (std::size_t s = 0; s < static_cast<std::size_t>(n) * channels; ++s) {
      maximum = std::max<std::int64_t>(maximum, buffer[s]);
      minimum = std::min<std::int64_t>(minimum, buffer[s]);
    }
    done += n;
    progress.SetFraction(static_cast<double>(done) / total);
  }
  // In 64 bits: the magnitude of the most negative 32-bit sample does not fit 32.
  return std::max(maximum, -minimum);
}

std::int32_t NormalisePercent(std::int32_t level, std::int64_t peak) {
  if (peak <= 0) return 100;
  return static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{level} * kFullScale / peak, 400));
}

Result NormaliseRange(Sound& sound, std::int32_t level, std::int32_t start, std::int32_t end, Progress& progress) {
  progress.SetTexts("Normalisiere", "Bitte warten...");
  const std::int64_t peak = PeakOfRange(sound, start, end, progress);
  if (peak < 0) return kCancelled;
  if (peak > 0) AmplifyRange(sound, NormalisePercent(level, peak), start, end);
  return kDone;
}

Result FadeOutAndTrim(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress) {
  const Result result = RenderEnvelope(sound, start, end, kFadeOutPoints, progress);
  if (result != kDone) return result;
  DeleteRange(sound, end, SoundLength(sound));
  return kDone;
}

CrossFadePlan PlanCrossFade(std::int32_t rate, std::int32_t start, std::int32_t gap_ms,
                            std::int32_t fade_in_ms, std::int32_t fade_out_ms) {
  // 64-bit products: a minute and more at 44100 Hz overflows 32 bits. Negative times
  // count as 0 (for the fade-out the test of one high bit would also zero some long
  // positive times).
  auto frames = [rate](std::int32_t ms) { return std::max<std::int64_t>(std::int64_t{rate} * ms / 1000, 0); };
  CrossFadePlan plan;
  plan.gap = frames(gap_ms);
  plan.fade_in = frames(fade_in_ms);
  plan.fade_out = frames(fade_out_ms);
  plan.a = plan.gap < plan.fade_in ? start + plan.gap - plan.fade_in : start;
  // The first stream cannot start before the sound: the fade-in then begins part way in.
  plan.a = std::max<std::int64_t>(plan.a, 0);
  plan.lead = start - plan.a;
  plan.fade_out_end = plan.lead + plan.fade_out;
  plan.fade_in_start = plan.lead + plan.gap - plan.fade_in;
  plan.fade_in_end = plan.lead + plan.gap;
  plan.length = std::max(plan.fade_in_end, plan.fade_out_end);
  return plan;
}

std::int32_t CrossFadeGainA(const CrossFadePlan& plan, std::int64_t n) {
  if (n <= plan.lead) return kQ24Unity;
  if (n < plan.fade_out_end) return static_cast<std::int32_t>((plan.fade_out_end - n) * kQ24Unity / plan.fade_out);
  return 0;
}

std::int32_t CrossFadeGainB(const CrossFadePlan& plan, std::int64_t n) {
  if (n <= plan.fade_in_start) return 0;
  if (n < plan.fade_in_end) return static_cast<std::int32_t>((n - plan.fade_in_start) * kQ24Unity / plan.fade_in);
  return kQ24Unity;
}

Result CrossFadeRange(Sound& sound, std::int32_t start, std::int32_t end, std::int32_t gap_ms,
                   std::int32_t fade_in_ms, std::int32_t fade_out_ms, Progress& progress) {
  const CrossFadePlan plan = PlanCrossFade(sound.rate, start, gap_ms, fade_in_ms, fade_out_ms);
  const std::int64_t b_start = std::int64_t{end} - plan.fade_in_end;
  const std::int64_t tail_start = std::int64_t{end} + plan.length - plan.fade_in_end;
  if (plan.a + plan.length > kMaxFrames || tail_start > kMaxFrames || b_start < -kMaxFrames) return kFailed;

  progress.SetTexts("Cross Fading", "Bitte warten...");
  SourceRef stream_a = OpenSoundReader(sound);
  SourceRef stream_b = OpenSoundReader(sound);
  stream_a->Seek(static_cast<std::int32_t>(plan.a));
  stream_b->Seek(static_cast<std::int32_t>(b_start));  // before frame 0 it reads silence
  const int channels = std::max<int>(sound.channels, 1);
  std::vector<std::int32_t> a = ChunkBuffer(channels);
  std::vector<std::int32_t> b = ChunkBuffer(channels);
  Sound rendered(sound.rate, sound.channels);
  if (plan.length > 0) {  // with no fades and no gap the selection is simply cut out
    SinkRef writer = CreateBlockWriter(rendered, sound.rate, sound.channels);
    for (std::int64_t done = 0; done < plan.length;) {
      if (progress.Pump()) return kCancelled;
      const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(kChunkFrames, plan.length - done));
      stream_a->Read(a.data(), n);
      stream_b->Read(b.data(), n);
      for (std::int32_t f = 0; f < n; ++f) {
        const std::int32_t gain_a = CrossFadeGainA(plan, done + f);
        const std::int32_t gain_b = CrossFadeGainB(plan, done + f);
        for (int c = 0; c < channels; ++c) {
          const std::size_t s = static_cast<std::size_t>(f) * channels + c;
          // Summed as unsigned so that overdriven material wraps as 32-bit registers do.
          a[s] = static_cast<std::int32_t>(static_cast<std::uint32_t>(Q24Multiply(b[s], gain_b)) +
                                           static_cast<std::uint32_t>(Q24Multiply(a[s], gain_a)));
        }
      }
      writer->Write(a.data(), n);
      done += n;
      progress.SetFraction(static_cast<double>(done) / static_cast<double>(plan.length));
    }
  }
  // Splice: the rendered frames at a, then the sound from where stream B stopped.
  const std::int32_t length = SoundLength(sound);
  Sound tail(sound.rate, sound.channels);
  if (tail_start < length) CopyRange(sound, tail, static_cast<std::int32_t>(tail_start), length);
  const auto at = static_cast<std::int32_t>(plan.a);
  DeleteRange(sound, at, length);
  InsertSound(sound, at, rendered);
  InsertSound(sound, static_cast<std::int32_t>(at + plan.length), tail);
  return kDone;
}

Result RemoveDcOffset(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress, SourceRef input,
                   SinkRef output) {
  progress.SetTexts("DC Offset Correction", "Bitte warten...");
  RangeStream stream(sound, std::move(input), std::move(output));
  SampleSource& reader = stream.source();
  const int channels = std::max<int>(reader.channels, 1);
  const std::int32_t length = std::max<std::int32_t>(end - start, 1);
  std::vector<std::int32_t> buffer = ChunkBuffer(channels);

  // Pass 1: the mean of each channel; the bar's first half.
  reader.Seek(start);
  std::vector<double> sums(channels, 0.0);
  for (std::int32_t done = 0; done < end - start;) {
    if (progress.Pump()) return kCancelled;
    const std::int32_t n = std::min(kChunkFrames, end - start - done);
    reader.Read(buffer.data(), n);
    for (std::int32_t f = 0; f < n; ++f)
      for (int c = 0; c < channels; ++c) sums[c] += buffer[static_cast<std::size_t>(f) * channels + c];
    done += n;
    progress.SetFraction(0.5 * done / length);
  }
  std::vector<std::int64_t> means(channels);
  for (int c = 0; c < channels; ++c) means[c] = static_cast<std::int64_t>(sums[c] / length);

  // Pass 2: the means subtracted.
  reader.Seek(start);
  for (std::int32_t done = 0; done < end - start;) {
    if (progress.Pump()) return kCancelled;
    const std::int32_t n = std::min(kChunkFrames, end - start - done);
    reader.Read(buffer.data(), n);
    for (std::int32_t f = 0; f < n; ++f) {
      for (int c = 0; c < channels; ++c) {
        std::int32_t& sample = buffer[static_cast<std::size_t>(f) * channels + c];
        // Limited rather than wrapped: only material already at the 32-bit edge is touched.
        sample = static_cast<std::int32_t>(std::clamp<std::int64_t>(
            sample - means[c], std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
      }
    }
    stream.sink().Write(buffer.data(), n);
    done += n;
    progress.SetFraction(0.5 + 0.5 * done / length);
  }
  return stream.Commit(start, end) ? kDone : kFailed;
}

Result ReverseRange(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress, SourceRef input,
                 SinkRef output) {
  progress.SetTexts("Reversing Sound", "Please wait...");
  RangeStream stream(sound, std::move(input), std::move(output));
  SampleSource& reader = stream.source();
  const int channels = std::max<int>(reader.channels, 1);
  const std::int32_t length = std::max<std::int32_t>(end - start, 1);
  std::vector<std::int32_t> buffer = ChunkBuffer(channels);
  for (std::int32_t position = end; position > start;) {
    // Nothing is changed before the splice, so a cancel costs nothing.
    if (progress.Pump()) return kCancelled;
    const std::int32_t n = std::min(kChunkFrames, position - start);
    position -= n;
    reader.Seek(position);
    reader.Read(buffer.data(), n);
    for (std::int32_t low = 0, high = n - 1; low < high; ++low, --high)
      std::swap_ranges(buffer.begin() + static_cast<std::ptrdiff_t>(low) * channels,
                       buffer.begin() + static_cast<std::ptrdiff_t>(low + 1) * channels,
                       buffer.begin() + static_cast<std::ptrdiff_t>(high) * channels);
    stream.sink().Write(buffer.data(), n);
    progress.SetFraction(static_cast<double>(end - position) / length);
  }
  return stream.Commit(start, end) ? kDone : kFailed;
}

}  // namespace sonavel
