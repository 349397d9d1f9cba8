#include "effects/effect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "effects/effect_groups.h"
#include "platform/settings.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {

bool CopyChunks(SampleSource& source, SampleSink& sink, std::int32_t start, std::int32_t end, Progress& progress,
                double from, double to, std::string_view detail) {
  progress.SetTexts({}, detail);
  if (start > 0) source.Seek(start);
  const std::int64_t total = std::max<std::int64_t>(std::int64_t{end} - start, 1);
  std::vector<std::int32_t> buffer(static_cast<std::size_t>(kChunkFrames) * std::max<int>(source.channels, 1));
  std::int64_t done = 0;
  for (;;) {
    if (progress.Pump()) return false;
    const std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(kChunkFrames, end - start - done));
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

Result RunGenericEffect(Sound& sound, std::int32_t start, std::int32_t end, const ChainBuilder& chain,
                     std::string_view title, Progress& progress, SourceRef input, SinkRef output) {
  if (end < start) return kDone;
  progress.SetTexts(title, {});
  RangeStream stream(sound, std::move(input), std::move(output));
  SourceRef source = chain(SourceRef(&stream.source()));
  if (!CopyChunks(*source, stream.sink(), start, end, progress)) return kCancelled;
  return stream.Commit(start, end) ? kDone : kFailed;
}

int ValueInt(const EffectValues& values, const std::string& name) {
  const auto found = values.find(name);
  return found == values.end() ? 0 : TextToInt(found->second);
}

double ValueReal(const EffectValues& values, const std::string& name) {
  const auto found = values.find(name);
  return found == values.end() ? 0.0 : ParseRealNumber(found->second).value_or(0.0);
}

EffectValues FieldValues(const std::vector<EffectField>& fields) {
  EffectValues values;
  for (const EffectField& field : fields) values[field.name] = field.value;
  return values;
}

namespace {

bool IsChoice(const EffectParameter& parameter) { return !parameter.choices.empty() && !parameter.free_entry; }

// The field's name in a message: its label without a closing colon, else its stored name.
std::string FieldName(const EffectParameter& parameter) {
  std::string label = parameter.label;
  while (!label.empty() && (label.back() == ':' || label.back() == ' ')) label.pop_back();
  return label.empty() ? parameter.name : label;
}

std::string GenericMessage(const EffectParameter& parameter) {
  const std::string range = NumberText(LowestValue(parameter)) + " bis " + NumberText(HighestValue(parameter));
  std::string field = FieldName(parameter);
  field.insert(field.begin(), '"');
  field.push_back('"');
  if (IsChoice(parameter)) return "Bitte wählen Sie für " + field + " einen der Einträge " + range + ".";
  return "Bitte geben Sie für " + field + (parameter.real ? " eine Zahl" : " eine ganze Zahl") + " von " + range +
         " ein.";
}

// The leading real number of a stored text as the lenient reading takes it ("1.5 Hz" →
// "1.5"), or nullopt when it begins with none.
std::optional<std::string> LeadingRealText(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  std::size_t end = begin;
  if (end < text.size() && (text[end] == '-' || text[end] == '+')) ++end;
  bool point = false;
  while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || (!point && (text[end] == '.' || text[end] == ',')))) {
    point = point || text[end] == '.' || text[end] == ',';
    ++end;
  }
  std::string number = text.substr(begin, end - begin);
  if (!ParseRealNumber(number)) return std::nullopt;
  return number;
}

}  // namespace

double LowestValue(const EffectParameter& parameter) { return IsChoice(parameter) ? 0 : parameter.lowest; }

double HighestValue(const EffectParameter& parameter) {
  return IsChoice(parameter) ? static_cast<double>(parameter.choices.size() - 1) : parameter.highest;
}

