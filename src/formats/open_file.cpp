#include "formats/open_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

#include <sys/stat.h>

#include "formats/components.h"
#include "formats/dct_file.h"
#include "formats/format_table.h"
#include "formats/media_loader.h"
#include "formats/pump.h"
#include "formats/raw_audio.h"
#include "formats/wav_reader.h"
#include "platform/paths.h"
#include "platform/progress.h"
#include "platform/registry.h"
#include "platform/temporary_wav.h"
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

// What a converter gives: kDone with the reader of what it decoded, else kCancelled or
// kFailed; `told` when the converter has shown its own message.
struct Converted {
  Result result = kFailed;
  SourceRef source;
  bool told = false;
};

// A converter decodes the file at `path` and gives the reader of what it decoded.
using Converter = Converted (*)(const std::string& path, Progress& progress, Ui& ui);

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The numbered temporary file a converter decodes into, or the message why there is none.
std::optional<TemporaryWav> ReserveTemporary(Ui& ui) {
  std::optional<TemporaryWav> temporary = TemporaryWav::Reserve(TempFolder());
  if (!temporary)
    ui.ShowMessage({"Im Ordner für temporäre Dateien \"" + TempFolder() +
                        "\" kann keine Datei angelegt werden.",
                    "Sonavel", MessageIcon::kError, MessageButtons::kOk});
  return temporary;
}

// The reader of what a converter wrote into `temporary`. The reader keeps the file open,
// so the name is given up (and the file deleted) when `temporary` goes while the reader
// still reads the bytes. A file the reader refuses fails the conversion.
Converted OpenDecoded(SourceRef reader) {
  if (reader->status != kStatusOk) return {kFailed, {}, false};
  return {kDone, reader, false};
}

Converted OpenDecodedWav(const TemporaryWav& temporary) {
  return OpenDecoded(OpenWavReader(OpenFileBytes(temporary.path())));
}

// A decoder component's command line after the executable; kInput and kOutput stand for
// the source path and the decoded file.
constexpr std::string_view kInput = "\x01in";
constexpr std::string_view kOutput = "\x01out";

struct ComponentDecoder {
  std::string_view component;
  const char* title;  // the first line while it runs
  std::vector<std::string_view> arguments;
  // The AMR decoder: headerless 8000 Hz mono 16-bit samples instead of a WAV file, read
  // with those raw settings given here (the user's own raw settings stay as they are),
  // and one wait of at most six minutes.
  bool amr = false;
};

// The decoders' command lines, fixed so that any program taking them can stand in.
const ComponentDecoder kOggDecoding{kOggDecoder, "Decoding Ogg file", {"-o", kOutput, kInput}};
const ComponentDecoder kFlacDecoding{
    kFlacDecoder, "Decoding FLAC file", {"-d", "-f", "-o", kOutput, kInput}};
const ComponentDecoder kAacDecoding{
    kAacDecoder, "Decoding AAC file", {"-d", "-o", kOutput, kInput}};
const ComponentDecoder kShortenDecoding{
    kShortenDecoder, "Decoding Shn file", {"-x", kInput, kOutput}};
const ComponentDecoder kRecordDecoding{kRecordDecoder, "Decoding Record file", {kInput, kOutput}};
const ComponentDecoder kAmrDecoding{kAmrDecoder, "Lade  AMR Datei", {kInput, kOutput}, true};

constexpr int kAmrTimeoutMs = 360000;

// Runs `decoder` on `path` into a reserved temporary file and opens what it wrote. The
// component is made sure of first (a failure there has shown its message). The source
// goes by its absolute path, so a name beginning with "-" never reads as an option.
template <const ComponentDecoder& decoder>
Converted DecodeWithComponent(const std::string& path, Progress& progress, Ui& ui) {
  Registry registry;
  if (const Result ensured = EnsureComponent(registry, decoder.component, ui, progress);
      ensured != kDone)
    return {ensured, {}, true};
  const std::optional<std::string> executable = FindComponent(registry, decoder.component);
  const std::optional<TemporaryWav> temporary = ReserveTemporary(ui);
  if (!temporary) return {kFailed, {}, true};
  if (!executable) return {kFailed, {}, false};
  std::error_code error;
  const std::string source = std::filesystem::absolute(path, error).string();
  std::vector<std::string> arguments = {*executable};
  for (std::string_view argument : decoder.arguments)
    arguments.emplace_back(argument == kInput    ? source
                           : argument == kOutput ? temporary->path()
                                                 : argument);
  progress.SetTexts(decoder.title, FileName(path));
  const Result result = decoder.amr
                            ? RunAndWait(arguments, temporary->path(), kAmrTimeoutMs, progress)
                            : RunDecoder(arguments, temporary->path(), progress);
  if (result != kDone) return {result, {}, false};
  if (decoder.amr)
    return OpenDecoded(OpenRawReader(OpenFileBytes(temporary->path()), RawSettings{8000, 1, 3}));
  return OpenDecodedWav(*temporary);
}

