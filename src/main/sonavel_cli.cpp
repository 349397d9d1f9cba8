// sonavel-cli: the editor's file and sound operations without a window, for scripts.
// Exit codes: 0 done, 1 cancelled, 2 failed; messages go to standard error.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_table.h"
#include "document/audio_document.h"
#include "document/bookmark_file.h"
#include "document/edit_commands.h"
#include "document/effect_command.h"
#include "document/file_commands.h"
#include "document/project_file.h"
#include "document/silence_commands.h"
#include "effects/effect.h"
#include "effects/envelope.h"
#include "effects/resampler.h"
#include "formats/wav_writer.h"
#include "platform/file.h"
#include "store/peak_limiter.h"
#include "store/segment_reader.h"
#include "formats/codec_table.h"
#include "formats/encoders.h"
#include "formats/format_table.h"
#include "formats/open_file.h"
#include "formats/playlists.h"
#include "formats/pump.h"
#include "formats/stored_format.h"
#include "formats/tag_files.h"
#include "formats/wav_reader.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/block_table.h"
#include "store/time.h"
#include "document/working_folder.h"
#include "views/png_writer.h"
#include "views/spectrum_analysis.h"

namespace sonavel {
namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  sonavel-cli info FILE [--raw RATE:CHANNELS:CODEC] [--gapless on|off]\n"
    "  sonavel-cli convert IN OUT [--wav-format TAG:BITS] [--rate RATE] [--channels 1|2]\n"
    "                             [--quality default|high] [--raw RATE:CHANNELS:CODEC]\n"
    "                             [--gapless on|off] [NAME=VALUE ...]\n"
    "  sonavel-cli effect NAME IN OUT [VALUE=NUMBER ...]\n"
    "  sonavel-cli effect --list\n"
    "  sonavel-cli tags FILE [NAME=TEXT ...]\n"
    "  sonavel-cli bookmarks FILE [add NAME TIME | remove NAME]\n"
    "  sonavel-cli project info PROJECT.snp\n"
    "  sonavel-cli project create PROJECT.snp FILE ...\n"
    "  sonavel-cli project extract PROJECT.snp FOLDER\n"
    "  sonavel-cli spectrum IN [--at FRAME]\n"
    "  sonavel-cli spectrogram IN OUT.png [--from FRAME] [--to FRAME] [--width W] [--height H]\n"
    "  sonavel-cli --version\n"
    "\n"
    "TAG is a WAV format tag by number (1, 3, 6, 7, 0x11, 2, 0x31) or name (pcm, float,\n"
    "alaw, ulaw, ima-adpcm, ms-adpcm, gsm); BITS its sample size (pcm 8/16/24/32, float 32/64,\n"
    "alaw/ulaw 8, adpcm 4, gsm 0 and mono only). Without --wav-format the stored WAV save\n"
    "format is used, else 16-bit PCM; either way at the rate and channel count of IN unless\n"
    "--rate (6000 to 96000) or --channels converts them. --quality chooses the rate\n"
    "converter's filter (else the stored setting ResampleQuality decides): default, or high\n"
    "(a long filter, flat to 90 % of the lower Nyquist frequency, stopband 160 dB).\n"
    "\n"
    "Headerless files (.raw, .snd, .vox) are read and written by the stored raw audio\n"
    "settings (.vox by its own record), or by --raw: RATE 6000 to 196000, CHANNELS 1 or 2,\n"
    "CODEC 0 Dialogic ADPCM (always mono), 1 G711 uLaw, 2 G711 aLaw, 3 16 bit PCM (LE),\n"
    "4 8 bit unsigned, 5 8 bit signed, 6 16 bit PCM (BE). A raw OUT takes its rate and\n"
    "channels from them.\n"
    "\n"
    "tags prints the tags of a .wav or .mp3 FILE as NAME=TEXT lines, or writes the given ones\n"
    "into it (TITLE, ARTIST, ALBUM, GENRE, TRACKNUMBER, DATE, COMMENT); the file's other tags\n"
    "stay. convert carries the tags of IN into a .wav or .mp3 OUT.\n"
    "\n"
    "bookmarks lists the bookmarks kept beside FILE (its .wbm file) as NAME, position,\n"
    "use count and last use, separated by tabs; add sets one at TIME (h:mm:ss.hh or\n"
    "seconds), remove deletes every bookmark of that name.\n"
    "project info lists a project's documents and regions; create builds a project from\n"
    "audio files (each a document with its whole audio and the bookmarks of its .wbm\n"
    "sidecar); extract writes every document and region of a project as a WAV file (the\n"
    "stored WAV save format) into FOLDER, named NN-TITLE.wav and region-NN-NAME.wav.\n"
    "\n"
    "effect applies the effect NAME (its undo name, e.g. \"Normalisieren\", \"Fade In\") to the\n"
    "whole of IN and saves OUT; parameters not given come from the stored values. Effects\n"
    "that work on a short range (\"Manueller Klick/Pop Reduzierung\") take it as From=FRAME\n"
    "To=FRAME instead. \"Auto Split\" (Threshold=dB, Duration=ms of silence) saves each loud\n"
    "stretch of IN as \"OUT-stem (n).ext\", n counted from 0.\n"
    "\n"
    "Files of other extensions (.wma, .mp2, .opus, video files, ...) are decoded by ffmpeg,\n"
    "as in the editor.\n"
    "\n"
    "OUT of .mp3, .ogg, .flac, .aac, .m4a or .amr is written by its encoder (lame, oggenc,\n"
    "flac, and our adapters over ffmpeg and sox) with the stored encoder settings; NAME=VALUE\n"
    "sets one of them for this run, e.g. CBRBitRate=192 (.mp3: ConstantBitRate, CBRBitRate,\n"
    "HighQuality, VBRMinBitRate, VBRMaxBitRate, VBRQuality, ErrorProtection, ChannelMode;\n"
    ".ogg: Quality, VBRQuality, VBRMinBitRate, VBRMaxBitRate, Channels, StripComments;\n"
    ".flac: Compression, Channels, SampleRate; .aac/.m4a: AverageBitRate, ABRBitRate,\n"
    "VBRQuality, ForceMPEG2, DisableTNS; .amr: ModeRateSelection 0 to 7).\n"
    "\n"
    "OUT of .m3u, .pls, .wpl or .rss publishes: IN is encoded as an MP3 named like OUT with\n"
    "the extension .mp3, beside it (the .mp3 NAME=VALUE settings apply), and OUT becomes a\n"
    "playlist or podcast feed pointing to it under the stored root address, or the one given\n"
    "as RootURL=ADDRESS (e.g. RootURL=http://example.org/pod; empty: the bare file name).\n"
    "As OUT itself, an MP3 already there is replaced, but only once the new one is whole.\n"
    "\n"
    "spectrum prints the spectrum of the 4096 frames of IN from FRAME on (default 0, at most\n"
    "the length), as the frequency analysis window shows it: one line per bin, its frequency\n"
    "in Hz and its level in dB (-127 ... 127), a second level for the right channel of a\n"
    "stereo file, separated by tabs. spectrogram draws the time-frequency analysis of frames\n"
    "[FROM, TO) of IN (default the whole file) as the window does, with the stored brightness\n"
    "(TFFTVScroll), 0 - 4000 Hz zoom (TFFTFullZoomOn) and grid lines (GridToggle), into a PNG\n"
    "picture of W x H pixels (default 800 x 400, each 1 to 8192).\n"
    "\n"
    "MP3 files (.mp3) are read with the encoder's delay and padding cut off when a LAME tag\n"
    "states them (the stored setting MP3Gapless, on by default); --gapless on|off overrides it.\n";

void Fail(Ui& ui, const std::string& text) {
  ui.ShowMessage({text, "", MessageIcon::kError, MessageButtons::kOk});
}

// A private folder for the block files of this run, inside the working folder, so that a
// running editor and this program never clean up each other's blocks.
class RunFolder {
 public:
  RunFolder() {
    Registry registry;
    ChooseWorkingFolder(Settings(registry));
    folder_ = JoinPath(WorkingFolder(), "cli-" + std::to_string(::getpid()));
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    SetWorkingFolder(folder_);
  }
  ~RunFolder() {
    CleanWorkingFolder();
    std::error_code ignored;
    std::filesystem::remove(folder_, ignored);
  }

