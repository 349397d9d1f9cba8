// The commands that change the rate, the channel count, the speed or the pitch.

#include <algorithm>
#include <cmath>
#include <string>

#include "effects/effect_groups.h"
#include "effects/resampler.h"
#include "effects/time_stretcher.h"
#include "store/block_writer.h"
#include "store/peak_limiter.h"
#include "store/segment_reader.h"
#include "store/time.h"

namespace sonavel {
namespace {

constexpr const char* kConvertingText = "Converting rate or channels...";
constexpr std::int32_t kLowestRate = 6000;
constexpr std::int32_t kHighestRate = 96000;

// The whole sound read through the format conversion into new block files, which then
// become the sound. False when cancelled (the sound stays as it was).
Result ConvertWholeSound(EffectRun& run, std::int32_t rate, std::uint8_t channels) {
  run.progress.SetTexts(kConvertingText, {});
  SourceRef source = ConvertFormat(OpenSoundReader(run.sound), rate, channels, run.resample_quality);
  Sound converted(rate, channels);
  {
    SinkRef writer = CreateBlockWriter(converted, rate, channels);
    if (!CopyChunks(*source, *writer, 0, source->Length(), run.progress)) return kCancelled;
    if ((writer->status & kSinkWriteFailed) != 0) {
      run.failure = "Die umgewandelte Audiodatei konnte nicht geschrieben werden.";
      return kFailed;
    }
  }
  run.sound = std::move(converted);
  return kDone;
}

EffectDefinition SampleRate() {
  EffectDefinition effect;
  effect.command_id = 1006;
  effect.undo_name = "Samplerate konvertieren";
  effect.progress_title = "Samplerate konvertieren";
  EffectParameter rate;
  rate.name = "SampleRate";
  rate.label = "Samplerate (Samples pro Sekunde)";
  rate.fallback = "44100";
  rate.choices = {"6000", "8000", "11025", "16000", "22050", "32000", "44100", "48000", "64000", "88200", "96000"};
  rate.free_entry = true;
  rate.lowest = kLowestRate;
  rate.highest = kHighestRate;
  rate.too_low = rate.too_high = "Samplerate muss zwischen 6000 und 96000 Samples pro Sekunde liegen.";
  effect.parameters = {rate};
  effect.has_dialog = true;
  effect.remembers = false;
  effect.lead_in_ms = -1;
  effect.initial = [](EffectValues& values, const Sound& sound) { values["SampleRate"] = std::to_string(sound.rate); };
  effect.unchanged = [](const EffectValues& values, const Sound& sound) {
    return ValueInt(values, "SampleRate") == sound.rate;
  };
  effect.run = [](EffectRun& run) {
    const std::int32_t old_rate = run.sound.rate;
    const std::int32_t new_rate = std::clamp(ValueInt(run.values, "SampleRate"), kLowestRate, kHighestRate);
    const Result result = ConvertWholeSound(run, new_rate, run.sound.channels);
    if (result != kDone) return result;
    // The selection keeps its times; the view shows the whole sound, the cursor its start.
    auto convert = [&](std::int32_t frame) {
      return static_cast<std::int32_t>(MsToFrames(FramesToMs(frame, old_rate), new_rate));
    };
    run.selection_start = convert(run.start);
    run.selection_end = convert(run.end);
    run.cursor = 0;
    run.show_all = true;
    return kDone;
  };
  return effect;
}

EffectDefinition ConvertChannels(int command_id, std::uint8_t channels) {
  EffectDefinition effect;
  effect.command_id = command_id;
  effect.undo_name = "Convert Channels";
  effect.progress_title = "Convert Channels";
  effect.lead_in_ms = -1;
  effect.unchanged = [channels](const EffectValues&, const Sound& sound) { return sound.channels == channels; };
  effect.run = [channels](EffectRun& run) {
    const Result result = ConvertWholeSound(run, run.sound.rate, channels);
    if (result != kDone) return result;
    run.selection_start = run.start;
    run.selection_end = run.end;
    run.cursor = 0;
    run.show_all = true;
    return kDone;
  };
  return effect;
}

enum class SpeedMode { kSpeedAndPitch, kSpeedOnly, kPitchOnly };

// The chain of a speed or pitch change by `percent` over `reader`, in the reader's format.
SourceRef SpeedChain(SourceRef reader, SpeedMode mode, int percent) {
  const double x = std::max(percent, 1) / 100.0;
  const std::int32_t rate = reader->rate;
  const std::uint8_t channels = reader->channels;
  SourceRef chain;
  switch (mode) {
    case SpeedMode::kSpeedAndPitch: chain = MakeSpeedChanger(reader, std::max(x, 0.1)); break;
    case SpeedMode::kSpeedOnly: chain = MakeTimeStretcher(reader, x); break;
    case SpeedMode::kPitchOnly: chain = MakePitchShifter(reader, x); break;
  }
  return LimitTo(ConvertFormat(chain, rate, channels), kFullScale);
}

EffectDefinition Speed(int command_id, const char* name, const char* value_name, const char* label, SpeedMode mode) {
  EffectDefinition effect;
  effect.command_id = command_id;
  effect.undo_name = name;
  effect.progress_title = name;
  EffectParameter percent;
  percent.name = value_name;
  percent.fallback = "100";
  percent.label = label;
  percent.short_value = true;
  // Nothing would come out of 0 %, and below 1 % the analysis would not move.
  percent.lowest = 1;
  percent.highest = 300;
  percent.too_high = "Geschwindigkeitsänderung in Prozent muss unter 300 liegen.";
  percent.too_low = "Geschwindigkeitsänderung in Prozent muss mindestens 1 sein.";
  effect.parameters = {percent};
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.lead_in_ms = 500;
  effect.preview = [value_name, mode](SourceRef reader, const EffectValues& values) {
    return SpeedChain(std::move(reader), mode, std::clamp(ValueInt(values, value_name), 1, 300));
  };
  effect.streams = true;
  effect.run = [name, value_name, mode](EffectRun& run) {
    run.progress.SetTexts(name, "Bitte warten...");
    const int percent = std::clamp(ValueInt(run.values, value_name), 1, 300);
    run.selection_start = run.start;
    if (run.output) {
      // Headless: the whole input, streamed.
      run.input->Seek(0);
      SourceRef chain = SpeedChain(run.input, mode, percent);
      if (!CopyChunks(*chain, *run.output, 0, chain->Length(), run.progress)) return kCancelled;
      run.selection_end = chain->Length();
      return kDone;
    }
    Sound selection(run.sound.rate, run.sound.channels);
    CopyRange(run.sound, selection, run.start, run.end);
    SourceRef chain = SpeedChain(OpenSoundReader(selection), mode, percent);
    Sound result(run.sound.rate, run.sound.channels);
    {
      SinkRef writer = CreateBlockWriter(result, run.sound.rate, run.sound.channels);
      if (!CopyChunks(*chain, *writer, 0, chain->Length(), run.progress)) return kCancelled;
    }
    const std::int32_t length = SoundLength(result);
    ReplaceRange(run.sound, run.start, run.end, result);
    run.selection_end = run.start + length;
    return kDone;
  };
  return effect;
}

}  // namespace

void AddRateEffects(std::vector<EffectDefinition>& effects) {
  effects.push_back(SampleRate());
  effects.push_back(ConvertChannels(1007, 1));
  effects.push_back(ConvertChannels(1008, 2));
  effects.push_back(Speed(4014, "Geschwindigkeit und Tonhöhe ändern", "SpSpeedPitch",
                          "Geschwindigkeit/Tonhöhe justieren (%)", SpeedMode::kSpeedAndPitch));
  effects.push_back(Speed(4015, "Nur Geschwindigkeit ändern", "ConstPitchSpeed", "Geschwindigkeit justieren (%)",
                          SpeedMode::kSpeedOnly));
  effects.push_back(Speed(4016, "Nur Tonhöhe ändern", "ConstSpeedPitch", "Tonhöhe justieren (%)",
                          SpeedMode::kPitchOnly));
}

}  // namespace sonavel
