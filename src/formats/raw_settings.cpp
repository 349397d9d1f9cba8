#include "formats/raw_settings.h"

#include "platform/setting_keys.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

constexpr int kMaxRate = 196000;

}  // namespace

const RawSettingsKeys& RawAudioKeys() {
  static const RawSettingsKeys keys{setting::kRawAudioSampleRate, setting::kRawAudioChannels, setting::kRawAudioCodec};
  return keys;
}

const RawSettingsKeys& VoxAudioKeys() {
  static const RawSettingsKeys keys{setting::kVoxAudioSampleRate, setting::kVoxAudioChannels, setting::kVoxAudioCodec};
  return keys;
}

RawSettings ReadRawSettings(const SettingsReader* settings, const RawSettingsKeys& keys) {
  const DefaultSettings defaults;
  const SettingsReader& reader = settings != nullptr ? *settings : defaults;
  RawSettings values{reader.Read(keys.rate), reader.Read(keys.channels), reader.Read(keys.codec)};
  if (values.channels == 0) values.channels = 1;
  return values;
}

void WriteRawSettings(Settings& settings, const RawSettingsKeys& keys, const RawSettings& values) {
  settings.Write(keys.rate, values.rate);
  settings.Write(keys.channels, values.channels);
  settings.Write(keys.codec, values.codec);
}

std::optional<RawSettings> RunRawSettingsDialog(Ui& ui, Settings& settings, const RawSettingsKeys& keys, int rate,
                                                int channels) {
  RawSettings stored = ReadRawSettings(&settings, keys);
  if (rate > 0) stored.rate = rate;
  if (channels > 0) stored.channels = channels;
  RawDialog dialog;
  dialog.record = std::string(keys.rate.group);
  dialog.title = keys.rate.group == setting::kVoxAudioGroup ? "Einstellungen für VOX-Dateien"
                                                            : "Einstellungen für Raw-Dateien";
  dialog.codec_names.assign(kRawCodecNames.begin(), kRawCodecNames.end());
  dialog.rate_choices.assign(kRawRateChoices.begin(), kRawRateChoices.end());
  // The drop-downs hold the seven codings and mono or stereo; a stored value beyond them
  // shows as the record's default coding, or as mono.
  dialog.codec = stored.codec >= 0 && stored.codec < kRawCodecCount ? stored.codec : keys.codec.fallback;
  dialog.rate = std::to_string(stored.rate);
  dialog.channels = stored.channels == 2 ? 2 : 1;
  if (!ui.AskRawSettings(dialog) || !RawDialogRefusal(dialog).empty()) return std::nullopt;
  const RawSettings accepted{RawDialogRate(dialog), dialog.channels == 2 ? 2 : 1,
                             dialog.codec >= 0 && dialog.codec < kRawCodecCount ? dialog.codec : keys.codec.fallback};
  WriteRawSettings(settings, keys, accepted);
  return accepted;
}

bool UsableRawSettings(const RawSettings& values) {
  return values.codec >= 0 && values.codec < kRawCodecCount && values.rate >= 1 && values.rate <= kMaxRate &&
         values.channels >= 1 && values.channels <= 255;
}

std::optional<RawSettings> ParseRawSettings(std::string_view text, std::string& error) {
  // Built by appending: the "..." + std::string form trips a false -Wrestrict in release builds.
  std::string quoted = "\"";
  quoted.append(text);
  quoted += '"';
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos) {
    error = "--raw takes RATE:CHANNELS:CODEC, e.g. 8000:1:1, not " + quoted + ".";
    return std::nullopt;
  }
  const std::optional<std::int64_t> rate = ParseWholeNumber(text.substr(0, first));
  const std::optional<std::int64_t> channels = ParseWholeNumber(text.substr(first + 1, second - first - 1));
  const std::optional<std::int64_t> codec = ParseWholeNumber(text.substr(second + 1));
  if (!rate || *rate < 6000 || *rate > kMaxRate) {
    error = "Please select a sample rate between 6000 and 196000 (--raw " + quoted + ").";
    return std::nullopt;
  }
  if (!channels || *channels < 1 || *channels > 2) {
    error = "--raw: the channels are 1 (mono) or 2 (stereo), not " + quoted + ".";
    return std::nullopt;
  }
  if (!codec || *codec < 0 || *codec >= kRawCodecCount) {
    error = "--raw: the codec is 0 to 6 (0 Dialogic ADPCM, 1 G711 uLaw, 2 G711 aLaw, 3 16 bit PCM (LE), "
            "4 8 bit unsigned, 5 8 bit signed, 6 16 bit PCM (BE)), not " + quoted + ".";
    return std::nullopt;
  }
  return RawSettings{static_cast<int>(*rate), static_cast<int>(*channels), static_cast<int>(*codec)};
}

}  // namespace sonavel