 private:
  std::string folder_;
};

// A reader of `path` by the editor's one open path (formats without a reader of ours
// through ffmpeg); null (with the reason told) when it cannot be read. A converted file's
// temporary WAV is gone once the reader is released.
SourceRef OpenOrComplain(const std::string& path, Ui& ui, const OpenOptions& options) {
  ConsoleProgress progress;
  OpenedSource opened = OpenSourceFile(path, progress, ui, options);
  return opened.result == kDone ? opened.source : SourceRef();
}

// The format table's entry that reads `path`; null for a file converted through a
// temporary WAV (also the formats we only write, such as ".ogg").
const FileFormat* ReaderFor(const std::string& path) {
  const FileFormat* format = FormatForPath(path);
  return format != nullptr && format->open ? format : nullptr;
}

// The entry of `path`'s reader; a converted file is described as its temporary WAV.
const FileFormat& EntryFor(const std::string& path) {
  const FileFormat* format = ReaderFor(path);
  return format != nullptr ? *format : *FormatForPath("converted.wav");
}

// The stored settings with the values the command line gave instead: MP3Gapless from
// --gapless, and an encoder's NAME=VALUE.
class GivenSettings final : public SettingsReader {
 public:
  GivenSettings(const SettingsReader& stored, std::optional<bool> gapless) : stored_(stored) {
    if (gapless) Set(setting::kMp3Gapless.group, setting::kMp3Gapless.name, *gapless ? "1" : "0");
  }
  void Set(std::string_view group, std::string_view name, std::string value) {
    given_[{std::string(group), std::string(name)}] = std::move(value);
  }
  std::string ReadText(std::string_view group, std::string_view name, std::string_view fallback) const override {
    if (const std::string* value = Given(group, name)) return *value;
    return stored_.ReadText(group, name, fallback);
  }
  std::string ReadUserText(std::string_view group, std::string_view name, std::string_view fallback) const override {
    if (const std::string* value = Given(group, name)) return *value;
    return stored_.ReadUserText(group, name, fallback);
  }

 private:
  const std::string* Given(std::string_view group, std::string_view name) const {
    const auto found = given_.find({std::string(group), std::string(name)});
    return found == given_.end() ? nullptr : &found->second;
  }
  const SettingsReader& stored_;
  std::map<std::pair<std::string, std::string>, std::string> given_;
};

// The value of --gapless: "on" or "off"; false (with the reason told) for anything else.
bool ParseGapless(const std::string& value, std::optional<bool>& gapless, Ui& ui) {
  if (value != "on" && value != "off") {
    Fail(ui, "--gapless takes on or off, not \"" + value + "\".");
    return false;
  }
  gapless = value == "on";
  return true;
}

// The stored settings, and --raw standing in for the raw audio records; false (with the
// reason told) for a --raw value out of range.
bool RawOptions(const std::string* raw, const SettingsReader& settings, OpenOptions& options, Ui& ui) {
  options.settings = &settings;
  if (raw == nullptr) return true;
  std::string error;
  options.raw = ParseRawSettings(*raw, error);
  if (!options.raw) Fail(ui, error);
  return options.raw.has_value();
}

// info FILE followed by --raw and --gapless, each at most once.
Result Info(const std::vector<std::string>& args, Ui& ui) {
  const std::string& path = args[1];
  std::optional<std::string> raw;
  std::optional<bool> gapless;
  for (std::size_t i = 2; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) {
      Fail(ui, "\"" + args[i] + "\" needs a value.");
      return kFailed;
    }
    if (args[i] == "--raw" && !raw) {
      raw = args[i + 1];
    } else if (args[i] == "--gapless" && !gapless) {
      if (!ParseGapless(args[i + 1], gapless, ui)) return kFailed;
    } else {
      Fail(ui, "Unknown option \"" + args[i] + "\".");
      return kFailed;
    }
  }
  Registry registry;
  const Settings stored(registry);
  const GivenSettings settings(stored, gapless);
  OpenOptions options;
  if (!RawOptions(raw ? &*raw : nullptr, settings, options, ui)) return kFailed;
  SourceRef reader = OpenOrComplain(path, ui, options);
  if (!reader) return kFailed;
  const FileFormat& format = EntryFor(path);
  // A converted file's length is known once its decoder has decoded all of it.
  const std::int64_t frames = ReaderFor(path) == nullptr ? ReadToEnd(*reader)
                              : format.exact_length      ? format.exact_length(*reader)
                                                         : reader->Length();
  // The format's own lines, the first naming the format, around rate and channels; a
  // converted file is told as what its decoder made of it.
  std::vector<std::string> lines = format.describe(*reader);
  if (ReaderFor(path) == nullptr) lines = {"format: decoded by " + DecoderOf(path) + " to 16-bit PCM"};
  if (!lines.empty()) std::printf("%s\n", lines.front().c_str());
  std::printf("rate: %d\n", reader->rate);
  std::printf("channels: %d\n", reader->channels);
  for (std::size_t i = 1; i < lines.size(); ++i) std::printf("%s\n", lines[i].c_str());
  std::printf("frames: %lld\n", static_cast<long long>(frames));
  std::printf("duration: %s\n", FormatTimeMs(FramesToMs(frames, reader->rate)).c_str());
  std::fputs(ShortDataNote(format, *reader).c_str(), stdout);
  return kDone;
}

