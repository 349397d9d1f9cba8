#include "formats/media_loader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <vector>

#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "formats/wave_format.h"
#include "platform/process.h"
#include "platform/progress.h"
#include "store/stream.h"

namespace sonavel {

namespace {

// A plain decimal number without sign, up to `highest`.
std::optional<std::int64_t> Digits(std::string_view text, std::int64_t highest) {
  std::int64_t value = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text[0] == '-' || value > highest)
    return std::nullopt;
  return value;
}

// Seconds as ffprobe writes them ("12.345000"); none for "N/A" and anything else.
std::optional<double> Seconds(std::string_view text) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
      value > 1e9)
    return std::nullopt;
  return value;
}

// Calls `each` with the key and value of every "key=value" line of `text`.
template <typename Each>
void ForEachPair(std::string_view text, Each each) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos) each(line.substr(0, equals), line.substr(equals + 1));
  }
}

// The most of ffprobe's answer that is read.
constexpr std::size_t kProbeBytes = 1 << 16;

// Writes all of `bytes`, going on after interruptions and partial writes.
bool WriteAll(int fd, const std::uint8_t* bytes, std::int64_t count) {
  while (count > 0) {
    const ssize_t done = ::write(fd, bytes, static_cast<std::size_t>(count));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    count -= done;
  }
  return true;
}

}  // namespace

std::optional<MediaProbe> ParseMediaProbe(std::string_view text) {
  MediaProbe probe;
  ForEachPair(text, [&probe](std::string_view key, std::string_view value) {
    if (key == "sample_rate" && probe.rate == 0) {
      probe.rate = static_cast<int>(Digits(value, kMaxWavRate).value_or(0));
    } else if (key == "channels" && probe.channels == 0) {
      probe.channels = static_cast<int>(Digits(value, 255).value_or(0));
    } else if (key == "duration" && probe.seconds == 0) {
      probe.seconds = Seconds(value).value_or(0);
    }
  });
  if (probe.rate < 1 || probe.channels < 1) return std::nullopt;
  return probe;
}

void MediaProgressReader::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (!overlong_) {
      if (line_.size() + piece.size() > kMaxLine) {
        overlong_ = true;
        line_.clear();
      } else {
        line_.append(piece);
      }
    }
    if (end == std::string_view::npos) return;
    if (!overlong_) Line(line_);
    line_.clear();
    overlong_ = false;
    bytes.remove_prefix(end + 1);
  }
}

void MediaProgressReader::Line(std::string_view line) {
  ForEachPair(line, [this](std::string_view key, std::string_view value) {
    if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
    if (key == "out_time_us") {
      if (const auto time = Digits(value, INT64_MAX)) out_time_us_ = *time;
    } else if (key == "progress" && value == "end") {
      ended_ = true;
    }
  });
}

Result LoadWithMedia(const std::string& path, const std::string& wav_path, Progress& progress) {
  const std::string ffmpeg = FindProgram("ffmpeg");
  const std::string ffprobe = FindProgram("ffprobe");
  if (ffmpeg.empty() || ffprobe.empty()) return kFailed;
  // An absolute path behind "file:" never reads as an option or another protocol, and the
  // whitelist keeps a crafted file (a playlist, a concatenation) from reaching the network.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  // Only plain files: a pipe or a device under an audio name would keep ffprobe waiting.
  if (error || !std::filesystem::is_regular_file(absolute, error)) return kFailed;
  const std::string input = "file:" + absolute.string();
  std::string text;
  if (RunForOutput({ffprobe, "-v", "error", "-protocol_whitelist", "file", "-select_streams", "a:0",
                    "-show_entries", "stream=sample_rate,channels:format=duration", "-of",
                    "default=noprint_wrappers=1", input},
                   text, kProbeBytes) != 0)
    return kFailed;
  const std::optional<MediaProbe> probe = ParseMediaProbe(text);
  if (!probe) return kFailed;
  // The editor holds mono and stereo: more channels are mixed down to two by ffmpeg.
  const int channels = std::min(probe->channels, 2);
  // ffmpeg writes the samples straight into the WAV file behind the header we put there,
  // so they are copied once, by the kernel; the header gets its sizes when ffmpeg is done.
  const WaveFormat format =
      DefaultFormat(static_cast<std::uint32_t>(probe->rate), static_cast<std::uint16_t>(channels));
  // Not opened with O_TRUNC: the reserved file is new and empty, and truncating a file to
  // nothing makes some file systems (ext4) write all of it to the disk when it is closed.
  const int file = ::open(wav_path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (file < 0) return kFailed;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{file};
  if (::lseek(file, 0, SEEK_END) != 0 && (::ftruncate(file, 0) != 0 || ::lseek(file, 0, SEEK_SET) != 0))
    return kFailed;
  if (!WriteAll(file, PcmWavHeader(format, -1).data(), kPcmHeaderSize)) return kFailed;
  ChildProcess child;
  if (!child.Start({ffmpeg,         "-nostdin",
                    "-hide_banner", "-v",
                    "error",        "-protocol_whitelist",
                    "file",         "-i",
                    input,          "-map",
                    "0:a:0",        "-vn",
                    "-sn",          "-dn",
                    "-ac",          std::to_string(channels),
                    "-ar",          std::to_string(probe->rate),
                    "-f",           "s16le",
                    "-acodec",      "pcm_s16le",
                    "-progress",    "pipe:3",
                    "-nostats",     "pipe:1"},
                   true, file))
    return kFailed;
  MediaProgressReader reports;
  progress.SetFraction(0);
  for (bool reports_open = true; reports_open;) {
    if (progress.Pump()) return kCancelled;  // the child is ended on the way out
    pollfd watched = {child.extra(), POLLIN, 0};
    if (::poll(&watched, 1, 100) < 0) {
      if (errno == EINTR) continue;
      return kFailed;
    }
    if (watched.revents == 0) continue;
    char report[4096];
    const ssize_t got = ::read(child.extra(), report, sizeof report);
    if (got > 0)
      reports.Feed(std::string_view(report, static_cast<std::size_t>(got)));
    else if (got == 0 || errno != EINTR)
      reports_open = false;
    if (probe->seconds > 0 && reports.out_time_us() >= 0)
      progress.SetFraction(
          std::min(1.0, static_cast<double>(reports.out_time_us()) / (probe->seconds * 1e6)));
  }
  if (child.Wait() != 0) return kFailed;
  // Whole frames only; then the header with the sizes of what is there.
  const off_t end = ::lseek(file, 0, SEEK_END);
  if (end < kPcmHeaderSize) return kFailed;
  const std::int64_t frame_bytes = 2 * std::int64_t{channels};
  const std::int64_t data = (end - kPcmHeaderSize) / frame_bytes * frame_bytes;
  if ((kPcmHeaderSize + data != end && ::ftruncate(file, kPcmHeaderSize + data) != 0) ||
      ::lseek(file, 0, SEEK_SET) != 0 ||
      !WriteAll(file, PcmWavHeader(format, data).data(), kPcmHeaderSize))
    return kFailed;
  progress.SetFraction(1);
  return kDone;
}

}  // namespace sonavel
