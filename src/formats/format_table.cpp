#include "formats/format_table.h"

#include <algorithm>
#include <cctype>

#include "formats/au_file.h"
#include "formats/aiff_file.h"
#include "formats/codec_table.h"
#include "formats/components.h"
#include "formats/encoders.h"
#include "formats/gsm_file.h"
#include "formats/mp3_file.h"
#include "formats/open_file.h"
#include "formats/playlists.h"
#include "formats/pump.h"
#include "formats/raw_audio.h"
#include "formats/raw_settings.h"
#include "formats/stored_format.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/registry.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

FileFormat Wav() {
  FileFormat format;
  format.name = "WAV";
  format.extensions = {".wav", ".rf64", ".bw64"};
  format.open = [](std::unique_ptr<ByteSource> bytes, const OpenOptions&) { return OpenWavReader(std::move(bytes)); };
  format.open_error = [](std::uint8_t status, const std::string& path) { return WavOpenErrorText(status, path); };
  format.chooses_wav_format = true;
  format.create = [](const WaveFormat& wave, const std::string& path, const OpenOptions&) {
    return CreateWavWriter(wave, path);
  };
  format.describe = [](SampleSource& reader) {
    std::vector<std::string> lines;
    const WavReader* wav = AsWavReader(&reader);
    if (wav == nullptr) return lines;
    char tag[8];
    std::snprintf(tag, sizeof tag, "%04X", wav->format().tag);
    lines.push_back("format: " + FormatTagName(wav->format().tag) + " (tag 0x" + tag + ")");
    lines.push_back("bits: " + std::to_string(wav->format().bits));
    if (wav->Form() != "RIFF") lines.push_back("container: " + wav->Form() + " (64-bit sizes)");
    return lines;
  };
  format.data_sizes = [](SampleSource& reader) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
    const WavReader* wav = AsWavReader(&reader);
    if (wav == nullptr) return std::nullopt;
    return std::pair{wav->ClaimedDataBytes(), wav->PresentDataBytes()};
  };
  // Coded files know their length only once decoded to the end.
  format.exact_length = [](SampleSource& reader) {
    if (const WavReader* wav = AsWavReader(&reader); wav != nullptr && !wav->LengthIsExact()) return ReadToEnd(reader);
    return reader.Length();
  };
  return format;
}

}  // namespace

const std::vector<FileFormat>& FormatTable() {
  static const std::vector<FileFormat> table = {
      Wav(),
      AuFileFormat(),
      AiffFileFormat(),
      RawFileFormat(),
      VoxFileFormat(),
      GsmFileFormat(),
      [] {
        FileFormat mp3 = Mp3FileFormat();
        AddMp3Writer(mp3);
        return mp3;
      }(),
      OggFileFormat(),
      FlacFileFormat(),
      AacFileFormat(),
      M4aFileFormat(),
      AmrFileFormat(),
      PublishingFileFormat(PublishingKind::kRss),
      PublishingFileFormat(PublishingKind::kM3u),
      PublishingFileFormat(PublishingKind::kPls),
      PublishingFileFormat(PublishingKind::kWpl),
  };
  return table;
}

const FileFormat* FormatForPath(const std::string& path) {
  const std::string extension = FileExtension(path);
  if (extension.empty()) return nullptr;
  for (const FileFormat& format : FormatTable())
    if (std::find(format.extensions.begin(), format.extensions.end(), extension) != format.extensions.end())
      return &format;
  return nullptr;
}

SourceRef OpenFormatReader(const std::string& path, const OpenOptions& options) {
  const FileFormat* format = FormatForPath(path);
  if (format == nullptr || !format->open) return MakeNullSource(kStatusPlaceholder);
  return format->open(OpenFileBytes(path), options);
}

WaveFormat SaveFormatFor(const std::string& path, const WaveFormat& format, const OpenOptions& options) {
  const FileFormat* entry = FormatForPath(path);
  if (entry == nullptr || !entry->save_format) return format;
  return entry->save_format(format, options);
}

bool HasWriter(const std::string& path) {
  const FileFormat* entry = FormatForPath(path);
  return entry != nullptr && entry->create;
}

bool CheckWritable(const std::string& path, Ui& ui) {
  if (!HasWriter(path)) return false;
  const FileFormat& entry = *FormatForPath(path);
  if (entry.component.empty()) return true;
  Registry registry;
  if (FindComponent(registry, entry.component)) return true;
  const std::unique_ptr<Progress> progress = ui.OpenProgress("Install-on-Demand");
  return EnsureComponent(registry, entry.component, ui, *progress) == kDone;
}

bool RunFormatOptions(const std::string& path, std::uint32_t rate, std::uint16_t channels, Ui& ui,
                      Settings& settings, WaveFormat& wav_format, OpenOptions& options) {
  if (!HasWriter(path)) return false;
  const FileFormat& entry = *FormatForPath(path);
  if (entry.ask_options) return entry.ask_options(rate, channels, ui, settings);
  if (!entry.component.empty())
    return RunEncoderOptions(FileExtension(path), ui, settings, static_cast<int>(rate), channels);
  if (entry.chooses_wav_format) {
    const std::optional<WaveFormat> chosen = RunWavFormatChooser(ui, wav_format);
    if (!chosen) return false;
    wav_format = *chosen;
    return true;
  }
  if (entry.raw_record != nullptr) {
    // Only ".raw" offers the sound's own rate and channels; VOX keeps its stored record.
    const bool own = entry.raw_record == &RawAudioKeys();
    options.raw = RunRawSettingsDialog(ui, settings, *entry.raw_record, own ? static_cast<int>(rate) : 0,
                                       own ? static_cast<int>(channels) : 0);
    return options.raw.has_value();
  }
  return true;
}

SinkRef CreateFormatWriter(const WaveFormat& format, const std::string& target, const std::string& file,
                           const OpenOptions& options) {
  const FileFormat* entry = FormatForPath(target);
  if (entry == nullptr || !entry->create) return MakeNullSink();
  OpenOptions with_target = options;
  with_target.target = target;
  return entry->create(format, file, with_target);
}

std::string ShortDataNote(const FileFormat& format, SampleSource& reader) {
  if (!format.data_sizes) return {};
  const auto sizes = format.data_sizes(reader);
  if (!sizes || sizes->first <= sizes->second) return {};
  return "note: the header claims " + std::to_string(sizes->first) + " bytes of data; the file holds " +
         std::to_string(sizes->second) + "\n";
}

std::string OpenErrorText(const std::string& path, std::uint8_t status) {
  if (const FileFormat* format = FormatForPath(path); format != nullptr && format->open_error)
    return format->open_error(status, path);
  return "Cannot open the file \"" + path + "\".";
}

}  // namespace sonavel