bool ParseTag(std::string_view text, std::uint16_t& tag) {
  static const std::pair<std::string_view, std::uint16_t> kNames[] = {
      {"pcm", kTagPcm},       {"float", kTagFloat},          {"alaw", kTagALaw},
      {"ulaw", kTagMuLaw},    {"ima-adpcm", kTagImaAdpcm},   {"ms-adpcm", kTagMsAdpcm},
      {"gsm", kTagGsm610}};
  for (const auto& [name, value] : kNames) {
    if (text == name) {
      tag = value;
      return true;
    }
  }
  std::string number(text);
  char* end = nullptr;
  const unsigned long value = std::strtoul(number.c_str(), &end, 0);
  if (number.empty() || *end != '\0' || value == 0 || value > 0xFFFF) return false;
  tag = static_cast<std::uint16_t>(value);
  return true;
}

// The output format: --wav-format, else the stored save format, else 16-bit PCM; always at
// the sound's rate and channels.
bool ChooseFormat(const std::string& option, std::int32_t sound_rate, std::uint8_t sound_channels,
                  WaveFormat& format, Ui& ui) {
  const auto rate = static_cast<std::uint32_t>(sound_rate);
  const std::uint16_t channels = sound_channels;
  if (option.empty()) {
    format = StoredFormatAt(rate, channels);
    return true;
  }
  std::uint16_t tag = kTagPcm;
  const std::size_t colon = option.find(':');
  char* end = nullptr;
  const std::string bits_text = colon == std::string::npos ? "" : option.substr(colon + 1);
  const unsigned long bits = std::strtoul(bits_text.c_str(), &end, 10);
  if (colon == std::string::npos || !ParseTag(option.substr(0, colon), tag) || bits_text.empty() ||
      *end != '\0' || (bits == 0) != (tag == kTagGsm610) || bits > 64) {
    Fail(ui, "Invalid --wav-format \"" + option + "\": expected TAG:BITS, e.g. pcm:16.");
    return false;
  }
  format = WritableFormat(tag, static_cast<std::uint16_t>(bits), rate, channels);
  if (format.tag == 0) {
    Fail(ui, "Das gewählte Format ist nicht verfügbar, weil der benötigte CODEC auf Ihrem "
             "Computer nicht installiert ist.");
    return false;
  }
  return true;
}

// Loads `path` into `sound`; false (with the reason told) when it cannot.
Result LoadFile(const std::string& path, Sound& sound, Ui& ui, const OpenOptions& options) {
  SourceRef reader = OpenOrComplain(path, ui, options);
  if (!reader) return kFailed;
  std::fputs(ShortDataNote(EntryFor(path), *reader).c_str(), stderr);
  ConsoleProgress progress;
  const std::string name = std::filesystem::path(path).filename().string();
  const Result result = LoadIntoSound(*reader, sound, progress, "Lade Datei " + name);
  if (result == kFailed) Fail(ui, "Cannot open the file \"" + path + "\".");
  return result;
}

// What convert was asked for beyond the two files.
struct ConvertOptions {
  std::string wav_format;
  std::optional<std::string> raw;
  std::int32_t rate = 0;      // 0: the file's own
  std::uint8_t channels = 0;  // 0: the file's own
  std::optional<bool> gapless;  // MP3Gapless, when given
  std::optional<ResampleQuality> quality;  // when given
  std::vector<std::pair<std::string, std::string>> encoder_values;  // NAME=VALUE for OUT's encoder
  std::optional<std::string> root_url;  // RootURL=... for a playlist or feed
};

// The extension whose encoder writes OUT: a playlist or feed publishes through the MP3 one.
std::string EncoderExtensionOf(const std::string& out) {
  const std::string extension = FileExtension(out);
  return PublishingKindOf(extension) ? ".mp3" : extension;
}

// Reads the options after IN and OUT; false (with the reason told) on anything unknown.
bool ParseConvertOptions(const std::vector<std::string>& args, ConvertOptions& options, Ui& ui) {
  for (std::size_t i = 3; i < args.size(); i += 2) {
    const std::string& name = args[i];
    if (const std::size_t equals = name.find('='); !name.starts_with("--") && equals != std::string::npos) {
      // A value of OUT's encoder, checked strictly before any file is touched.
      const std::string key = name.substr(0, equals);
      const std::string value = name.substr(equals + 1);
      if (PublishingKindOf(FileExtension(args[2])) && key == setting::kRssRootUrl.name) {
        if (const std::string refusal = RootUrlRefusal(value); !refusal.empty()) {
          Fail(ui, refusal);
          return false;
        }
        options.root_url = value;
        --i;
        continue;
      }
      if (const std::string refusal = EncoderValueRefusal(EncoderExtensionOf(args[2]), key, value); !refusal.empty()) {
        Fail(ui, refusal);
        return false;
      }
      options.encoder_values.emplace_back(key, value);
      --i;  // one argument, not a pair
      continue;
    }
    if (i + 1 >= args.size()) {
      Fail(ui, "\"" + name + "\" needs a value.");
      return false;
    }
    const std::string& value = args[i + 1];
    if (name == "--wav-format") {
      options.wav_format = value;
    } else if (name == "--raw") {
      options.raw = value;
    } else if (name == "--gapless") {
      if (!ParseGapless(value, options.gapless, ui)) return false;
    } else if (name == "--rate") {
      const int rate = TextToInt(value);
      if (rate < 6000 || rate > 96000 || std::to_string(rate) != value) {
        Fail(ui, "Samplerate muss zwischen 6000 und 96000 Samples pro Sekunde liegen.");
        return false;
      }
      options.rate = rate;
    } else if (name == "--quality") {
      if (value != "default" && value != "high") {
        Fail(ui, "--quality takes default or high, not \"" + value + "\".");
        return false;
      }
      options.quality = value == "high" ? ResampleQuality::kHigh : ResampleQuality::kDefault;
    } else if (name == "--channels") {
      if (value != "1" && value != "2") {
        Fail(ui, "--channels takes 1 (mono) or 2 (stereo), not \"" + value + "\".");
        return false;
      }
      options.channels = static_cast<std::uint8_t>(value[0] - '0');
    } else {
      Fail(ui, "Unknown option \"" + name + "\".");
      return false;
    }
  }
  return true;
}

