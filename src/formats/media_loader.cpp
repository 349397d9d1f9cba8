#include "formats/media_loader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
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

namespace {

// The most taken from ffmpeg's pipe at a time, and the pipe's size asked for.
constexpr std::size_t kPipeBytes = 1 << 20;
constexpr std::int64_t kMaxStreamFrames = std::numeric_limits<std::int32_t>::max() - 1;

// ffmpeg's 16-bit output read from its pipe as it comes, so the load runs alongside the
// decoding: nothing is written to disk between the two. Until ffmpeg has ended, the length
// is the duration's estimate but always a frame beyond what has arrived, so that reading
// goes on to the real end; then it is what ffmpeg gave. An ffmpeg that fails on the way
// sets a failed status, so a short load is never taken for a whole one. The stream goes
// forward only: a seek ahead skips, a seek back fails.
class MediaStreamReader final : public SampleSource {
 public:
  MediaStreamReader(const WaveFormat& format, std::int64_t estimate)
      : SampleSource(static_cast<std::int32_t>(format.rate), static_cast<std::uint8_t>(format.channels),
                     kFullScale),
        frame_bytes_(2 * std::int64_t{format.channels}),
        estimate_(std::min(estimate, kMaxStreamFrames)),
        pipe_(kPipeBytes) {}

  ChildProcess& child() { return child_; }

  // Waits until frames are there or ffmpeg has ended, pumping `progress`; false on cancel.
  bool AwaitFirstFrames(Progress& progress) {
    while (received_ == 0 && !ended_) {
      if (progress.Pump()) return false;
      pollfd watched = {child_.output(), POLLIN, 0};
      if (::poll(&watched, 1, 50) > 0) Fill();
    }
    return true;
  }

  void Read(std::int32_t* buffer, std::int32_t frames) override {
    std::int32_t done = 0;
    while (done < frames && status == kStatusOk) {
      const std::int64_t ready = (tail_ - head_) / frame_bytes_;
      if (ready == 0) {
        if (ended_) break;
        Fill();
        continue;
      }
      const auto take = static_cast<std::int32_t>(std::min<std::int64_t>(ready, frames - done));
      const std::size_t samples = static_cast<std::size_t>(take) * channels;
      const std::uint8_t* bytes = pipe_.data() + head_;
      std::int32_t* out = buffer + static_cast<std::size_t>(done) * channels;
      for (std::size_t i = 0; i < samples; ++i)
        out[i] = static_cast<std::int32_t>(static_cast<std::int16_t>(ReadLe16(bytes + 2 * i))) * 16;
      head_ += take * frame_bytes_;
      done += take;
    }
    std::fill(buffer + static_cast<std::size_t>(done) * channels,
              buffer + static_cast<std::size_t>(frames) * channels, 0);
    position_ = std::min<std::int64_t>(position_ + frames, kMaxStreamFrames + 1);
  }
  std::int32_t Position() const override { return static_cast<std::int32_t>(position_); }
  std::int32_t Length() const override {
    if (ended_) return static_cast<std::int32_t>(received_);
    return static_cast<std::int32_t>(std::min(std::max(estimate_, received_ + 1), kMaxStreamFrames));
  }
  void Seek(std::int32_t frame) override {
    if (frame < position_) {
      status = kStatusCorrupt;
      return;
    }
    std::vector<std::int32_t> skipped(static_cast<std::size_t>(kChunkFrames) * channels);
    while (position_ < frame && status == kStatusOk)
      Read(skipped.data(), static_cast<std::int32_t>(std::min<std::int64_t>(frame - position_, kChunkFrames)));
  }

