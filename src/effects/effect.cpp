#include "effects/effect.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "effects/effect_groups.h"
#include "platform/settings.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {

bool CopyChunks(SampleSource& source, SampleSink& sink, std::int32_t start, std::int32_t end, Progress& progress,
                double from, double to) {
  progress.SetTexts({}, "Bitte warten...");
  if (start > 0) source.Seek(start);
  const std::int64_t total = std::max<std::int64_t>(std::int64_t{end} - start, 1);
  std::vector<std::int32_t> buffer(static_cast<std::size_t>(kEffectChunkFrames) * std::max<int>(source.channels, 1));
  std::int64_t done = 0;
  for (;;) {
    if (progress.Pump()) return false;
    const std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(kEffectChunkFrames, end - start - done));
    if (n <= 0) return true;
    source.Read(buffer.data(), n);
    sink.Write(buffer.data(), n);
    done += n;
    progress.SetFraction(from + (to - from) * static_cast<double>(done) / static_cast<double>(total));
  }
}

RangeStream::RangeStream(Sound& sound, SourceRef input, SinkRef output)
    : sound_(sound),
      streaming_(static_cast<bool>(output)),
      rendered_(sound.rate, sound.channels),
      source_(input ? std::move(input) : OpenSoundReader(sound)),
      sink_(streaming_ ? std::move(output) : CreateBlockWriter(rendered_, sound.rate, sound.channels)) {}

bool RangeStream::Commit(std::int32_t start, std::int32_t end) {
  const bool written = (sink_->status & kSinkWriteFailed) == 0;
  if (streaming_) return written;
  sink_ = SinkRef();  // finishes the block files
  if (!written) return false;
  ReplaceRange(sound_, start, end, rendered_);
  return true;
}

int RunGenericEffect(Sound& sound, std::int32_t start, std::int32_t end, const ChainBuilder& chain,
                     std::string_view title, Progress& progress, SourceRef input, SinkRef output) {
  if (end < start) return kEffectDone;
  progress.SetTexts(title, {});
  RangeStream stream(sound, std::move(input), std::move(output));
  SourceRef source = chain(SourceRef(&stream.source()));
  if (!CopyChunks(*source, stream.sink(), start, end, progress)) return kEffectCancelled;
  return stream.Commit(start, end) ? kEffectDone : kEffectNotRun;
}

int ValueInt(const EffectValues& values, const std::string& name) {
  const auto found = values.find(name);
  return found == values.end() ? 0 : TextToInt(found->second);
}

double ValueReal(const EffectValues& values, const std::string& name) {
  const auto found = values.find(name);
  return found == values.end() ? 0.0 : std::strtod(found->second.c_str(), nullptr);
}

const std::vector<EffectDefinition>& EffectCatalogue() {
  static const std::vector<EffectDefinition> catalogue = [] {
    std::vector<EffectDefinition> effects;
    AddGainEffects(effects);
    AddDynamicsEffects(effects);
    AddRateEffects(effects);
    return effects;
  }();
  return catalogue;
}

const EffectDefinition* FindEffect(int command_id) {
  for (const EffectDefinition& effect : EffectCatalogue())
    if (effect.command_id == command_id) return &effect;
  return nullptr;
}

const EffectDefinition* FindEffectByName(std::string_view name) {
  auto same = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (const EffectDefinition& effect : EffectCatalogue())
    if (same(effect.undo_name, name)) return &effect;
  return nullptr;
}

EffectValues ReadEffectValues(const EffectDefinition& effect, const SettingsReader& settings) {
  EffectValues values;
  for (const EffectParameter& parameter : effect.parameters) {
    std::string text = settings.ReadUserText(parameter.key, parameter.name, parameter.fallback);
    if (text.empty()) text = parameter.fallback;
    int number = TextToInt(text);
    if (parameter.short_value) number = static_cast<std::int16_t>(number);
    values[parameter.name] = parameter.real ? text : std::to_string(number);
  }
  return values;
}

void WriteEffectValues(const EffectDefinition& effect, const EffectValues& values, Settings& settings) {
  for (const EffectParameter& parameter : effect.parameters) {
    const auto found = values.find(parameter.name);
    if (found == values.end()) continue;
    if (parameter.real)
      settings.WriteUserValue(parameter.key, parameter.name, found->second);
    else
      settings.WriteUserValue(parameter.key, parameter.name, TextToInt(found->second));
  }
}

Message StereoOnlyMessage() {
  return Message{"Dieser Effekt kann nur in einer Stereodatei angewendet werden. Bitte konvertieren Sie diese Datei "
                 "in eine Stereodatei. Datei->Kanäle konvertieren->Stereo.",
                 "Datei muß in Stereo konvertiert werden", MessageIcon::kQuestion, MessageButtons::kOkCancel};
}

}  // namespace sonavel
