#include "formats/open_file.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include <sys/stat.h>

#include "formats/format_table.h"
#include "formats/media_loader.h"
#include "formats/pump.h"
#include "formats/wav_reader.h"
#include "platform/paths.h"
#include "platform/progress.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

struct FileType {
  const char* description;
  const char* patterns;  // separated by ";"
};

constexpr FileType kOpenTypes[] = {
    {"All Files", "*.*"},
    {"Audio Files",
     "*.wav;*.mp3;*.ogg;*.wma;*.aif;*.aiff;*.au;*.ra;*.ram;*.flac;*.aac;*.gsm;*.vox;*.raw;*.dss;*.dct;"
     "*.m4a;*.mp2;*.sri;*.mpga;*.msv;*.dvf;*.act;*.rcd;*.rec;*.shn;*.amr"},
    {"Video Files (*.avi, *.mpg, *.mpeg, *.wmv)", "*.avi;*.mpg;*.mpeg;*.wmv"},
    {"Wave Files (*.wav)", "*.wav"},
    {"MPEG Layer-3 Files (*.mp3, *.mp2, *.mpga)", "*.mp3;*.mp2;*.mpga"},
    {"Ogg Vorbis Files (*.ogg)", "*.ogg"},
    {"Windows Media Audio Files (*.wma)", "*.wma"},
    {"Apple AIFF Files (*.aif, *.aiff)", "*.aif;*.aiff"},
    {"Sun AU Files (*.au)", "*.au"},
    {"Real Audio Files (*.ra, *.ram, *.rm, *.rmj)", "*.ra;*.ram;*.rm;*.rmj"},
    {"FLAC Files (*.flac)", "*.flac"},
    {"AAC Files (*.aac, *.m4a)", "*.aac;*.m4a"},
    {"GSM Files (*.gsm)", "*.gsm"},
    {"Dialogic Vox Files (*.vox)", "*.vox"},
    {"Raw Audio Files (*.raw)", "*.raw"},
    {"DSS Files (*.dss)", "*.dss"},
    {"VoiceIt Files (*.sri)", "*.sri"},
    {"Dictation Files (*.dct)", "*.dct"},
    {"Record Files (*.act, *.rcd, *.rec)", "*.act;*.rcd;*.rec"},
    {"Shorten Files (*.shn)", "*.shn"},
    {"AMR Narrowband Audio Files (*.amr)", "*.amr"},
    {"Windows Media Video Files (*.wmv)", "*.wmv"},
    {"MPEG Video Files (*.mpg, *.mpeg)", "*.mpg;*.mpeg"},
    {"Audio Video Interleave Files (*.avi)", "*.avi"},
};

// Every type a save may be asked for; those whose writer is still missing are refused by
// the save itself ("Kann Datei nicht erstellen").
constexpr FileType kSaveTypes[] = {
    {"Wave (*.wav)", "*.wav"},
    {"MPEG Layer-3 (*.mp3)", "*.mp3"},
    {"Ogg Vorbis (*.ogg)", "*.ogg"},
    {"Apple AIFF(*.aif, *.aiff)", "*.aif;*.aiff"},
    {"Sun AU (*.au)", "*.au"},
    {"FLAC (*.flac)", "*.flac"},
    {"AAC (*.aac)", "*.aac"},
    {"MPEG-4 Audio (*.m4a)", "*.m4a"},
    {"GSM (*.gsm)", "*.gsm"},
    {"Dialogic Vox (*.vox)", "*.vox"},
    {"Raw Audio (*.raw)", "*.raw"},
    {"RSS Podcast Audio (*.rss)", "*.rss"},
    {"M3U Playlist File (*.m3u)", "*.m3u"},
    {"PLS Playlist File (*.pls)", "*.pls"},
    {"WPL Playlist File (*.wpl)", "*.wpl"},
    {"AMR Narrowband Audio (*.amr)", "*.amr"},
};

// The chooser wants the patterns in the last parentheses, separated by blanks: a
// description that lists them itself loses its own list.
template <std::size_t N>
std::string Filter(const FileType (&types)[N]) {
  std::string filter;
  for (const FileType& type : types) {
    std::string description = type.description;
    if (const std::size_t open = description.find('('); open != std::string::npos) description.resize(open);
    while (!description.empty() && description.back() == ' ') description.pop_back();
    std::string patterns = type.patterns;
    std::replace(patterns.begin(), patterns.end(), ';', ' ');
    if (!filter.empty()) filter += ";;";
    filter += description + " (" + patterns + ")";
  }
  return filter;
}

}  // namespace

std::string OpenFileFilter() { return Filter(kOpenTypes); }
std::string SaveFileFilter() { return Filter(kSaveTypes); }

bool IsSaveFileType(const std::string& extension) {
  if (extension.size() < 2 || extension.front() != '.') return false;
  for (const FileType& type : kSaveTypes) {
    for (std::string_view patterns = type.patterns; !patterns.empty();) {
      const std::size_t end = std::min(patterns.find(';'), patterns.size());
      if (patterns.substr(0, end) == "*" + extension) return true;
      patterns.remove_prefix(std::min(end + 1, patterns.size()));
    }
  }
  return false;
}

std::string FileExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = path.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

Result AskRawSettingsFirst(const std::string& path, Ui& ui, OpenOptions& options) {
  Settings* const settings = std::exchange(options.ask_raw_settings, nullptr);
  const FileFormat* format = FormatForPath(path);
  if (settings == nullptr || format == nullptr || format->raw_record == nullptr) return kDone;
  std::optional<RawSettings> accepted = RunRawSettingsDialog(ui, *settings, *format->raw_record);
  if (!accepted) return kCancelled;
  options.raw = accepted;
  return kDone;
}

