#include "formats/raw_audio.h"

#include "formats/raw_file.h"
#include "formats/vox_adpcm.h"
#include "formats/wav_reader.h"

namespace sonavel {

namespace {

// The sample codings of codecs 1..6.
constexpr SampleCoding kCodings[kRawCodecCount] = {
    SampleCoding::kLinear16Le,  // 0 is VOX, which has a reader of its own
    SampleCoding::kMuLaw,     SampleCoding::kALaw,    SampleCoding::kLinear16Le,
    SampleCoding::kUnsigned8, SampleCoding::kSigned8, SampleCoding::kLinear16Be};

// The reader and writer with the settings' coding, as one entry of the format table.
FileFormat RawEntry(std::string name, std::vector<std::string> extensions, const RawSettingsKeys& keys) {
  auto settings_of = [record = &keys](const OpenOptions& options) {
    return options.raw ? *options.raw : ReadRawSettings(options.settings, *record);
  };
  FileFormat format;
  format.name = std::move(name);
  format.extensions = std::move(extensions);
  format.raw_record = &keys;
  format.open = [settings_of](std::unique_ptr<ByteSource> bytes, const OpenOptions& options) {
    return OpenRawReader(std::move(bytes), settings_of(options));
  };
  format.open_error = [](std::uint8_t status, const std::string& path) {
    if (status == kStatusPlaceholder)
      return "Cannot open the file \"" + path +
             "\": the raw audio settings (sample rate, channels, codec) are not usable.";
    return WavOpenErrorText(kStatusCannotOpen, path);
  };
  format.create = [settings_of](const WaveFormat&, const std::string& path, const OpenOptions& options) {
    return CreateRawWriter(path, settings_of(options));
  };
  format.save_format = [settings_of](const WaveFormat& wanted, const OpenOptions& options) {
    const RawSettings settings = settings_of(options);
    if (!UsableRawSettings(settings)) return wanted;  // the writer refuses them
    const int channels = settings.codec == kRawCodecVox ? 1 : settings.channels;
    return DefaultFormat(static_cast<std::uint32_t>(settings.rate), static_cast<std::uint16_t>(channels));
  };
  format.describe = [](SampleSource& reader) {
    std::vector<std::string> lines;
    const int codec = RawCodecOf(reader);
    if (codec < 0) return lines;
    lines.push_back("format: Raw (" + std::string(kRawCodecNames[codec]) + ")");
    lines.push_back("codec: " + std::to_string(codec));
    return lines;
  };
  return format;
}

}  // namespace

SourceRef OpenRawReader(std::unique_ptr<ByteSource> file, const RawSettings& settings) {
  if (!file) return MakeNullSource(kStatusCannotOpen);
  if (!UsableRawSettings(settings)) return MakeNullSource(kStatusPlaceholder);
  if (settings.codec == kRawCodecVox) return OpenVoxReader(std::move(file), settings.rate);
  RawLayout layout;
  layout.rate = settings.rate;
  layout.channels = static_cast<std::uint8_t>(settings.channels);
  layout.coding = kCodings[settings.codec];
  return OpenRawFileReader(std::move(file), layout);
}

SinkRef CreateRawWriter(const std::string& path, const RawSettings& settings) {
  if (!UsableRawSettings(settings)) return MakeNullSink();  // unusable: ignores every write
  if (settings.codec == kRawCodecVox) return CreateVoxWriter(path, settings.rate);
  return CreateRawFileWriter(path, settings.rate, static_cast<std::uint8_t>(settings.channels),
                             kCodings[settings.codec]);
}

int RawCodecOf(SampleSource& source) {
  if (const auto* raw = dynamic_cast<RawFileReader*>(&source); raw != nullptr) {
    for (int codec = 1; codec < kRawCodecCount; ++codec)
      if (kCodings[codec] == raw->coding()) return codec;
  }
  if (IsVoxReader(source)) return kRawCodecVox;
  return -1;
}

FileFormat RawFileFormat() { return RawEntry("Raw", {".raw", ".snd"}, RawAudioKeys()); }
FileFormat VoxFileFormat() { return RawEntry("Dialogic VOX", {".vox"}, VoxAudioKeys()); }

}  // namespace sonavel
