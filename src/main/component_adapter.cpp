// The adapter programs that stand in for the coding components the editor calls with fixed
// command lines ("sonavel-aacenc", "sonavel-shndec", "sonavel-actdec", "sonavel-amrenc",
// "sonavel-amrdec"): each checks its command line and becomes ffmpeg or sox with the
// matching arguments. The executable is built once per component; SONAVEL_ADAPTER names it.
//
// The adapter replaces itself with the coding program rather than running it as a child:
// the editor ends a cancelled decoder by its process id, and a child of ours would live on
// after that. The coding program's exit status is then the adapter's.

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

#ifndef SONAVEL_ADAPTER
#error "SONAVEL_ADAPTER names the component this adapter stands in for"
#endif

namespace {

using sonavel::FindProgram;

constexpr std::string_view kComponent = SONAVEL_ADAPTER;

// Exit status of a wrong command line.
constexpr int kUsageStatus = 2;

// A whole decimal number in [low, high]; none for anything else ("12k", "", "-").
std::optional<int> Number(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

// An absolute path behind "file:" never reads as an option or another protocol to ffmpeg.
std::string FfmpegPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return "file:" + (error ? path : absolute.string());
}

std::string LowerExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension;
}

std::vector<std::string> FfmpegStart() {
  return {FindProgram("ffmpeg"), "-nostdin", "-hide_banner", "-v", "error", "-y"};
}

// The AAC quality scale (10 … 500, 100 the usual) as ffmpeg has no such scale: a bit rate
// of 0.64 kbit/s a channel per quality step, so that 100 gives 64 kbit/s a channel, held
// to 8 … 256 kbit/s a channel.
int AacQualityBitRate(int quality, int channels) {
  const int per_channel = std::clamp(quality * 64 / 100, 8, 256);
  return per_channel * channels;
}

// aacenc -C CH -R RATE (-b KBPS | -q QUALITY) [--mpeg-vers 2] [--no-tns] -X - -o OUT
std::optional<std::vector<std::string>> AacEncoder(const std::vector<std::string>& args) {
  std::optional<int> channels, rate, kbps, quality;
  bool mpeg2 = false, no_tns = false, raw_input = false;
  std::optional<std::string> output;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    const bool has_value = i + 1 < args.size();
    if (option == "--no-tns" && !no_tns) {
      no_tns = true;
    } else if (!has_value) {
      return std::nullopt;
    } else if (option == "-C" && !channels) {
      if (!(channels = Number(args[++i], 1, 2))) return std::nullopt;
    } else if (option == "-R" && !rate) {
      if (!(rate = Number(args[++i], 8000, 96000))) return std::nullopt;
    } else if (option == "-b" && !kbps && !quality) {
      if (!(kbps = Number(args[++i], 8, 640))) return std::nullopt;
    } else if (option == "-q" && !kbps && !quality) {
      if (!(quality = Number(args[++i], 10, 500))) return std::nullopt;
    } else if (option == "--mpeg-vers" && !mpeg2) {
      if (args[++i] != "2") return std::nullopt;
      mpeg2 = true;
    } else if (option == "-X" && !raw_input) {
      // Raw samples from standard input, the only input there is.
      if (args[++i] != "-") return std::nullopt;
      raw_input = true;
    } else if (option == "-o" && !output) {
      output = args[++i];
      if (output->empty()) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!channels || !rate || (!kbps && !quality) || !raw_input || !output) return std::nullopt;
  const int bit_rate = kbps ? *kbps : AacQualityBitRate(*quality, *channels);
  std::vector<std::string> command = FfmpegStart();
  command.insert(command.end(),
                 {"-f", "s16le", "-ar", std::to_string(*rate), "-ac", std::to_string(*channels),
                  "-i", "pipe:0", "-c:a", "aac", "-b:a", std::to_string(bit_rate) + "k"});
  // MPEG-2 restricts the encoder to the low-complexity tools MPEG-2 knows.
  if (mpeg2) command.insert(command.end(), {"-profile:a", "mpeg2_aac_low"});
  if (no_tns) command.insert(command.end(), {"-aac_tns", "0"});
  const std::string extension = LowerExtension(*output);
  command.insert(command.end(),
                 {"-f", extension == ".m4a" || extension == ".mp4" ? "mp4" : "adts"});
  command.push_back(FfmpegPath(*output));
  return command;
}