namespace {

// Where the open messages send the user for help on formats and codecs.
constexpr const char* kFormatsHelp = "the README's section \"Other formats\"";

// A converter decodes the file at `path` and gives the reader of what it decoded.
using Converter = MediaStream (*)(const std::string& path, Progress& progress);

// The decoder components (AAC, Ogg Vorbis, FLAC, AMR, Shorten, Record) and the loaders of
// dictation, DSS, RealAudio and SRI files are not part of the program yet: the components
// work brings them. Until then their files are refused as not supported.
MediaStream NotYetAvailable(const std::string&, Progress&) { return {kFailed, {}}; }

struct ConverterRow {
  std::vector<std::string> extensions;  // empty: every extension without a row of its own
  const char* title;                    // the progress window's first line
  Converter convert;
};

const std::vector<ConverterRow>& ConverterTable() {
  static const std::vector<ConverterRow> table = {
      {{".dct"}, "Loading DCT file", NotYetAvailable},
      {{".aac", ".m4a"}, "Loading AAC file", NotYetAvailable},
      {{".ogg"}, "Loading OGG file", NotYetAvailable},
      {{".flac"}, "Loading FLAC file", NotYetAvailable},
      {{".amr"}, "Lade  AMR Datei", NotYetAvailable},
      {{".wma"}, "Loading WMA file", StreamWithMedia},
      {{".dss"}, "Loading DSS file", NotYetAvailable},
      {{".ra", ".ram", ".rm", ".rmj"}, "Loading RealAudio file", NotYetAvailable},
      {{".sri"}, "Loading SRI file", NotYetAvailable},
      {{".act", ".rec", ".rcd"}, "Loading Record file", NotYetAvailable},
      {{".shn"}, "Loading Shorten file", NotYetAvailable},
      {{}, "Loading with DirectX", StreamWithMedia},
  };
  return table;
}

const ConverterRow& ConverterFor(const std::string& extension) {
  for (const ConverterRow& row : ConverterTable())
    if (row.extensions.empty() ||
        std::find(row.extensions.begin(), row.extensions.end(), extension) != row.extensions.end())
      return row;
  return ConverterTable().back();
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::string NotSupportedText(const std::string& path) {
  return "Cannot open the file \"" + path +
         "\". This means that either the file format is not supported by this program or that a required codec "
         "or plugin is not installed. Please see " +
         kFormatsHelp + " for more information.";
}

// Why the conversion of `path` failed, in the words of its converter.
std::string ConversionErrorText(const std::string& path) {
  const std::string extension = FileExtension(path);
  if (extension == ".wma")
    return "Cannot open file \"" + path +
           "\". It is possible that the file does not exist, it is corrupt or the file is protected with Digital "
           "Rights Management (DRM) which limits the recording to limited players.";
  if (!ConverterFor(extension).extensions.empty()) return NotSupportedText(path);
  if (!Exists(path)) return WavOpenErrorText(kStatusCannotOpen, path);
  if (extension == ".msv" || extension == ".dvf")
    return "Cannot open the file \"" + path +
           "\" because the codec is not installed. Please download the Sony codec following the links from " +
           kFormatsHelp + ".";
  return NotSupportedText(path);
}

}  // namespace

OpenedSource OpenSourceFile(const std::string& path, Progress& progress, Ui& ui, const OpenOptions& asked) {
  OpenOptions options = asked;
  if (AskRawSettingsFirst(path, ui, options) != kDone) return {kCancelled, {}, false};
  auto fail = [&ui](const std::string& text) {
    ui.ShowMessage({text, "Sonavel", MessageIcon::kError, MessageButtons::kOk});
    return OpenedSource{kFailed, {}, false};
  };
  if (const FileFormat* format = FormatForPath(path); format != nullptr && format->open) {
    SourceRef reader = format->open(OpenFileBytes(path), options);
    if (reader->status != kStatusOk) return fail(OpenErrorText(path, reader->status));
    return {kDone, reader, false};
  }
  // Every other extension goes through its converter.
  const ConverterRow& row = ConverterFor(FileExtension(path));
  progress.SetTexts(row.title, "Bitte warten...");
  MediaStream converted = row.convert(path, progress);
  if (converted.result == kCancelled) return {kCancelled, {}, true};
  if (converted.result != kDone) return fail(ConversionErrorText(path));
  return {kDone, converted.source, true};
}

Result OpenSoundFile(const std::string& path, Sound& sound, Progress& progress, Ui& ui,
                     std::optional<WaveFormat>* file_format, const OpenOptions& options) {
  const OpenedSource opened = OpenSourceFile(path, progress, ui, options);
  if (opened.result != kDone) return opened.result;
  const std::size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const Result result = LoadIntoSound(*opened.source, sound, progress, "Lade Datei " + name);
  if (result == kFailed)
    ui.ShowMessage({"Cannot open the file \"" + path + "\".", "Sonavel", MessageIcon::kError, MessageButtons::kOk});
  if (result == kDone && file_format != nullptr) {
    // A converted file's WAV is our own intermediate, not the file's format.
    const WavReader* wav = opened.converted ? nullptr : AsWavReader(opened.source.get());
    *file_format = wav != nullptr ? std::optional<WaveFormat>(wav->format()) : std::nullopt;
  }
  return result;
}

}  // namespace sonavel