Result Convert(const std::vector<std::string>& args, Ui& ui) {
  ConvertOptions options;
  if (!ParseConvertOptions(args, options, ui)) return kFailed;
  const std::string& in = args[1];
  const std::string& out = args[2];
  Registry registry;
  const Settings stored(registry);
  GivenSettings settings(stored, options.gapless);
  if (options.root_url) settings.Set(setting::kRssRootUrl.group, setting::kRssRootUrl.name, *options.root_url);
  if (const EncoderInfo* encoder = EncoderForExtension(EncoderExtensionOf(out)); encoder != nullptr)
    for (const auto& [name, value] : options.encoder_values)
      for (const RangedSetting* key : encoder->settings)
        if (key->key.name == name) settings.Set(key->key.group, name, value);
  OpenOptions files;
  if (!RawOptions(options.raw ? &*options.raw : nullptr, settings, files, ui)) return kFailed;
  // The tags go from IN to OUT as the editor's open and save carry them.
  TagList tags;
  ReadTags(tags, in);
  files.tags = &tags;
  // Without edits the file streams into the new one, never loaded into blocks.
  SourceRef reader = OpenOrComplain(in, ui, files);
  if (!reader) return kFailed;
  std::fputs(ShortDataNote(EntryFor(in), *reader).c_str(), stderr);
  const std::int32_t rate = options.rate != 0 ? options.rate : reader->rate;
  const std::uint8_t channels = options.channels != 0 ? options.channels : reader->channels;
  WaveFormat format;
  if (!ChooseFormat(options.wav_format, rate, channels, format, ui)) return kFailed;
  // A raw OUT writes at the rate and channels of its settings.
  format = SaveFormatFor(out, format, files);
  // Rate and channels change through the one format conversion the editor uses. A file's
  // samples may lie one step beyond full scale (a 16-bit -32768 reads as -524288); the
  // limiter treats them as the editor's load and save would.
  const auto to_rate = static_cast<std::int32_t>(format.rate);
  const auto to_channels = static_cast<std::uint8_t>(format.channels);
  const ResampleQuality quality =
      options.quality.value_or(StoredResampleQuality(settings));
  return SaveSoundFile(MakePeakLimiter(ConvertFormat(reader, to_rate, to_channels, quality), kFullScale), format,
                       out, ui, files);
}

// The text the menu shows for a command: without the access key "&", the shortcut after
// "\t" and a closing "..."; "" when the command has no menu item.
std::string MenuText(int command_id) {
  const MenuItem* item = FindCommand(command_id);
  if (item == nullptr) return {};
  std::string text;
  const std::string& raw = item->text;
  for (std::size_t i = 0; i < raw.size() && raw[i] != '\t'; ++i) {
    if (raw[i] == '&' && i + 1 < raw.size()) ++i;  // "&&" stands for "&"
    text += raw[i];
  }
  if (text.ends_with("...")) text.resize(text.size() - 3);
  return text;
}

// What a parameter takes, for the list and the refusals: "0 to 400".
std::string RangeText(const EffectParameter& parameter) {
  return NumberText(LowestValue(parameter)) + " to " + NumberText(HighestValue(parameter));
}

// One effect's names and parameters for the list.
void ListEffect(const EffectDefinition& effect, const SettingsReader& settings) {
  // The menu's text too, where it differs from the undo name; both are accepted.
  const std::string menu = MenuText(effect.command_id);
  if (menu.empty() || FoldCase(menu) == FoldCase(effect.undo_name))
    std::printf("%s\n", effect.undo_name.c_str());
  else
    std::printf("%s (menu: %s)\n", effect.undo_name.c_str(), menu.c_str());
  if (effect.keeps_selection) std::printf("  From=FRAME To=FRAME (required: the range of IN it works on)\n");
  const EffectValues values = ReadEffectValues(effect, settings);
  for (const EffectParameter& parameter : effect.parameters) {
    std::printf("  %s=%s (default %s; %s %s)", parameter.name.c_str(), values.at(parameter.name).c_str(),
                parameter.fallback.c_str(), parameter.real ? "number" : "whole number", RangeText(parameter).c_str());
    if (parameter.free_entry) {
      // The value is the number itself; the entries are suggestions.
      std::printf(", e.g.");
      for (const std::string& choice : parameter.choices) std::printf(" %s", choice.c_str());
    } else if (!parameter.choices.empty()) {
      std::printf(":");
      for (std::size_t i = 0; i < parameter.choices.size(); ++i)
        std::printf(" %zu=%s", i, parameter.choices[i].c_str());
    }
    std::printf("\n");
  }
}

Result ListEffects(const SettingsReader& settings) {
  for (const EffectDefinition& effect : EffectCatalogue()) ListEffect(effect, settings);
  ListEffect(AutoSplitDefinition(), settings);
  return kDone;
}

// Tells why a value given on the command line is refused, naming the parameter and its
// range, and the effect's own message where it has one.
void TellRefusal(const ValueRefusal& refusal, Ui& ui) {
  if (refusal.parameter != nullptr) {
    const EffectParameter& parameter = *refusal.parameter;
    const bool choice = !parameter.choices.empty() && !parameter.free_entry;
    const char* what = refusal.not_a_number ? (parameter.real ? "is not a number" : "is not a whole number")
                                            : (choice ? "is not one of the choices" : "is out of range");
    Fail(ui, parameter.name + ": \"" + refusal.value + "\" " + what + " (" + RangeText(parameter) + ")");
  }
  if (refusal.parameter == nullptr || refusal.own_message)
    ui.ShowMessage({refusal.message, "Ungültiger Wert", MessageIcon::kInformation, MessageButtons::kOk});
}