std::string NumberText(double value) {
  if (value == std::floor(value) && std::abs(value) < 1e18) return std::to_string(static_cast<std::int64_t>(value));
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::optional<ValueRefusal> CheckParameterValue(const EffectParameter& parameter, const std::string& text) {
  std::optional<double> number;
  if (parameter.real) {
    number = ParseRealNumber(text);
  } else if (const std::optional<std::int64_t> whole = ParseWholeNumber(text)) {
    number = static_cast<double>(*whole);
  }
  ValueRefusal refusal{&parameter, text, !number.has_value(), GenericMessage(parameter), false};
  if (!number) return refusal;
  const bool high = *number > HighestValue(parameter);
  const bool low = *number < LowestValue(parameter);
  if (!high && !low) return std::nullopt;
  const std::string& own = high ? parameter.too_high : parameter.too_low;
  if (!own.empty()) {
    refusal.message = own;
    refusal.own_message = true;
  }
  return refusal;
}

std::optional<ValueRefusal> CheckParameterValues(const std::vector<EffectParameter>& parameters,
                                                 const EffectValues& values) {
  for (const EffectParameter& parameter : parameters) {
    const auto found = values.find(parameter.name);
    if (found == values.end()) continue;
    if (std::optional<ValueRefusal> refusal = CheckParameterValue(parameter, found->second)) return refusal;
  }
  return std::nullopt;
}

std::optional<ValueRefusal> CheckEffectValues(const EffectDefinition& effect, const EffectValues& values) {
  if (std::optional<ValueRefusal> refusal = CheckParameterValues(effect.parameters, values)) return refusal;
  if (effect.validate) {
    std::string message = effect.validate(values);
    if (!message.empty()) return ValueRefusal{nullptr, {}, false, std::move(message), true};
  }
  return std::nullopt;
}

std::string RefusalMessage(const EffectDefinition& effect, const EffectValues& values) {
  const std::optional<ValueRefusal> refusal = CheckEffectValues(effect, values);
  return refusal ? refusal->message : std::string();
}

const std::vector<EffectDefinition>& EffectCatalogue() {
  static const std::vector<EffectDefinition> catalogue = [] {
    std::vector<EffectDefinition> effects;
    AddGainEffects(effects);
    AddDynamicsEffects(effects);
    AddRateEffects(effects);
    AddDelayEffects(effects);
    AddEqualizerEffects(effects);
    AddClipEffects(effects);
    AddNoiseGateEffects(effects);
    AddSpectralEffects(effects);
    AddVocalEffects(effects);
    AddSilenceEffects(effects);
    AddClickEffects(effects);
    return effects;
  }();
  return catalogue;
}

const EffectDefinition* FindEffect(int command_id) {
  for (const EffectDefinition& effect : EffectCatalogue())
    if (effect.command_id == command_id) return &effect;
  return nullptr;
}

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (std::size_t i = 0; i < folded.size(); ++i) {
    auto& c = reinterpret_cast<unsigned char&>(folded[i]);
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<unsigned char>(c + ('a' - 'A'));
    } else if (c == 0xC3 && i + 1 < folded.size()) {
      // "À" … "Þ" (U+00C0 … U+00DE, but not "×") lie 0x20 below their small letters.
      auto& next = reinterpret_cast<unsigned char&>(folded[++i]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) next = static_cast<unsigned char>(next + 0x20);
    }
  }
  return folded;
}

std::vector<const EffectDefinition*> FindEffectsByName(std::string_view name,
                                                       const std::function<std::string(int)>& menu_text) {
  const std::string wanted = FoldCase(name);
  std::vector<const EffectDefinition*> found;
  for (const EffectDefinition& effect : EffectCatalogue()) {
    if (FoldCase(effect.undo_name) == wanted) {
      found.push_back(&effect);
    } else if (menu_text) {
      const std::string text = menu_text(effect.command_id);
      if (!text.empty() && FoldCase(text) == wanted) found.push_back(&effect);
    }
  }
  return found;
}

const EffectDefinition* FindEffectByName(std::string_view name) {
  const std::vector<const EffectDefinition*> found = FindEffectsByName(name);
  return found.empty() ? nullptr : found.front();
}

EffectValues ReadEffectValues(const EffectDefinition& effect, const SettingsReader& settings) {
  EffectValues values;
  for (const EffectParameter& parameter : effect.parameters) {
    std::string text = settings.ReadUserText(parameter.key, parameter.name, parameter.fallback);
    if (text.empty()) text = parameter.fallback;
    auto in_range = [&parameter](double number) {
      return number >= LowestValue(parameter) && number <= HighestValue(parameter);
    };
    if (parameter.real) {
      const std::optional<std::string> number = LeadingRealText(text);
      values[parameter.name] =
          number && in_range(*ParseRealNumber(*number)) ? *number : parameter.fallback;
      continue;
    }
    std::optional<int> number = LeadingInt(text);
    if (number && parameter.short_value) number = static_cast<std::int16_t>(*number);
    if (number && parameter.clamps_stored)
      number = static_cast<int>(std::clamp<double>(*number, LowestValue(parameter), HighestValue(parameter)));
    if (!number || !in_range(*number)) number = TextToInt(parameter.fallback);
    values[parameter.name] = std::to_string(*number);
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
