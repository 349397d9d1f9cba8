#include "effects/envelope.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {

std::string EnvelopeFilePath() { return JoinPath(UserDataFolder(), "envelope.dat"); }

EnvelopePoints LoadEnvelopePoints() { return LoadPointList(EnvelopeFilePath()); }

bool SaveEnvelopePoints(const EnvelopePoints& points) { return SavePointList(EnvelopeFilePath(), points); }

EnvelopePoints LoadPointList(const std::string& path) {
  EnvelopePoints points;
  File file(path, File::Mode::kRead);
  std::uint8_t count = 0;
  if (file.IsOpen() && file.Read(&count, 1) == 1) {
    std::uint8_t pairs[2 * kMaxEnvelopePoints];
    const std::size_t wanted = std::min<std::size_t>(count, kMaxEnvelopePoints);
    // A file cut short keeps the pairs it has.
    const std::size_t got = file.Read(pairs, 2 * wanted) / 2;
    std::uint8_t previous = 0;
    for (std::size_t i = 0; i < got; ++i) {
      const std::uint8_t x = std::max(pairs[2 * i], previous);
      points.emplace_back(x, pairs[2 * i + 1]);
      previous = x;
    }
  }
  file.Close();
  if (points.empty()) {
    points = {{0, 128}, {255, 128}};
    SavePointList(path, points);
  }
  return points;
}

bool SavePointList(const std::string& path, const EnvelopePoints& points) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  const std::size_t count = std::min(points.size(), kMaxEnvelopePoints);
  std::vector<std::uint8_t> bytes;
  bytes.push_back(static_cast<std::uint8_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    bytes.push_back(points[i].first);
    bytes.push_back(points[i].second);
  }
  return ReplaceFileContents(path, bytes.data(), bytes.size());
}

std::int32_t EnvelopeRamp::PointFrame(std::uint8_t x, std::int32_t length) {
  return x * (length / 255) + x * (length % 255) / 255;
}

EnvelopeRamp::EnvelopeRamp(const EnvelopePoints& points, std::int32_t length)
    : points_(points), length_(std::max<std::int32_t>(length, 1)) {
  if (points_.size() < 2) points_.resize(2, {255, 128});
  gain_ = points_[0].second << 17;
  target_ = points_[1].second << 17;
  target_frame_ = PointFrame(points_[1].first, length_);
  Advance();
}

void EnvelopeRamp::Advance() {
  while (frame_ >= target_frame_) {
    gain_ = target_;  // the point is reached: exactly its gain, whatever the steps left over
    if (next_ + 1 >= points_.size()) {
      target_frame_ = length_;  // after the last point the gain holds to the end
      break;
    }
    ++next_;
    target_frame_ = PointFrame(points_[next_].first, length_);
    target_ = points_[next_].second << 17;
  }
}

void EnvelopeRamp::Apply(std::int32_t* buffer, std::int32_t frames, int channels) {
  frames = std::min(frames, Span());
  if (frames <= 0) return;
  const std::int32_t slope = (target_ - gain_) / (target_frame_ - frame_);
  for (std::int32_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c, ++buffer) *buffer = Q24Multiply(*buffer, gain_);
    gain_ += slope;
  }
  frame_ += frames;
  Advance();
}

Result RenderEnvelope(Sound& sound, std::int32_t start, std::int32_t end, const EnvelopePoints& points,
                   Progress& progress, SourceRef input, SinkRef output) {
  if (points.size() < 2) return kFailed;
  progress.SetTexts("Envelope", "Bitte warten...");
  const std::int32_t length = std::max<std::int32_t>(end - start, 1);
  EnvelopeRamp ramp(points, length);
  RangeStream stream(sound, std::move(input), std::move(output));
  SampleSource& reader = stream.source();
  if (start > 0) reader.Seek(start);
  const int channels = std::max<int>(reader.channels, 1);
  std::vector<std::int32_t> buffer(static_cast<std::size_t>(kChunkFrames) * channels);
  while (ramp.frame() < end - start) {
    if (progress.Pump()) return kCancelled;
    // Chunks never cross a point, so each has one slope.
    const std::int32_t n = std::min({kChunkFrames, ramp.Span(), end - start - ramp.frame()});
    reader.Read(buffer.data(), n);
    ramp.Apply(buffer.data(), n, channels);
    stream.sink().Write(buffer.data(), n);
    progress.SetFraction(static_cast<double>(ramp.frame()) / length);
  }
  return stream.Commit(start, end) ? kDone : kFailed;
}

}  // namespace sonavel