Converted LoadDictation(const std::string& path, Progress& progress, Ui& ui) {
  const std::optional<TemporaryWav> temporary = ReserveTemporary(ui);
  if (!temporary) return {kFailed, {}, true};
  const Result result = LoadDct(path, temporary->path(), progress, ui);
  if (result != kDone) return {result, {}, true};
  return OpenDecodedWav(*temporary);
}

Converted StreamWithFfmpeg(const std::string& path, Progress& progress, Ui&) {
  MediaStream stream = StreamWithMedia(path, progress);
  return {stream.result, stream.source, false};
}

// RealAudio and DSS files are decoded by ffmpeg, under the titles of their own loaders.
Converted DecodeRealAudio(const std::string& path, Progress& progress, Ui& ui) {
  progress.SetTexts("Decoding Real Audio", FileName(path));
  return StreamWithFfmpeg(path, progress, ui);
}

Converted DecodeDss(const std::string& path, Progress& progress, Ui& ui) {
  progress.SetTexts("Decoding DSS File", path);
  return StreamWithFfmpeg(path, progress, ui);
}

// VoiceIt files have no decoder: they are refused as not supported.
Converted NotSupported(const std::string&, Progress&, Ui&) {
  return {kFailed, {}, false};
}

struct ConverterRow {
  std::vector<std::string> extensions;  // empty: every extension without a row of its own
  const char* title;                    // the progress window's first line
  Converter convert;
  const char* decoder;                  // who decodes, as `sonavel-cli info` names it
};

const std::vector<ConverterRow>& ConverterTable() {
  static const std::vector<ConverterRow> table = {
      {{".dct"}, "Loading DCT file", LoadDictation, "the dictation loader"},
      {{".aac", ".m4a"}, "Loading AAC file", DecodeWithComponent<kAacDecoding>, "the component aacdec"},
      {{".ogg"}, "Loading OGG file", DecodeWithComponent<kOggDecoding>, "the component oggdec"},
      {{".flac"}, "Loading FLAC file", DecodeWithComponent<kFlacDecoding>, "the component flacdec"},
      {{".amr"}, "Lade  AMR Datei", DecodeWithComponent<kAmrDecoding>, "the component amrdec"},
      {{".wma"}, "Loading WMA file", StreamWithFfmpeg, "ffmpeg"},
      {{".dss"}, "Loading DSS file", DecodeDss, "ffmpeg"},
      {{".ra", ".ram", ".rm", ".rmj"}, "Loading RealAudio file", DecodeRealAudio, "ffmpeg"},
      {{".sri"}, "Loading SRI file", NotSupported, "nothing"},
      {{".act", ".rec", ".rcd"}, "Loading Record file", DecodeWithComponent<kRecordDecoding>, "the component actdec"},
      {{".shn"}, "Loading Shorten file", DecodeWithComponent<kShortenDecoding>, "the component shndec"},
      {{}, "Loading with DirectX", StreamWithFfmpeg, "ffmpeg"},
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

}  // namespace

std::string DecoderOf(const std::string& path) { return ConverterFor(FileExtension(path)).decoder; }

namespace {

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
  // Every other extension goes through its converter; a file that is not there never
  // starts a decoder (nor the install of one). A ".wma" keeps its own message.
  const std::string extension = FileExtension(path);
  if (extension != ".wma" && !Exists(path)) return fail(WavOpenErrorText(kStatusCannotOpen, path));
  const ConverterRow& row = ConverterFor(extension);
  progress.SetTexts(row.title, "Bitte warten...");
  Converted converted = row.convert(path, progress, ui);
  if (converted.result == kCancelled) return {kCancelled, {}, true};
  if (converted.result != kDone && converted.told) return {kFailed, {}, true};
  if (converted.result != kDone) return fail(ConversionErrorText(path));
  return {kDone, converted.source, true};
}

Result OpenSoundFile(const std::string& path, Sound& sound, Progress& progress, Ui& ui,
                     std::optional<WaveFormat>* file_format, const OpenOptions& options) {
  const OpenedSource opened = OpenSourceFile(path, progress, ui, options);
  if (opened.result != kDone) return opened.result;
  const Result result =
      LoadIntoSound(*opened.source, sound, progress, "Lade Datei " + FileName(path));
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
