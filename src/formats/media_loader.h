#pragma once
// The loader for every format without a reader of our own: the `ffmpeg` program decodes
// the file's first audio stream (video and the rest ignored) to 16-bit PCM, written
// straight into a WAV file whose header we write.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace sonavel {

class Progress;

// What ffprobe tells about a file's first audio stream; every value is checked.
struct MediaProbe {
  int rate = 0;
  int channels = 0;
  double seconds = 0;  // 0 when the duration is not known
};
// Reads ffprobe's "key=value" lines; none when the rate or the channel count is missing or
// out of range (rate 1 to 196000, channels 1 to 255).
std::optional<MediaProbe> ParseMediaProbe(std::string_view text);

// Follows ffmpeg's -progress output as it arrives in pieces: "key=value" lines, of which
// "out_time_us" (the position reached, microseconds) and "progress=end" matter. Values that
// are not plain non-negative numbers are passed over, as are overlong lines.
class MediaProgressReader {
 public:
  void Feed(std::string_view bytes);
  // Microseconds decoded so far, -1 before the first usable report.
  std::int64_t out_time_us() const { return out_time_us_; }
  bool ended() const { return ended_; }

  static constexpr std::size_t kMaxLine = 256;

 private:
  void Line(std::string_view line);
  std::string line_;
  bool overlong_ = false;
  std::int64_t out_time_us_ = -1;
  bool ended_ = false;
};

// Decodes `path` with ffmpeg into the WAV file `wav_path` (16-bit PCM at the stream's own
// rate and channels, stereo for more than two channels). Progress follows ffmpeg's time over
// the duration; a cancel ends ffmpeg and gives kCancelled. kFailed when ffmpeg or ffprobe is
// not installed, the file has no audio ffmpeg can decode, or the WAV could not be written;
// no message is shown here.
Result LoadWithMedia(const std::string& path, const std::string& wav_path, Progress& progress);

}  // namespace sonavel
