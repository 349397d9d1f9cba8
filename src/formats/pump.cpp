#include "formats/pump.h"

#include <algorithm>
#include <vector>

#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/file.h"
#include "platform/ui.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {

int Pump(SampleSource& source, SampleSink& sink, Progress& progress, std::string_view title) {
  progress.SetTexts(title, "Bitte warten...");
  progress.SetFraction(0);
  if (source.status != kStatusOk || (sink.status & kSinkUnusable) != 0) return kFailed;
  // Rate and channel conversion is not done here: the formats must already agree.
  if (source.rate != sink.rate || source.channels != sink.channels) return kFailed;
  std::vector<std::int32_t> buffer(static_cast<std::size_t>(kPieceFrames) * source.channels);
  std::int64_t copied = 0;
  for (;;) {
    const std::int64_t left = std::int64_t{source.Length()} - source.Position();
    if (left <= 0) break;
    if (progress.Pump()) return kCancelled;
    const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(left, kPieceFrames));
    source.Read(buffer.data(), piece);
    sink.Write(buffer.data(), piece);
    copied += piece;
    // A coded source finds its real end while reading: cut what went past it.
    const std::int64_t overshoot = std::int64_t{source.Position()} - source.Length();
    if (overshoot > 0) {
      sink.Seek(static_cast<std::int32_t>(sink.position - std::min<std::int64_t>(overshoot, piece)));
      break;
    }
    progress.SetFraction(static_cast<double>(copied) / static_cast<double>(copied + left - piece));
  }
  progress.SetFraction(1);
  return (sink.status & kSinkWriteFailed) != 0 ? kFailed : kDone;
}

int LoadIntoSound(SampleSource& source, Sound& sound, Progress& progress, std::string_view title) {
  Sound loaded(source.rate, source.channels);
  int result;
  {
    SinkRef writer = CreateBlockWriter(loaded, source.rate, source.channels);
    result = Pump(source, *writer, progress, title);
  }
  if (result == kDone) sound = std::move(loaded);
  return result;
}

int SaveSoundAsWav(const Sound& sound, const WaveFormat& format, const std::string& path,
                   Progress& progress) {
  const std::string temporary = TemporarySibling(path);
  int result;
  {
    SourceRef reader = OpenSoundReader(sound);
    SinkRef writer = CreateWavWriter(format, temporary);
    result = Pump(*reader, *writer, progress, "Speichere Datei...");
  }
  if (result == kDone && RenameFile(temporary, path)) return kDone;
  RemoveFile(temporary);
  return result == kDone ? kFailed : result;
}

}  // namespace sonavel
