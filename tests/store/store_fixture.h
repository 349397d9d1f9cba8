#pragma once
// A fresh working folder per test, and helpers that move frames in and out of sounds.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"
#include "store/sound.h"

namespace sonavel::testing {

// Points the per-user data folder ("WavCodec.wff", presets) at `folder` while it lives, so
// that what a test stores there stays its own.
class ScopedDataFolder {
 public:
  explicit ScopedDataFolder(const std::string& folder) {
    if (const char* old = std::getenv("SONAVEL_DATA_DIR")) saved_ = old;
    ::setenv("SONAVEL_DATA_DIR", folder.c_str(), 1);
  }
  ~ScopedDataFolder() {
    if (saved_)
      ::setenv("SONAVEL_DATA_DIR", saved_->c_str(), 1);
    else
      ::unsetenv("SONAVEL_DATA_DIR");
  }
  ScopedDataFolder(const ScopedDataFolder&) = delete;
  ScopedDataFolder& operator=(const ScopedDataFolder&) = delete;

 private:
  std::optional<std::string> saved_;
};

inline std::string MakeTempFolder() {
  std::string pattern = JoinPath(TempFolder(), "sonavel-test-XXXXXX");
  char* made = ::mkdtemp(pattern.data());
  return made != nullptr ? std::string(made) : std::string();
}

// Number of ids whose counter is not 0.
inline int HeldBlocks() {
  int held = 0;
  for (std::uint32_t id = 0; id < kNoBlock; ++id) held += BlockRefCount(static_cast<BlockId>(id)) != 0;
  return held;
}

inline int BlockFilesIn(const std::string& folder) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string extension = entry.path().extension().string();
    files += extension == ".aud" || extension == ".grf";
  }
  return files;
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder();
    ASSERT_FALSE(folder_.empty());
    SetWorkingFolder(folder_);
    held_before_ = HeldBlocks();
  }
  void TearDown() override {
    CleanWorkingFolder();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    SetWorkingFolder("");
  }

  // Fails the test when a block reference leaked (blocks held before it began aside).
  void ExpectNoLeak() { EXPECT_EQ(HeldBlocks(), held_before_) << "a block reference leaked"; }

  std::string folder_;
  int held_before_ = 0;
};

// A one-segment sound holding `samples` (interleaved), written through a BlockWriter.
inline Sound WriteSound(const std::vector<std::int32_t>& samples, std::uint8_t channels = 1,
                        std::int32_t rate = 44100) {
  Sound sound(rate, channels);
  {
    SinkRef writer = CreateBlockWriter(sound, rate, channels);
    writer->Write(samples.data(), static_cast<std::int32_t>(samples.size() / channels));
  }
  return sound;
}

// Frames 0, 1, 2, ... with value base + index (mono).
inline Sound RampSound(std::int32_t frames, std::int32_t base = 1000) {
  std::vector<std::int32_t> samples(frames);
  for (std::int32_t i = 0; i < frames; ++i) samples[i] = base + i;
  return WriteSound(samples);
}

inline std::vector<std::int32_t> ReadFrames(SampleSource& source, std::int32_t frames) {
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * source.channels, -7);
  source.Read(out.data(), frames);
  return out;
}

// Everything a SegmentReader delivers for the whole sound.
inline std::vector<std::int32_t> ReadAll(const Sound& sound) {
  SourceRef reader = OpenSoundReader(sound);
  return ReadFrames(*reader, reader->Length());
}

struct SegmentView {
  BlockId block;
  std::int32_t length;
  std::int32_t gain;
  std::int32_t offset;
  bool operator==(const SegmentView&) const = default;
};

inline std::vector<SegmentView> Segments(const Sound& sound) {
  std::vector<SegmentView> out;
  for (const Segment* g = sound.head; g != nullptr; g = g->next)
    out.push_back({g->block, g->length, g->gain, g->offset});
  return out;
}

inline std::ostream& operator<<(std::ostream& os, const SegmentView& g) {
  return os << "{block " << g.block << ", length " << g.length << ", gain " << g.gain
            << ", offset " << g.offset << "}";
}

}  // namespace sonavel::testing
