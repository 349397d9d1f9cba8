#include "effects/vocal_reducer.h"

#include <utility>

#include "effects/dsp/fixed_point.h"
#include "effects/effect_groups.h"
#include "effects/resampler.h"
#include "store/block_writer.h"
#include "store/peak_limiter.h"
#include "store/segment_reader.h"

namespace sonavel {

VocalReducer::VocalReducer(SourceRef source) : FilterSource(std::move(source)) {
  channels = 1;
  peak_bound = kVocalReducerPeak;
}

void VocalReducer::Read(std::int32_t* buffer, std::int32_t frames) {
  if (frames <= 0) return;
  input_.resize(static_cast<std::size_t>(frames) * 2);
  upstream->Read(input_.data(), frames);
  CheckUpstream();
  const std::int32_t* frame = input_.data();
  for (std::int32_t f = 0; f < frames; ++f, frame += 2)
    buffer[f] = SaturateToInt32(std::int64_t{frame[0]} - frame[1]);
}

SourceRef MakeVocalReducer(SourceRef source) {
  if (!source || source->status != kStatusOk || source->channels != 2) return source;
  return MakeCounted<VocalReducer>(std::move(source));
}

SourceRef VocalReductionChain(SourceRef reader, std::uint8_t channels) {
  SourceRef difference = MakeVocalReducer(std::move(reader));
  const std::int32_t rate = difference->rate;
  return LimitTo(ConvertFormat(std::move(difference), rate, channels), kFullScale);
}

namespace {

// Of the whole sound the document becomes mono; of part of it the rest stays and the
// selection carries the difference in both channels.
Result ReduceVocals(EffectRun& run) {
  run.progress.SetTexts("Reduce Vocals", {});
  if (run.output) {
    // A headless run streams the whole file into one channel.
    SourceRef chain = VocalReductionChain(run.input, 1);
    return CopyChunks(*chain, *run.output, run.start, run.end, run.progress, 0.0, 1.0, "Please wait...") ? kDone
                                                                                                       : kCancelled;
  }
  const bool whole = run.start <= 0 && run.end >= SoundLength(run.sound);
  const std::uint8_t channels = whole ? 1 : run.sound.channels;
  SourceRef chain = VocalReductionChain(OpenSoundReader(run.sound), channels);
  Sound rendered(run.sound.rate, channels);
  {
    SinkRef writer = CreateBlockWriter(rendered, run.sound.rate, channels);
    if (!CopyChunks(*chain, *writer, run.start, run.end, run.progress, 0.0, 1.0, "Please wait...")) return kCancelled;
    if ((writer->status & kSinkWriteFailed) != 0) {
      run.failure = "Die bearbeitete Audiodatei konnte nicht geschrieben werden.";
      return kFailed;
    }
  }
  if (whole)
    run.sound = std::move(rendered);
  else
    ReplaceRange(run.sound, run.start, run.end, rendered);
  return kDone;
}

}  // namespace

void AddVocalEffects(std::vector<EffectDefinition>& effects) {
  EffectDefinition effect;
  effect.command_id = 4032;
  effect.undo_name = "Stimmen reduzieren";
  effect.progress_title = "Reduce Vocals";
  effect.needs_stereo = true;
  effect.lead_in_ms = 1000;
  effect.streams = true;
  effect.streamed_channels = 1;
  effect.run = ReduceVocals;
  effects.push_back(std::move(effect));
}

}  // namespace sonavel