// An effect that streams runs from the file straight into the new file, as the editor's
// render followed by a save would, without loading the file first. The output is limited
// to full scale, as saving does, and replaces `out` only when complete.
Result StreamEffect(const EffectDefinition& effect, const EffectValues& given, const std::string& in,
                 const std::string& out, const SettingsReader& settings, Ui& ui) {
  const OpenOptions options{&settings, std::nullopt};
  SourceRef reader = OpenOrComplain(in, ui, options);
  if (!reader) return kFailed;
  if (effect.needs_stereo && reader->channels != 2) {
    ui.ShowMessage(StereoOnlyMessage());
    return kCancelled;
  }
  EffectValues values = ReadEffectValues(effect, settings);
  Sound shape(reader->rate, reader->channels);
  if (effect.initial) effect.initial(values, shape);
  for (const auto& [name, value] : given) values[name] = value;
  if (const std::optional<ValueRefusal> refusal = CheckEffectValues(effect, values)) {
    TellRefusal(*refusal, ui);
    return kFailed;
  }
  const std::int32_t length = reader->Length();
  const std::uint8_t channels = effect.streamed_channels != 0 ? effect.streamed_channels : reader->channels;
  const WaveFormat format = StoredFormatAt(static_cast<std::uint32_t>(reader->rate), channels);
  ReplacingFile replacing(out);
  int result;
  {
    SinkRef file = CreateFormatWriter(format, out, replacing.temporary_path(), options);
    if (file->status != kStatusOk) {
      ui.ShowMessage(CannotSaveMessage(out));
      return kFailed;
    }
    // The sound's shape without its audio: what the run reads comes from the file.
    ConsoleProgress progress;
    EffectRun run{shape, 0, length, values, {}, progress};
    if (effect.uses_envelope_file) run.points = LoadEnvelopePoints();
    run.input = reader;
    run.output = MakeLimitingSink(file, kFullScale, 0x7FFFFFFF);
    result = effect.run(run);
    if (run.refusal) {
      ui.ShowMessage(*run.refusal);
      return kFailed;
    }
    run.output = SinkRef();  // the limiter hands over what it held
    // A writer that hands its frames to an encoder puts its file in place only when told
    // that the copy is whole.
    if (result == kDone) file->Finish();
    if (result == kDone && (file->status & kSinkWriteFailed) != 0) result = kFailed;
  }
  if (result == kDone && replacing.Commit()) return kDone;
  if (result == kCancelled) return kCancelled;
  ui.ShowMessage(CannotSaveMessage(out));
  return kFailed;
}

// The range From= and To= (frames) of an effect that works on the selection as it stands.
struct GivenRange {
  std::optional<std::int64_t> from, to;
};

// The VALUE=NUMBER arguments after IN and OUT, each a parameter of `effect` whose value
// is read strictly and checked before any file is touched. False (after the message) when
// one is not.
bool GivenValues(const std::vector<std::string>& args, const EffectDefinition& effect, EffectValues& given, Ui& ui,
                 GivenRange* range = nullptr) {
  const bool ranged = range != nullptr && effect.keeps_selection;
  for (std::size_t i = 4; i < args.size(); ++i) {
    const std::size_t equals = args[i].find('=');
    const std::string name = args[i].substr(0, equals);
    if (ranged && equals != std::string::npos && (name == "From" || name == "To")) {
      const std::string text = args[i].substr(equals + 1);
      const std::optional<std::int64_t> frame = ParseWholeNumber(text);
      if (!frame || *frame < 0 || *frame > std::numeric_limits<std::int32_t>::max()) {
        Fail(ui, name + ": \"" + text + "\" is not a frame number (a whole number from 0).");
        return false;
      }
      (name == "From" ? range->from : range->to) = frame;
      continue;
    }
    const bool known = std::any_of(effect.parameters.begin(), effect.parameters.end(),
                                   [&](const EffectParameter& parameter) { return parameter.name == name; });
    if (equals == std::string::npos || !known) {
      Fail(ui, "\"" + args[i] + "\" is not a parameter of \"" + effect.undo_name + "\" (VALUE=NUMBER).");
      return false;
    }
    given[name] = args[i].substr(equals + 1);
  }
  if (ranged && (!range->from || !range->to)) {
    Fail(ui, "\"" + effect.undo_name + "\" works on a range of IN: give From=FRAME and To=FRAME.");
    return false;
  }
  if (const std::optional<ValueRefusal> refusal = CheckParameterValues(effect.parameters, given)) {
    TellRefusal(*refusal, ui);
    return false;
  }
  return true;
}

// Automatic splitting of IN: each loud stretch saved as "OUT-stem (n).ext", as the editor
// opens them as windows; fewer than two stretches save nothing and say so.
Result AutoSplitFile(const std::vector<std::string>& args, const Settings& settings, Ui& ui) {
  const EffectDefinition& split = AutoSplitDefinition();
  EffectValues values = ReadEffectValues(split, settings);
  EffectValues given;
  if (!GivenValues(args, split, given, ui)) return kFailed;
  for (const auto& [name, value] : given) values[name] = value;
  RunFolder run_folder;
  const OpenOptions files{&settings, std::nullopt};
  Sound sound;
  if (const Result loaded = LoadFile(args[2], sound, ui, files); loaded != kDone) return loaded;
  const std::optional<std::vector<LoudRange>> ranges = FindSplitRanges(sound, values, ui);
  if (!ranges) return kCancelled;
  if (ranges->size() < 2) {
    ui.ShowMessage(TooFewPartsMessage());
    return kDone;
  }
  for (std::size_t i = 0; i < ranges->size(); ++i) {
    Sound part(sound.rate, sound.channels);
    CopyRange(sound, part, (*ranges)[i].start, (*ranges)[i].end);
    const std::string path = RegionDocumentPath(args[3], static_cast<int>(i));
    if (const Result saved = SaveSoundToNewFile(part, path, ui, files); saved != kDone) return saved;
  }
  return kDone;
}

