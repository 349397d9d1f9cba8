#pragma once
// The loader for every format without a reader of our own: the `ffmpeg` program decodes
// the file's first audio stream (video and the rest ignored) to 16-bit PCM, written
// through a pipe straight into the load.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"
#include "store/stream.h"

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

// What StreamWithMedia gives: kDone with the reader, else kCancelled or kFailed.
struct MediaStream {
  Result result = kFailed;
  SourceRef source;
};

// Starts ffmpeg decoding `path` (16-bit PCM at the stream's own rate and channels, stereo
// for more than two channels) and gives a reader of its output as it comes, so the load
// runs alongside the decoding; releasing the reader ends ffmpeg. Waits, pumping
// `progress`, for the first frames, so a file without audio ffmpeg can decode fails here;
// a cancel ends ffmpeg and gives kCancelled. kFailed too when ffmpeg or ffprobe is not
// installed; no message is shown here. An ffmpeg that fails later leaves the reader with
// a failed status.
MediaStream StreamWithMedia(const std::string& path, Progress& progress);

}  // namespace sonavel
