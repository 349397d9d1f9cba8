// Streaming through the store against plain POSIX files: one long stereo sound written
// through the block writer and read back through the segment reader, each beside a
// sequential write (read) of the same bytes in the same 8192-frame pieces to a plain file
// in the working folder. Both sides go through the page cache; nothing is synced or dropped.
//
// SONAVEL_BENCH_SECONDS sets the length of the sound (default 3600: one hour at 44.1 kHz).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"
#include "store/sound.h"

namespace sonavel::bench {

namespace {

constexpr std::int32_t kRate = 44100;
constexpr std::uint8_t kChannels = 2;
constexpr std::int32_t kChunkFrames = 8192;
constexpr std::size_t kChunkSamples = std::size_t{kChunkFrames} * kChannels;
constexpr std::size_t kFrameBytes = kChannels * 4;
constexpr std::int64_t kPatternChunks = 16;

std::int32_t TotalFrames() {
  static const std::int32_t frames = [] {
    long seconds = 3600;
    if (const char* text = std::getenv("SONAVEL_BENCH_SECONDS")) {
      char* end = nullptr;
      const long value = std::strtol(text, &end, 10);
      if (end != text && *end == '\0' && value > 0) seconds = value;
    }
    // A frame position must fit 32 bits: at most 48,695 seconds.
    return static_cast<std::int32_t>(std::min<long>(seconds * kRate, 0x7FFFFFFF));
  }();
  return frames;
}

std::int64_t TotalBytes() {
  return std::int64_t{TotalFrames()} * kFrameBytes;
}

std::int64_t ChunkCount() {
  return (std::int64_t{TotalFrames()} + kChunkFrames - 1) / kChunkFrames;
}

std::int32_t FramesOfChunk(std::int64_t chunk) {
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(kChunkFrames, TotalFrames() - chunk * kChunkFrames));
}

// About three seconds of two detuned tones under a slow swell with a little hiss, within
// 16-bit full scale; the sound repeats it. Both sides write the very same buffers.
const std::vector<std::int32_t>& Pattern() {
  static const std::vector<std::int32_t> samples = [] {
    std::vector<std::int32_t> out(kPatternChunks * kChunkSamples);
    std::uint32_t noise = 1;
    for (std::size_t frame = 0; frame < out.size() / kChannels; ++frame) {
      const double t = static_cast<double>(frame) / kRate;
      const double swell = 0.5 + 0.45 * std::sin(2 * std::numbers::pi * 0.7 * t);
      noise = noise * 1664525u + 1013904223u;
      const double hiss = (static_cast<double>(noise >> 16) - 32768.0) / 32768.0 * 0.02;
      const double left = swell * 0.9 * std::sin(2 * std::numbers::pi * 440.0 * t) + hiss;
      const double right = swell * 0.9 * std::sin(2 * std::numbers::pi * 660.5 * t) - hiss;
      out[kChannels * frame] = static_cast<std::int32_t>(left * kFullScale);
      out[kChannels * frame + 1] = static_cast<std::int32_t>(right * kFullScale);
    }
    return out;
  }();
  return samples;
}

const std::int32_t* PatternChunk(std::int64_t chunk) {
  return Pattern().data() + (chunk % kPatternChunks) * kChunkSamples;
}

// Whether `buffer` holds the frames of the last chunk of the sound.
bool HoldsLastChunk(const std::vector<std::int32_t>& buffer) {
  const std::int64_t last = ChunkCount() - 1;
  const std::size_t samples = static_cast<std::size_t>(FramesOfChunk(last)) * kChannels;
  return std::equal(buffer.begin(), buffer.begin() + samples, PatternChunk(last));
}

std::int64_t FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

// The whole sound through a block writer; `target` holds it when this returns. Returns
// the writer's status just before it finished.
std::uint8_t WriteThroughStore(Sound& target) {
  SinkRef writer = CreateBlockWriter(target, kRate, kChannels);
  for (std::int64_t chunk = 0; chunk < ChunkCount(); ++chunk)
    writer->Write(PatternChunk(chunk), FramesOfChunk(chunk));
  return writer->status;
}

// The same bytes with plain POSIX calls.
bool WritePlain(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool complete = true;
  for (std::int64_t chunk = 0; chunk < ChunkCount(); ++chunk) {
    const std::size_t bytes = static_cast<std::size_t>(FramesOfChunk(chunk)) * kFrameBytes;
    complete &= ::write(fd, PatternChunk(chunk), bytes) == static_cast<ssize_t>(bytes);
  }
  return ::close(fd) == 0 && complete;
}

// Whether `sound` is the whole sound in one segment, with both block files complete.
bool StoreFilesComplete(const Sound& sound) {
  if (SegmentCount(sound) != 1 || SoundLength(sound) != TotalFrames()) return false;
  const std::int64_t runs = (std::int64_t{TotalFrames()} + kPeakRunFrames - 1) / kPeakRunFrames;
  return FileSize(BlockAudioPath(sound.head->block)) == TotalBytes() &&
         FileSize(BlockPeakPath(sound.head->block)) == runs * kChannels * 2;
}

std::string PlainPath(const char* name) {
  return JoinPath(WorkingFolder(), name);
}

// The files the read benchmarks read, written once on first use.
struct ReadFiles {
  Sound sound;
  bool prepared = false;
  bool usable = false;
};

ReadFiles& Files() {
  static ReadFiles files;
  return files;
}

bool PrepareReadFiles() {
  ReadFiles& files = Files();
  if (!files.prepared) {
    files.prepared = true;
    files.usable = WriteThroughStore(files.sound) == kStatusOk && StoreFilesComplete(files.sound) &&
                   WritePlain(PlainPath("plain-read.raw"));
  }
  return files.usable;
}

void BM_PlainWrite(benchmark::State& state) {
  const std::string path = PlainPath("plain-write.raw");
  for (auto _ : state) {
    const bool written = WritePlain(path);
    state.PauseTiming();
    const bool complete = written && FileSize(path) == TotalBytes();
    RemoveFile(path);
    state.ResumeTiming();
    if (!complete) {
      state.SkipWithError("the plain file was not written completely");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * TotalBytes());
}

void BM_BlockWriterWrite(benchmark::State& state) {
  for (auto _ : state) {
    Sound sound;
    const std::uint8_t status = WriteThroughStore(sound);
    state.PauseTiming();
    const bool complete = status == kStatusOk && StoreFilesComplete(sound);
    FreeSegments(sound);  // the last holder: the block files go
    state.ResumeTiming();
    if (!complete) {
      state.SkipWithError("the block writer did not write the sound completely");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * TotalBytes());
}

void BM_PlainRead(benchmark::State& state) {
  if (!PrepareReadFiles()) {
    state.SkipWithError("cannot write the files to read");
    return;
  }
  const std::string path = PlainPath("plain-read.raw");
  std::vector<std::int32_t> buffer(kChunkSamples);
  bool complete = true;
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    for (std::int64_t chunk = 0; chunk < ChunkCount(); ++chunk) {
      const std::size_t bytes = static_cast<std::size_t>(FramesOfChunk(chunk)) * kFrameBytes;
      complete &= ::read(fd, buffer.data(), bytes) == static_cast<ssize_t>(bytes);
      benchmark::DoNotOptimize(buffer.data());
      benchmark::ClobberMemory();
    }
    ::close(fd);
  }
  if (!complete || !HoldsLastChunk(buffer)) state.SkipWithError("the plain file read back wrong");
  state.SetBytesProcessed(state.iterations() * TotalBytes());
}

void BM_SegmentReaderRead(benchmark::State& state) {
  if (!PrepareReadFiles()) {
    state.SkipWithError("cannot write the files to read");
    return;
  }
  std::vector<std::int32_t> buffer(kChunkSamples);
  bool complete = true;
  for (auto _ : state) {
    SourceRef reader = OpenSoundReader(Files().sound);
    complete &= reader->status == kStatusOk && reader->Length() == TotalFrames();
    for (std::int64_t chunk = 0; chunk < ChunkCount(); ++chunk) {
      reader->Read(buffer.data(), FramesOfChunk(chunk));
      benchmark::DoNotOptimize(buffer.data());
      benchmark::ClobberMemory();
    }
  }
  if (!complete || !HoldsLastChunk(buffer)) state.SkipWithError("the sound read back wrong");
  state.SetBytesProcessed(state.iterations() * TotalBytes());
}

// One pass moves a whole sound; the best of a few repetitions counts.
void StreamingRuns(benchmark::internal::Benchmark* b) {
  b->Iterations(1)->Repetitions(7)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PlainWrite)->Apply(StreamingRuns);
BENCHMARK(BM_BlockWriterWrite)->Apply(StreamingRuns);
BENCHMARK(BM_PlainRead)->Apply(StreamingRuns);
BENCHMARK(BM_SegmentReaderRead)->Apply(StreamingRuns);

}  // namespace

void ReleaseReadFiles() {
  FreeSegments(Files().sound);
  RemoveFile(PlainPath("plain-read.raw"));
}

}  // namespace sonavel::bench