// Applies one effect to the whole of `in` and saves `out` in the stored WAV format.
Result ApplyEffect(const std::vector<std::string>& args, Ui& ui) {
  Registry registry;
  Settings settings(registry);
  if (args.size() == 2 && args[1] == "--list") return ListEffects(settings);
  if (args.size() < 4) {
    std::fputs(kUsage, stderr);
    return kFailed;
  }
  if (FoldCase(args[1]) == FoldCase(AutoSplitDefinition().undo_name)) return AutoSplitFile(args, settings, ui);
  // By undo name or by the menu's text, in any case.
  const std::vector<const EffectDefinition*> named = FindEffectsByName(args[1], MenuText);
  if (named.empty()) {
    Fail(ui, "Unknown effect \"" + args[1] + "\"; sonavel-cli effect --list names them.");
    return kFailed;
  }
  if (named.size() > 1) {
    std::string menus;
    for (const EffectDefinition* each : named) menus += (menus.empty() ? "\"" : ", \"") + MenuText(each->command_id) + "\"";
    Fail(ui, "\"" + args[1] + "\" names more than one effect; give its menu text: " + menus + ".");
    return kFailed;
  }
  const EffectDefinition* effect = named.front();
  EffectValues given;
  GivenRange range;
  if (!GivenValues(args, *effect, given, ui, &range)) return kFailed;

  RunFolder run_folder;
  // A raw OUT takes the rate and channels of its settings: the loaded sound is converted.
  const FileFormat* out_format = FormatForPath(args[3]);
  const bool settings_decide = out_format != nullptr && out_format->save_format;
  if (effect->streams && !settings_decide) return StreamEffect(*effect, given, args[2], args[3], settings, ui);
  DocumentRef document = MakeCounted<AudioDocument>(44100, 1, args[2]);
  const OpenOptions files{&settings, std::nullopt};
  if (const Result loaded = LoadFile(args[2], document->sound, ui, files); loaded != kDone) return loaded;
  if (effect->keeps_selection) {
    // The effect's own refusal of the range comes with the command below.
    const std::int32_t length = SoundLength(document->sound);
    if (*range.from >= *range.to || *range.to > length) {
      Fail(ui, "From=" + std::to_string(*range.from) + " To=" + std::to_string(*range.to) + " is no range of \"" +
                   args[2] + "\" (From below To, To at most its " + std::to_string(length) + " frames).");
      return kFailed;
    }
    document->state.selection_start = static_cast<std::int32_t>(*range.from);
    document->state.selection_end = static_cast<std::int32_t>(*range.to);
  }
  // Headless: nothing plays afterwards.
  class Silent final : public PlaybackControl {
   public:
    void Stop() override {}
    void PlayFrom(AudioDocument&, std::int32_t) override {}
  } silent;
  DocumentServices services{ui, settings, silent};
  EffectCommandOptions options;
  options.values = &given;
  options.store_values = false;
  const Result result = RunEffectCommand(*document, services, settings, *effect, options);
  if (result == kCancelled) return kCancelled;
  if (result != kDone) return kFailed;
  const WaveFormat format = StoredFormatAt(static_cast<std::uint32_t>(document->sound.rate), document->sound.channels);
  return SaveSoundFile(OpenSoundReader(document->sound), format, args[3], ui, files);
}

// Prints the tags of `args[1]`, or writes the NAME=TEXT pairs after it into the file.
Result Tags(const std::vector<std::string>& args, Ui& ui) {
  const std::string& path = args[1];
  if (!HasTags(path)) {
    Fail(ui, "\"" + path + "\" carries no tags: only .wav and .mp3 files have them.");
    return kFailed;
  }
  if (!std::filesystem::is_regular_file(path)) {
    Fail(ui, "Cannot open \"" + path + "\".");
    return kFailed;
  }
  TagList given;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::size_t equals = args[i].find('=');
    if (equals == std::string::npos || !IsTagName(args[i].substr(0, equals))) {
      Fail(ui, "\"" + args[i] + "\" is no tag (NAME=TEXT with NAME one of TITLE, ARTIST, ALBUM, GENRE, "
               "TRACKNUMBER, DATE, COMMENT).");
      return kFailed;
    }
    given.Set(args[i].substr(0, equals), args[i].substr(equals + 1));
  }
  if (args.size() == 2) {
    TagList tags;
    ReadTags(tags, path);
    for (const std::string_view name : kTagNames)
      if (const std::string text = tags.Get(name); !text.empty())
        std::printf("%s=%s\n", std::string(name).c_str(), text.c_str());
    return kDone;
  }
  switch (WriteTags(given, path)) {
    case TagWrite::kWritten: return kDone;
    case TagWrite::kSkipped:
      Fail(ui, "\"" + path + "\" was left alone: it is no RIFF/WAVE file, or not one whose tags can be written.");
      return kFailed;
    case TagWrite::kFailed: break;
  }
  Fail(ui, "Cannot write the tags into \"" + path + "\".");
  return kFailed;
}

// Lists the bookmarks of the sidecar beside `args[1]`, or adds or removes one.
Result Bookmarks(const std::vector<std::string>& args, Ui& ui) {
  const std::string& path = args[1];
  const bool add = args.size() == 5 && args[2] == "add";
  const bool remove = args.size() == 4 && args[2] == "remove";
  if (args.size() != 2 && !add && !remove) {
    Fail(ui, "bookmarks takes FILE, FILE add NAME TIME or FILE remove NAME.");
    return kFailed;
  }
  if (!std::filesystem::is_regular_file(path)) {
    Fail(ui, "Cannot open \"" + path + "\".");
    return kFailed;
  }
  AudioDocument document(44100, 1, path);
  LoadBookmarkFile(document);
  if (!document.unread_sidecar.empty()) {
    Fail(ui, "Cannot read the bookmarks in \"" + document.unread_sidecar + "\".");
    return kFailed;
  }
  if (args.size() == 2) {
    for (const Bookmark& bookmark : document.bookmarks.bookmarks())
      std::printf("%s\t%s\t%u\t%s\n", bookmark.name.c_str(), FormatTimeHundredths(bookmark.position).c_str(),
                  unsigned{bookmark.use_count}, LastUsedText(bookmark.last_used).c_str());
    return kDone;
  }
  const std::string& name = args[3];
  if (remove) {
    if (!RemoveBookmarks(document, name)) {
      Fail(ui, "There is no bookmark \"" + name + "\".");
      return kFailed;
    }
  } else {
    const std::int64_t ms = IsTypedTime(args[4]) ? ParseTypedTime(args[4]) : -1;
    if (ms < 0 || ms > std::numeric_limits<std::int32_t>::max()) {
      Fail(ui, "\"" + args[4] + "\" is no time from 0 on (h:mm:ss.hh or seconds).");
      return kFailed;
    }
    if (name.empty() || name.size() > kMaxBookmarkName || HasBookmark(document, name)) {
      Fail(ui, "\"" + name + "\" is empty, longer than 259 bytes or already a bookmark.");
      return kFailed;
    }
    Bookmark bookmark{name, DisplayTitle(document), static_cast<std::int32_t>(ms), 1, BookmarkClock()};
    if (!document.bookmarks.Add(std::move(bookmark))) {
      Fail(ui, FullMessage().text);
      return kFailed;
    }
  }
  if (const std::optional<Message> problem = SaveBookmarkFile(document)) {
    Fail(ui, problem->text);
    return kFailed;
  }
  return kDone;
}