 private:
  // Reads what ffmpeg has put into the pipe, waiting for some when there is none; settles
  // the end when the pipe is closed.
  void Fill() {
    // A partial frame goes to the front, to be completed by this read.
    std::copy(pipe_.begin() + head_, pipe_.begin() + tail_, pipe_.begin());
    tail_ -= head_;
    head_ = 0;
    ssize_t got;
    do got = ::read(child_.output(), pipe_.data() + tail_, pipe_.size() - static_cast<std::size_t>(tail_));
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
      Finish();
      return;
    }
    const std::int64_t before = tail_ / frame_bytes_;
    tail_ += got;
    received_ += tail_ / frame_bytes_ - before;
    if (received_ >= kMaxStreamFrames) {
      // More than a sound holds: the sound ends there.
      tail_ -= (received_ - kMaxStreamFrames) * frame_bytes_;
      received_ = kMaxStreamFrames;
      child_.Kill();
      ended_ = true;
    }
  }

  void Finish() {
    if (child_.Wait() != 0) status = kStatusCorrupt;
    ended_ = true;
  }

  std::int64_t frame_bytes_;
  std::int64_t estimate_;
  std::int64_t received_ = 0;  // whole frames that came through the pipe
  std::int64_t position_ = 0;
  bool ended_ = false;
  std::vector<std::uint8_t> pipe_;  // bytes [head_, tail_) not yet delivered
  std::int64_t head_ = 0;
  std::int64_t tail_ = 0;
  ChildProcess child_;  // declared last: ended first
};

}  // namespace

MediaStream StreamWithMedia(const std::string& path, Progress& progress) {
  const std::string ffmpeg = FindProgram("ffmpeg");
  const std::string ffprobe = FindProgram("ffprobe");
  if (ffmpeg.empty() || ffprobe.empty()) return {kFailed, {}};
  // An absolute path behind "file:" never reads as an option or another protocol, and the
  // whitelist keeps a crafted file (a playlist, a concatenation) from reaching the network.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  // Only plain files: a pipe or a device under an audio name would keep ffprobe waiting.
  if (error || !std::filesystem::is_regular_file(absolute, error)) return {kFailed, {}};
  const std::string input = "file:" + absolute.string();
  std::string text;
  if (RunForOutput({ffprobe, "-v", "error", "-protocol_whitelist", "file", "-select_streams", "a:0",
                    "-show_entries", "stream=sample_rate,channels:format=duration", "-of",
                    "default=noprint_wrappers=1", input},
                   text, kProbeBytes) != 0)
    return {kFailed, {}};
  const std::optional<MediaProbe> probe = ParseMediaProbe(text);
  if (!probe) return {kFailed, {}};
  // The editor holds mono and stereo: more channels are mixed down to two by ffmpeg.
  const int channels = std::min(probe->channels, 2);
  const WaveFormat format =
      DefaultFormat(static_cast<std::uint32_t>(probe->rate), static_cast<std::uint16_t>(channels));
  const auto estimate = static_cast<std::int64_t>(std::llround(probe->seconds * probe->rate));
  CountedRef<MediaStreamReader> reader = MakeCounted<MediaStreamReader>(format, estimate);
  std::vector<std::string> arguments = {ffmpeg, "-nostdin", "-hide_banner", "-v", "error",
                                        "-protocol_whitelist", "file", "-i", input,
                                        "-map", "0:a:0", "-vn", "-sn", "-dn"};
  // Rate and channels fixed, so a stream that changes them on the way is converted.
  arguments.insert(arguments.end(), {"-ac", std::to_string(channels), "-ar", std::to_string(probe->rate), "-f",
                                     "s16le", "-acodec", "pcm_s16le", "-nostats", "pipe:1"});
  if (!reader->child().Start(arguments, false)) return {kFailed, {}};
  // A larger pipe lets ffmpeg run on while the load is busy; the default size is kept when
  // the system refuses.
  ::fcntl(reader->child().output(), F_SETPIPE_SZ, static_cast<int>(kPipeBytes));
  // A file ffmpeg cannot decode fails here, before anything is loaded.
  progress.SetFraction(0);
  if (!reader->AwaitFirstFrames(progress)) return {kCancelled, {}};  // the child is ended on the way out
  if (reader->status != kStatusOk) return {kFailed, {}};
  return {kDone, reader};
}

}  // namespace sonavel
