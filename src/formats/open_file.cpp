#include "formats/open_file.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "formats/format_table.h"
#include "formats/pump.h"
#include "formats/wav_reader.h"
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
  if (extension.size() < 2 || extension.front() != '.' || extension.find(';') != std::string::npos) return false;
  const std::string pattern = ";*" + extension + ";";
  return std::any_of(std::begin(kSaveTypes), std::end(kSaveTypes), [&pattern](const FileType& type) {
    return (";" + std::string(type.patterns) + ";").find(pattern) != std::string::npos;
  });
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

Result OpenSoundFile(const std::string& path, Sound& sound, Progress& progress, Ui& ui,
                     std::optional<WaveFormat>* file_format, const OpenOptions& asked) {
  OpenOptions options = asked;
  if (AskRawSettingsFirst(path, ui, options) != kDone) return kCancelled;
  auto fail = [&ui](const std::string& text) {
    ui.ShowMessage({text, "Sonavel", MessageIcon::kError, MessageButtons::kOk});
    return kFailed;
  };
  SourceRef reader = OpenFormatReader(path, options);
  if (reader->status != kStatusOk) return fail(OpenErrorText(path, reader->status));
  const std::size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const Result result = LoadIntoSound(*reader, sound, progress, "Lade Datei " + name);
  if (result == kFailed) return fail("Cannot open the file \"" + path + "\".");
  if (result == kDone && file_format != nullptr) {
    const WavReader* wav = AsWavReader(reader.get());
    *file_format = wav != nullptr ? std::optional<WaveFormat>(wav->format()) : std::nullopt;
  }
  return result;
}

}  // namespace sonavel