// A file name part of `text`: characters a file name cannot hold become "_".
std::string FileNameOf(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32 || std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos) c = '_';
  return text.empty() || text == "." || text == ".." ? "_" : text;
}

void PrintAudio(const Sound& sound) {
  std::printf("  %d Hz, %d channel(s), %d frames\n", sound.rate, sound.channels, SoundLength(sound));
}

// project info|create|extract.
Result ProjectVerb(const std::vector<std::string>& args, Ui& ui) {
  const std::string& verb = args[1];
  const std::string& path = args[2];
  if (!((verb == "info" && args.size() == 3) || (verb == "extract" && args.size() == 4) ||
        (verb == "create" && args.size() >= 4))) {
    std::fputs(kUsage, stderr);
    return kFailed;
  }
  if (verb != "create" && !std::filesystem::is_regular_file(path)) {
    Fail(ui, "Kann Dateien zum lesen \"" + path + "\" nicht öffnen.");
    return kFailed;
  }
  if (verb == "extract" && !std::filesystem::is_directory(args[3])) {
    Fail(ui, "\"" + args[3] + "\" is no folder.");
    return kFailed;
  }
  RunFolder run_folder;
  Registry registry;
  Settings settings(registry);
  ConsoleProgress progress;
  std::string error;
  Project project;
  if (verb == "create") {
    if (args.size() - 3 > kMaxProjectCount) {
      Fail(ui, "Ein Projekt kann höchstens 255 Dateien enthalten.");
      return kFailed;
    }
    OpenOptions files;
    if (!RawOptions(nullptr, settings, files, ui)) return kFailed;
    for (std::size_t i = 3; i < args.size(); ++i) {
      const std::string& file = args[i];
      if (!std::filesystem::is_regular_file(file)) {
        Fail(ui, "Cannot open \"" + file + "\".");
        return kFailed;
      }
      ProjectDocument& document = project.documents.emplace_back();
      std::error_code ignored;
      const std::filesystem::path absolute = std::filesystem::absolute(file, ignored);
      document.path = absolute.empty() ? file : absolute.lexically_normal().string();
      // The file's bookmarks come along from its sidecar, as when the editor opens it.
      AudioDocument sidecar(44100, 1, file);
      LoadBookmarkFile(sidecar);
      if (!sidecar.unread_sidecar.empty()) {
        Fail(ui, "Cannot read the bookmarks in \"" + sidecar.unread_sidecar + "\".");
        return kFailed;
      }
      document.bookmarks = sidecar.bookmarks.bookmarks();
      // Each file is opened only when its turn comes and streams straight into the project.
      document.open_audio = [&ui, &files, file] {
        SourceRef reader = OpenOrComplain(file, ui, files);
        if (reader) std::fputs(ShortDataNote(EntryFor(file), *reader).c_str(), stderr);
        return reader;
      };
    }
    const Result saved = SaveProject(project, path, progress, error);
    if (saved == kFailed && !error.empty()) Fail(ui, error);
    return saved;
  }
  if (const Result loaded = LoadProjectFile(path, project, progress, error); loaded != kDone) {
    if (loaded == kFailed) Fail(ui, error);
    return loaded;
  }
  if (verb == "info") {
    std::printf("%zu document(s)\n", project.documents.size());
    for (const ProjectDocument& document : project.documents) {
      std::printf("%s\n", document.path.c_str());
      PrintAudio(document.audio);
      std::printf("  cursor %d, selection %d-%d, view %d-%d, %zu bookmark(s)\n", document.cursor,
                  document.selection_start, document.selection_end, document.view_start, document.view_end,
                  document.bookmarks.size());
      for (const Bookmark& mark : document.bookmarks)
        std::printf("  bookmark \"%s\" at %s\n", mark.name.c_str(), FormatTimeHundredths(mark.position).c_str());
    }
    std::printf("%zu region(s)\n", project.regions.size());
    for (const ProjectRegion& region : project.regions) {
      std::printf("\"%s\" %s-%s from \"%s\"\n", region.name.c_str(), FormatTimeHundredths(region.start).c_str(),
                  FormatTimeHundredths(region.end).c_str(), region.source_title.c_str());
      PrintAudio(region.audio);
    }
    return kDone;
  }
  const auto extract = [&](const Sound& sound, const std::string& name) {
    const std::string out = JoinPath(args[3], name + ".wav");
    const WaveFormat format = StoredFormatAt(static_cast<std::uint32_t>(sound.rate), sound.channels);
    const Result saved = SaveSoundFile(OpenSoundReader(sound), format, out, ui);
    if (saved == kDone) std::printf("%s\n", out.c_str());
    return saved;
  };
  // "01-", "02-", ... in list order.
  const auto number = [](std::size_t i) {
    const std::string digits = std::to_string(i + 1);
    return (digits.size() < 2 ? "0" + digits : digits) + "-";
  };
  for (std::size_t i = 0; i < project.documents.size(); ++i) {
    const std::string& stored = project.documents[i].path;
    std::string title = FileNameOf(stored.substr(stored.find_last_of("/\\") + 1));
    if (const std::size_t dot = title.rfind('.'); dot != std::string::npos && dot > 0) title.resize(dot);
    if (const Result saved = extract(project.documents[i].audio, number(i) + title); saved != kDone) return saved;
  }
  for (std::size_t i = 0; i < project.regions.size(); ++i) {
    const std::string name = "region-" + number(i) + FileNameOf(project.regions[i].name);
    if (const Result saved = extract(project.regions[i].audio, name); saved != kDone) return saved;
  }
  return kDone;
}

// "--name VALUE" pairs after the first `first` arguments, each name one of `names` and given
// at most once; false (after the message) otherwise.
bool NamedOptions(const std::vector<std::string>& args, std::size_t first, std::initializer_list<std::string_view> names,
                  std::map<std::string, std::string>& given, Ui& ui) {
  for (std::size_t i = first; i < args.size(); i += 2) {
    if (std::find(names.begin(), names.end(), args[i]) == names.end() || given.count(args[i]) != 0) {
      Fail(ui, "Unknown or repeated option \"" + args[i] + "\".");
      return false;
    }
    if (i + 1 >= args.size()) {
      Fail(ui, "\"" + args[i] + "\" needs a value.");
      return false;
    }
    given[args[i]] = args[i + 1];
  }
  return true;
}