// ffmpeg decoding any file it knows to a 16-bit PCM WAV file.
std::vector<std::string> FfmpegToWav(const std::string& input, const std::string& output) {
  std::vector<std::string> command = FfmpegStart();
  command.insert(command.end(), {"-i", FfmpegPath(input), "-vn", "-c:a", "pcm_s16le", "-f", "wav",
                                 FfmpegPath(output)});
  return command;
}

// The AMR-NB mode names, in the order of their sox compression index.
constexpr std::string_view kAmrModes[] = {"MR475", "MR515", "MR59",  "MR67",
                                          "MR74",  "MR795", "MR102", "MR122"};

std::optional<std::vector<std::string>> AmrEncoder(const std::vector<std::string>& args) {
  if (args.size() != 3 || args[1].empty() || args[2].empty()) return std::nullopt;
  int mode = -1;
  for (int i = 0; i < 8; ++i)
    if (args[0] == kAmrModes[i]) mode = i;
  if (mode < 0) return std::nullopt;
  std::vector<std::string> command = {FindProgram("sox"), "-V1"};
  // "-" is 8000 Hz mono 16-bit samples on standard input; else a WAV file says its format.
  if (args[1] == "-")
    command.insert(command.end(), {"-t", "s16", "-r", "8000", "-c", "1", "-"});
  else
    command.insert(command.end(), {"-t", "wav", "--", args[1]});
  command.insert(command.end(), {"-t", "amr-nb", "-C", std::to_string(mode), "--", args[2]});
  return command;
}

std::optional<std::vector<std::string>> Command(const std::vector<std::string>& args) {
  auto two_paths = [&args] { return args.size() == 2 && !args[0].empty() && !args[1].empty(); };
  if (kComponent == "aacenc") return AacEncoder(args);
  if (kComponent == "shndec") {
    if (args.size() != 3 || args[0] != "-x" || args[1].empty() || args[2].empty())
      return std::nullopt;
    return FfmpegToWav(args[1], args[2]);
  }
  if (kComponent == "actdec") {
    if (!two_paths()) return std::nullopt;
    return FfmpegToWav(args[0], args[1]);
  }
  if (kComponent == "amrenc") return AmrEncoder(args);
  if (kComponent == "amrdec") {
    if (!two_paths()) return std::nullopt;
    return std::vector<std::string>{FindProgram("sox"),
                                    "-V1",
                                    "-t",
                                    "amr-nb",
                                    "--",
                                    args[0],
                                    "-t",
                                    "raw",
                                    "-e",
                                    "signed-integer",
                                    "-b",
                                    "16",
                                    "-L",
                                    "-r",
                                    "8000",
                                    "-c",
                                    "1",
                                    "--",
                                    args[1]};
  }
  return std::nullopt;
}

constexpr const char* Usage() {
  if (kComponent == "aacenc")
    return "usage: sonavel-aacenc -C CHANNELS -R RATE (-b KBPS | -q QUALITY) [--mpeg-vers 2] "
           "[--no-tns] -X - -o OUT\n"
           "  reads 16-bit little-endian samples from standard input; OUT ending in .m4a is "
           "MPEG-4, else ADTS\n";
  if (kComponent == "shndec") return "usage: sonavel-shndec -x IN OUT.wav\n";
  if (kComponent == "actdec") return "usage: sonavel-actdec IN OUT.wav\n";
  if (kComponent == "amrenc")
    return "usage: sonavel-amrenc MODE IN.wav OUT\n"
           "       sonavel-amrenc MODE - OUT   (8000 Hz mono 16-bit little-endian samples on "
           "standard input)\n"
           "  MODE: MR475 MR515 MR59 MR67 MR74 MR795 MR102 MR122\n";
  return "usage: sonavel-amrdec IN OUT.raw   (OUT: 8000 Hz mono 16-bit little-endian samples)\n";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::optional<std::vector<std::string>> command = Command(args);
  if (!command) {
    std::fputs(Usage(), stderr);
    return kUsageStatus;
  }
  if (command->front().empty()) {
    std::fprintf(stderr, "sonavel-%s: %s is not installed\n", SONAVEL_ADAPTER,
                 kComponent == "amrenc" || kComponent == "amrdec" ? "sox" : "ffmpeg");
    return 1;
  }
  std::vector<char*> child_argv;
  for (const std::string& argument : *command)
    child_argv.push_back(const_cast<char*>(argument.c_str()));
  child_argv.push_back(nullptr);
  ::execv(child_argv[0], child_argv.data());
  std::perror("sonavel-adapter: exec");
  return 1;
}
