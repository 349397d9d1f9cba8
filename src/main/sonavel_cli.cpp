// sonavel-cli: the editor's file and sound operations without a window, for scripts.
// Exit codes: 0 done, 1 cancelled, 2 failed; messages go to standard error.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "formats/codec_table.h"
#include "formats/pump.h"
#include "formats/stored_format.h"
#include "formats/wav_reader.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/block_table.h"
#include "store/time.h"

namespace sonavel {
namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  sonavel-cli info FILE\n"
    "  sonavel-cli convert IN OUT [--wav-format TAG:BITS]\n"
    "\n"
    "TAG is a WAV format tag by number (1, 3, 6, 7, 0x11, 2) or name (pcm, float, alaw,\n"
    "ulaw, ima-adpcm, ms-adpcm); BITS its sample size (pcm 8/16/24/32, float 32/64,\n"
    "alaw/ulaw 8, adpcm 4). Without --wav-format the stored WAV save format is used, else\n"
    "16-bit PCM; either way at the rate and channel count of IN.\n";

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

SourceRef OpenOrComplain(const std::string& path, Ui& ui) {
  SourceRef reader = OpenWavReader(path);
  if (reader->status != WavStatus::Ok) {
    Fail(ui, WavOpenErrorText(reader->status, path));
    return {};
  }
  return reader;
}

int Info(const std::string& path, Ui& ui) {
  SourceRef reader = OpenOrComplain(path, ui);
  if (!reader) return kFailed;
  WavReader* wav = AsWavReader(reader.get());
  const WaveFormat& format = wav->format();
  std::int64_t frames = reader->Length();
  if (!wav->LengthIsExact()) {
    // Coded files know their length only once decoded to the end.
    std::vector<std::int32_t> scratch(static_cast<std::size_t>(kPieceFrames) * reader->channels);
    while (reader->Position() < reader->Length())
      reader->Read(scratch.data(), kPieceFrames);
    frames = reader->Length();
  }
  std::printf("format: %s (tag 0x%04X)\n", FormatTagName(format.tag).c_str(), format.tag);
  std::printf("rate: %u\n", format.rate);
  std::printf("channels: %u\n", format.channels);
  std::printf("bits: %u\n", format.bits);
  std::printf("frames: %lld\n", static_cast<long long>(frames));
  std::printf("duration: %s\n", FormatTimeMs(FramesToMs(frames, reader->rate)).c_str());
  return kDone;
}

bool ParseTag(std::string_view text, std::uint16_t& tag) {
  static const std::pair<std::string_view, std::uint16_t> kNames[] = {
      {"pcm", kTagPcm},       {"float", kTagFloat},          {"alaw", kTagALaw},
      {"ulaw", kTagMuLaw},    {"ima-adpcm", kTagImaAdpcm},   {"ms-adpcm", kTagMsAdpcm}};
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
bool ChooseFormat(const std::string& option, const Sound& sound, WaveFormat& format, Ui& ui) {
  const auto rate = static_cast<std::uint32_t>(sound.rate);
  const std::uint16_t channels = sound.channels;
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
      *end != '\0' || bits == 0 || bits > 64) {
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

int Convert(const std::string& in, const std::string& out, const std::string& format_option, Ui& ui) {
  RunFolder run_folder;
  Sound sound;
  {
    SourceRef reader = OpenOrComplain(in, ui);
    if (!reader) return kFailed;
    ConsoleProgress progress;
    const std::string name = std::filesystem::path(in).filename().string();
    const int result = LoadIntoSound(*reader, sound, progress, "Lade Datei " + name);
    if (result != kDone) {
      if (result == kFailed) Fail(ui, "Cannot open the file \"" + in + "\".");
      return result;
    }
  }
  WaveFormat format;
  if (!ChooseFormat(format_option, sound, format, ui)) return kFailed;
  ConsoleProgress progress;
  const int result = SaveSoundAsWav(sound, format, out, progress);
  if (result == kFailed) Fail(ui, "Kann Datei nicht erstellen\"" + out + "\"zum Speichern.");
  return result;
}

int Main(int argc, char** argv) {
  ConsoleUi ui;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? kFailed : kDone;
  }
  if (args[0] == "info" && args.size() == 2) return Info(args[1], ui);
  if (args[0] == "convert" && (args.size() == 3 || (args.size() == 5 && args[3] == "--wav-format")))
    return Convert(args[1], args[2], args.size() == 5 ? args[4] : "", ui);
  std::fputs(kUsage, stderr);
  return kFailed;
}

}  // namespace
}  // namespace sonavel

int main(int argc, char** argv) { return sonavel::Main(argc, argv); }