// The whole number given for `name` within lowest … highest, `fallback` when it was not
// given; none (after the message naming `what`) otherwise.
std::optional<std::int64_t> NumberOption(const std::map<std::string, std::string>& given, const std::string& name,
                                         std::int64_t fallback, std::int64_t lowest, std::int64_t highest,
                                         const std::string& what, Ui& ui) {
  const auto found = given.find(name);
  if (found == given.end()) return fallback;
  const std::optional<std::int64_t> value = ParseWholeNumber(found->second);
  if (!value || *value < lowest || *value > highest) {
    Fail(ui, name + ": \"" + found->second + "\" is not " + what + ".");
    return std::nullopt;
  }
  return value;
}

// Loads IN for an analysis into `sound` (in the run's own block folder).
Result LoadForAnalysis(const std::string& path, Sound& sound, Ui& ui) {
  Registry registry;
  const Settings settings(registry);
  const OpenOptions files{&settings, std::nullopt};
  return LoadFile(path, sound, ui, files);
}

// spectrum IN [--at FRAME]: frequency and level of every bin, per channel.
Result Spectrum(const std::vector<std::string>& args, Ui& ui) {
  std::map<std::string, std::string> given;
  if (!NamedOptions(args, 2, {"--at"}, given, ui)) return kFailed;
  const std::optional<std::int64_t> at =
      NumberOption(given, "--at", 0, 0, std::numeric_limits<std::int32_t>::max(), "a frame number (from 0)", ui);
  if (!at) return kFailed;
  RunFolder run_folder;
  Sound sound(44100, 1);
  if (const Result loaded = LoadForAnalysis(args[1], sound, ui); loaded != kDone) return loaded;
  const std::int32_t length = SoundLength(sound);
  if (*at > length) {
    Fail(ui, "--at: frame " + std::to_string(*at) + " lies beyond the end of \"" + args[1] + "\" (" +
                 std::to_string(length) + " frames).");
    return kFailed;
  }
  const std::optional<SpectrumData> data = ComputeSpectrum(sound, static_cast<std::int32_t>(*at));
  if (!data) {
    Fail(ui, "The frequency analysis takes mono and stereo sounds only; \"" + args[1] + "\" has " +
                 std::to_string(sound.channels) + " channels.");
    return kFailed;
  }
  for (std::int32_t k = 0; k < kSpectrumBins; ++k) {
    const long long hertz = (std::int64_t{k} * data->rate) >> 12;
    if (data->stereo)
      std::printf("%lld\t%d\t%d\n", hertz, data->levels[k], data->levels[kSpectrumBins + k]);
    else
      std::printf("%lld\t%d\n", hertz, data->levels[k]);
  }
  return kDone;
}

// spectrogram IN OUT.png [--from F] [--to F] [--width W] [--height H]: the time-frequency
// window's picture of the range with the stored look.
Result Spectrogram(const std::vector<std::string>& args, Ui& ui) {
  constexpr std::int64_t kHighestFrame = std::numeric_limits<std::int32_t>::max();
  std::map<std::string, std::string> given;
  if (!NamedOptions(args, 3, {"--from", "--to", "--width", "--height"}, given, ui)) return kFailed;
  const std::string side = "a size in pixels (1 to " + std::to_string(kMaxPngSide) + ")";
  const std::optional<std::int64_t> from = NumberOption(given, "--from", 0, 0, kHighestFrame, "a frame number (from 0)", ui);
  if (!from) return kFailed;
  const std::optional<std::int64_t> to = NumberOption(given, "--to", -1, 0, kHighestFrame, "a frame number (from 0)", ui);
  if (!to) return kFailed;
  const std::optional<std::int64_t> width = NumberOption(given, "--width", 800, 1, kMaxPngSide, side, ui);
  if (!width) return kFailed;
  const std::optional<std::int64_t> height = NumberOption(given, "--height", 400, 1, kMaxPngSide, side, ui);
  if (!height) return kFailed;
  if (*to >= 0 && *from >= *to) {
    Fail(ui, "--from " + std::to_string(*from) + " must lie before --to " + std::to_string(*to) + ".");
    return kFailed;
  }
  RunFolder run_folder;
  Sound sound(44100, 1);
  if (const Result loaded = LoadForAnalysis(args[1], sound, ui); loaded != kDone) return loaded;
  const std::int32_t length = SoundLength(sound);
  const std::int64_t end = *to >= 0 ? *to : length;
  if (end > length || *from >= end) {
    Fail(ui, "Frames " + std::to_string(*from) + " to " + std::to_string(end) + " are no range of \"" + args[1] +
                 "\" (" + std::to_string(length) + " frames).");
    return kFailed;
  }
  ConsoleProgress progress;
  progress.SetTexts("Berechnet die zeilichen Frequenz Daten", "");
  const std::optional<SpectrogramData> data =
      ComputeSpectrogram(sound, static_cast<std::int32_t>(*from), static_cast<std::int32_t>(end - *from), progress);
  if (!data) return kCancelled;
  Registry registry;
  const SpectrogramLook look = StoredSpectrogramLook(Settings(registry));
  const std::vector<std::uint32_t> pixels =
      RenderSpectrogram(*data, look, static_cast<int>(*width), static_cast<int>(*height));
  if (!WritePng(args[2], pixels.data(), static_cast<int>(*width), static_cast<int>(*height))) {
    Fail(ui, "Cannot write the picture \"" + args[2] + "\".");
    return kFailed;
  }
  return kDone;
}

int Main(int argc, char** argv) {
  ConsoleUi ui;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? kFailed : kDone;
  }
  if (args[0] == "--version" && args.size() == 1) {
    std::fputs("sonavel-cli " SONAVEL_VERSION "\n", stdout);
    return kDone;
  }
  if (args[0] == "info" && args.size() >= 2) return Info(args, ui);
  if (args[0] == "effect") return ApplyEffect(args, ui);
  if (args[0] == "convert" && args.size() >= 3) return Convert(args, ui);
  if (args[0] == "tags" && args.size() >= 2) return Tags(args, ui);
  if (args[0] == "bookmarks" && args.size() >= 2) return Bookmarks(args, ui);
  if (args[0] == "project" && args.size() >= 3) return ProjectVerb(args, ui);
  if (args[0] == "spectrum" && args.size() >= 2) return Spectrum(args, ui);
  if (args[0] == "spectrogram" && args.size() >= 3) return Spectrogram(args, ui);
  std::fputs(kUsage, stderr);
  return kFailed;
}

}  // namespace
}  // namespace sonavel

int main(int argc, char** argv) { return sonavel::Main(argc, argv); }
