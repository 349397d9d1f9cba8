#include "store/peak_limiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "store_fixture.h"

namespace sonavel {
namespace {

using testing::ReadFrames;
using testing::StoreTest;
using testing::WriteSound;

constexpr std::int32_t kUnity = kLimiterUnity;

// Interleaved samples in memory: zeros before 0 and past the end, the position advancing
// by the full request; `fail_at` frames into the stream its status turns corrupt.
class MemorySource final : public SampleSource {
 public:
  MemorySource(std::vector<std::int32_t> samples, std::int32_t rate, std::uint8_t channels,
               std::int32_t peak = 0x7FFFFFFF)
      : SampleSource(rate, channels, peak), samples_(std::move(samples)) {}

  void Read(std::int32_t* buffer, std::int32_t frames) override {
    for (std::int32_t f = 0; f < frames; ++f, ++position_) {
      for (std::int32_t c = 0; c < channels; ++c) {
        const std::int64_t i = std::int64_t{position_} * channels + c;
        *buffer++ = i >= 0 && i < static_cast<std::int64_t>(samples_.size()) ? samples_[i] : 0;
      }
      if (position_ == fail_at) status = kStatusCorrupt;
    }
  }
  std::int32_t Position() const override { return position_; }
  std::int32_t Length() const override { return static_cast<std::int32_t>(samples_.size() / channels); }
  void Seek(std::int32_t frame) override { position_ = frame; }

  std::int32_t fail_at = -1;

 private:
  std::vector<std::int32_t> samples_;
  std::int32_t position_ = 0;
};

SourceRef Memory(const std::vector<std::int32_t>& samples, std::int32_t rate = 700, std::uint8_t channels = 1) {
  return MakeCounted<MemorySource>(samples, rate, channels);
}

// Reads `frames` frames in pieces of the given sizes, cycling through them.
std::vector<std::int32_t> ReadInPieces(SampleSource& source, std::int32_t frames,
                                       const std::vector<std::int32_t>& pieces) {
  std::vector<std::int32_t> out;
  std::vector<std::int32_t> piece;
  for (std::size_t i = 0; frames > 0; ++i) {
    const std::int32_t n = std::min(frames, pieces[i % pieces.size()]);
    piece.assign(static_cast<std::size_t>(n) * source.channels, -7);
    source.Read(piece.data(), n);
    out.insert(out.end(), piece.begin(), piece.end());
    frames -= n;
  }
  return out;
}

const std::vector<std::int32_t> kOddPieces = {1, 7, 300, 13, 2049, 5, 999, 64, 8191};

std::vector<std::int32_t> Noise(std::size_t count, std::int32_t magnitude, std::mt19937& random) {
  std::uniform_int_distribution<std::int32_t> value(-magnitude, magnitude);
  std::vector<std::int32_t> out(count);
  for (std::int32_t& x : out) x = value(random);
  return out;
}

TEST(PeakLimiterArithmetic, BlockLengthIsAThirtyFifthOfASecondWithinLimits) {
  EXPECT_EQ(LimiterBlockLength(44100), 1260);
  EXPECT_EQ(LimiterBlockLength(8000), 228);
  EXPECT_EQ(LimiterBlockLength(96000), 2742);
  EXPECT_EQ(LimiterBlockLength(700), 20);
  EXPECT_EQ(LimiterBlockLength(699), 20);
  EXPECT_EQ(LimiterBlockLength(1), 20);
  EXPECT_EQ(LimiterBlockLength(286720), 8192);
  EXPECT_EQ(LimiterBlockLength(1000000), 8192);
}

TEST(PeakLimiterArithmetic, BlockGainsAndScalingInTwentyFourBitFixedPoint) {
  EXPECT_EQ(LimiterBlockGain(1000, 1000), kUnity);
  EXPECT_EQ(LimiterBlockGain(0, 0), kUnity);
  EXPECT_EQ(LimiterBlockGain(1001, 1000), 16384000);  // 512000 / 16 × 512
  EXPECT_EQ(LimiterBlockGain(4000, 1000), 4160512);   // 512000 / 63 = 8126
  EXPECT_EQ(LimiterBlockGain(0x7FFF1, kFullScale), 16776704);
  EXPECT_EQ(LimiterBlockGain(3 * kFullScale, kFullScale), 5592064);
  EXPECT_EQ(LimiterBlockGain(0x80000, kFullScale), 16774656);  // -32768 in 16 bits is over
  EXPECT_EQ(LimiterBlockGain(std::int64_t{1} << 31, kLimiterMaxLimit), 32256);  // 63 × 512

  EXPECT_EQ(LimiterScale(3 * kFullScale, 5592064), 524239);
  EXPECT_EQ(LimiterScale(-3 * kFullScale, 5592064), -524241);
  EXPECT_EQ(LimiterScale(4000, 4160512), 991);
  EXPECT_EQ(LimiterScale(100, kUnity - 4), 99);  // any cut below unity truncates
  EXPECT_EQ(LimiterScale(std::numeric_limits<std::int32_t>::max(), kUnity), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(LimiterScale(std::numeric_limits<std::int32_t>::min(), kUnity), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(LimiterScale(-12345, 0), 0);
  // The partial products round towards minus infinity: a negative peak just over the limit
  // comes out one below -limit, the positive one within it.
  EXPECT_EQ(LimiterScale(-532543, LimiterBlockGain(532543, kFullScale)), -kFullScale - 1);
  EXPECT_EQ(LimiterScale(532543, LimiterBlockGain(532543, kFullScale)), kFullScale - 2);
}

// 700 Hz gives blocks of 20 frames. Limit 1000; frames of 100 with one of 4000 at frame 30
// (block 1). Priming sees gains U, G, U (G = 4160512): the ramp goes from U to G over
// block 0 (step -630835, remainder -4 at once), stays at G over block 1, rises over
// block 2 to the mean (3U + G) / 4 = 13623040 (step 473126, remainder 8) and over
// block 3 back to unity (step 157708, remainder 16); block 4 is copied.
TEST(PeakLimiter, HandComputedRampAroundOnePeak) {
  std::vector<std::int32_t> input(100, 100);
  input[30] = 4000;
  const std::vector<std::int32_t> expected = {
      99,  96,  92,  88,  84,  81,  77,  73,  69,  66,  62,  58,  54,  51,  47,  43,  39,  36,  32,  28,
      24,  24,  24,  24,  24,  24,  24,  24,  24,  24,  991, 24,  24,  24,  24,  24,  24,  24,  24,  24,
      24,  27,  30,  33,  36,  38,  41,  44,  47,  50,  52,  55,  58,  61,  64,  67,  69,  72,  75,  78,
      81,  82,  83,  84,  84,  85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  95,  96,  97,  98,  99,
      100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100};
  SourceRef limiter = MakePeakLimiter(Memory(input), 1000);
  EXPECT_EQ(limiter->peak_bound, 1000);
  EXPECT_EQ(limiter->Position(), 0);
  EXPECT_EQ(limiter->Length(), 100);
  EXPECT_EQ(ReadFrames(*limiter, 100), expected);
  EXPECT_EQ(limiter->Position(), 100);
  // Frame 19 is scaled by 16777212 - 19 × 630835, frame 59 by 4160520 + 19 × 473126.
  EXPECT_EQ(expected[19], LimiterScale(100, 4791347));
  EXPECT_EQ(expected[59], LimiterScale(100, 13149914));

  SourceRef pieces = MakePeakLimiter(Memory(input), 1000);
  std::vector<std::int32_t> got;
  for (std::int32_t n : {1, 2, 17, 20, 3, 37, 20}) {
    std::vector<std::int32_t> piece = ReadFrames(*pieces, n);
    got.insert(got.end(), piece.begin(), piece.end());
    EXPECT_EQ(pieces->Position(), static_cast<std::int32_t>(got.size()));
  }
  EXPECT_EQ(got, expected);
}

TEST(PeakLimiter, SignalsWithinTheLimitPassBitExactWithoutLatency) {
  std::mt19937 random(7);
  for (std::int32_t rate : {700, 8000, 22050, 44100, 96000}) {
    for (std::uint8_t channels : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz, " << int{channels} << " channels");
      const std::int32_t frames = 5 * LimiterBlockLength(rate) + 37;
      std::vector<std::int32_t> input = Noise(static_cast<std::size_t>(frames) * channels, kFullScale, random);
      input[0] = kFullScale;
      input[1] = -kFullScale;
      SourceRef limiter = MakePeakLimiter(Memory(input, rate, channels), kFullScale);
      EXPECT_EQ(limiter->Length(), frames);
      EXPECT_EQ(ReadInPieces(*limiter, frames, kOddPieces), input);
      EXPECT_EQ(limiter->Position(), frames);
      EXPECT_EQ(ReadFrames(*limiter, 3), std::vector<std::int32_t>(3u * channels, 0));
      EXPECT_EQ(limiter->status, kStatusOk);
    }
  }
}

TEST(PeakLimiter, LoudSignalsStayWithinTheLimitEverywhere) {
  std::mt19937 random(11);
  for (std::int32_t rate : {700, 8000, 44100, 96000}) {
    for (std::uint8_t channels : {1, 2}) {
      for (std::int32_t limit : {1000, kFullScale, kLimiterMaxLimit}) {
        SCOPED_TRACE(::testing::Message() << rate << " Hz, " << int{channels} << " channels, limit " << limit);
        const std::int32_t block = LimiterBlockLength(rate);
        const std::int32_t frames = 16 * block + 5;
        // Quiet noise, with some blocks (and single samples) at up to 8 times the limit.
        std::vector<std::int32_t> input = Noise(static_cast<std::size_t>(frames) * channels, limit / 2, random);
        std::uniform_int_distribution<std::int32_t> loud(-8 * limit, 8 * limit);
        for (std::int32_t b : {4, 5, 9}) {
          for (std::int32_t i = b * block * channels; i < (b + 1) * block * channels; ++i) input[i] = loud(random);
        }
        input[12 * block * channels + 3] = std::numeric_limits<std::int32_t>::min();
        input[14 * block * channels] = std::numeric_limits<std::int32_t>::max();
        SourceRef limiter = MakePeakLimiter(Memory(input, rate, channels), limit);
        const std::vector<std::int32_t> output = ReadInPieces(*limiter, frames, kOddPieces);
        ASSERT_EQ(output.size(), input.size());
        std::int32_t largest = 0;
        for (std::size_t i = 0; i < output.size(); ++i) {
          ASSERT_LE(output[i], limit) << "sample " << i;
          ASSERT_GE(output[i], -limit) << "sample " << i;
          // Rounding towards minus infinity may add a step or two to a negative sample.
          ASSERT_LE(std::abs(std::int64_t{output[i]}), std::abs(std::int64_t{input[i]}) + (input[i] < 0 ? 2 : 0))
              << "sample " << i;
          largest = std::max(largest, std::abs(output[i]));
        }
        EXPECT_GT(largest, limit - limit / 64) << "loud blocks are brought to the limit, not far below";
        // More than two blocks ahead of every loud block the signal is untouched.
        EXPECT_TRUE(std::equal(input.begin(), input.begin() + 2 * block * channels, output.begin()));
      }
    }
  }
}

TEST(PeakLimiter, EveryChannelFollowsTheOneGainRampOfItsFrame) {
  // The same loud signal in every channel: each channel comes out exactly as the mono
  // limiter gives it, whatever the channel count.
  std::mt19937 random(5);
  const std::int32_t block = LimiterBlockLength(8000);
  const std::int32_t frames = 9 * block + 11;
  std::vector<std::int32_t> mono = Noise(static_cast<std::size_t>(frames), 3 * kFullScale, random);
  mono[5 * block + 2] = std::numeric_limits<std::int32_t>::min();
  SourceRef single = MakePeakLimiter(Memory(mono, 8000, 1), kFullScale);
  const std::vector<std::int32_t> expected = ReadInPieces(*single, frames, kOddPieces);
  for (std::uint8_t channels : {2, 5}) {
    SCOPED_TRACE(int{channels});
    std::vector<std::int32_t> input;
    for (const std::int32_t x : mono) input.insert(input.end(), channels, x);
    SourceRef limiter = MakePeakLimiter(Memory(input, 8000, channels), kFullScale);
    const std::vector<std::int32_t> output = ReadInPieces(*limiter, frames, kOddPieces);
    ASSERT_EQ(output.size(), input.size());
    for (std::size_t i = 0; i < output.size(); ++i) ASSERT_EQ(output[i], expected[i / channels]) << "sample " << i;
  }
}

TEST(PeakLimiter, GainFallsTwoBlocksAheadAndRecoversTwoBlocksAfterAPeak) {
  std::mt19937 random(3);
  const std::int32_t block = LimiterBlockLength(44100);
  std::vector<std::int32_t> input = Noise(static_cast<std::size_t>(12 * block), kFullScale / 2, random);
  const std::size_t peak = 5 * block + 100;
  input[peak] = 4 * kFullScale;
  SourceRef limiter = MakePeakLimiter(MakeCounted<MemorySource>(input, 44100, 1), kFullScale);
  const std::vector<std::int32_t> output = ReadInPieces(*limiter, 12 * block, kOddPieces);
  // Block 3 sees the peak block as C (the mean drops), block 4 as B; blocks 6 and 7 still
  // have it as the previous block's gain in the mean; block 8 is back at unity.
  EXPECT_TRUE(std::equal(input.begin(), input.begin() + 3 * block, output.begin()));
  EXPECT_TRUE(std::equal(input.begin() + 8 * block, input.end(), output.begin() + 8 * block));
  EXPECT_LE(output[peak], kFullScale);
  EXPECT_GT(output[peak], kFullScale - 128);
  for (std::int32_t b = 3; b < 8; ++b) {
    EXPECT_FALSE(std::equal(input.begin() + b * block, input.begin() + (b + 1) * block, output.begin() + b * block))
        << "block " << b << " is reduced";
  }
  // Over block 6 the gain rises: late frames keep more of their value than early ones.
  const auto ratio = [&](std::size_t i) { return static_cast<double>(output[i]) / input[i]; };
  std::size_t early = 6 * block;
  while (std::abs(input[early]) < 100000) ++early;
  std::size_t late = 7 * block - 1;
  while (std::abs(input[late]) < 100000) --late;
  EXPECT_LT(ratio(early) + 0.1, ratio(late));
}

TEST(PeakLimiter, UpstreamFailureGivesStatusTwo) {
  SourceRef failed = MakeNullSource(kStatusCorrupt);
  SourceRef limiter = MakePeakLimiter(failed, kFullScale);
  EXPECT_EQ(limiter->status, kStatusUpstreamFailed);
  EXPECT_EQ(limiter->rate, 11025);

  SourceRef placeholder = MakePeakLimiter(SourceRef(), kFullScale);
  EXPECT_EQ(placeholder->status, kStatusUpstreamFailed);
  EXPECT_EQ(ReadFrames(*placeholder, 5), std::vector<std::int32_t>(5, 0));

  // A source that fails while it is read: the limiter notices as it reads ahead.
  auto* source = new MemorySource(std::vector<std::int32_t>(400, 5), 8000, 2);
  source->fail_at = 300;
  SourceRef later = MakePeakLimiter(SourceRef(source), kFullScale);
  EXPECT_EQ(later->rate, 8000);
  EXPECT_EQ(later->channels, 2);
  EXPECT_EQ(later->status, kStatusOk);
  ReadFrames(*later, 10);  // primes 3 × 228 frames, past frame 300
  EXPECT_EQ(later->status, kStatusUpstreamFailed);
}

TEST(PeakLimiter, SeekEqualsAFreshLimiterStartedThere) {
  std::mt19937 random(5);
  std::vector<std::int32_t> input = Noise(2 * 3000, 3 * kFullScale, random);
  for (std::size_t i = 0; i < 2 * 900; ++i) input[i] /= 8;  // quiet start, then loud
  SourceRef limiter = MakePeakLimiter(Memory(input, 8000, 2), kFullScale);
  const std::vector<std::int32_t> first = ReadInPieces(*limiter, 1500, kOddPieces);
  for (std::int32_t frame : {0, 1, 227, 228, 700, 1499, 2999, -30}) {
    SCOPED_TRACE(frame);
    limiter->Seek(frame);
    EXPECT_EQ(limiter->Position(), frame);
    const std::vector<std::int32_t> after = ReadInPieces(*limiter, 1500, kOddPieces);
    SourceRef inner = Memory(input, 8000, 2);
    inner->Seek(frame);
    SourceRef fresh = MakePeakLimiter(inner, kFullScale);
    EXPECT_EQ(fresh->Position(), frame);
    EXPECT_EQ(after, ReadFrames(*fresh, 1500));
    EXPECT_EQ(limiter->Position(), frame + 1500);
    if (frame == 0) {
      EXPECT_EQ(after, first);
    }
  }
  // Seeking into the loud part does not carry the quiet part's gains along, and the other
  // way round: the gain at frame 700 after a seek differs from the one reached by reading.
  limiter->Seek(0);
  const std::vector<std::int32_t> through = ReadFrames(*limiter, 800);
  limiter->Seek(700);
  const std::vector<std::int32_t> jumped = ReadFrames(*limiter, 100);
  EXPECT_NE(std::vector<std::int32_t>(through.end() - 200, through.end()), jumped);
}

// Keeps what is written to it.
class VectorSink final : public SampleSink {
 public:
  VectorSink(std::int32_t rate, std::uint8_t channels) : SampleSink(rate, channels) {}
  void Write(const std::int32_t* buffer, std::int32_t frames) override {
    written.insert(written.end(), buffer, buffer + static_cast<std::size_t>(frames) * channels);
  }
  std::vector<std::int32_t> written;
};

TEST(LimitingSink, WritesWhatTheLimiterWouldReadInAnyPieces) {
  std::mt19937 random(11);
  const std::vector<std::int32_t> loud = Noise(2 * 30000, 0x200000, random);
  SourceRef expected_source = MakePeakLimiter(Memory(loud, 44100, 2), kFullScale);
  const std::vector<std::int32_t> expected = ReadInPieces(*expected_source, 30000, {30000});

  auto target = MakeCounted<VectorSink>(44100, 2);
  {
    SinkRef limiting = MakeLimitingSink(target, kFullScale, 0x7FFFFFFF);
    std::int32_t at = 0;
    for (std::size_t i = 0; at < 30000; ++i) {
      const std::int32_t n = std::min(30000 - at, kOddPieces[i % kOddPieces.size()]);
      limiting->Write(loud.data() + static_cast<std::size_t>(at) * 2, n);
      at += n;
      // Never more than the look-ahead of four blocks is held back.
      EXPECT_GE(static_cast<std::int64_t>(target->written.size()) / 2, at - 4 * LimiterBlockLength(44100));
    }
  }
  EXPECT_EQ(target->written, expected);
  EXPECT_LE(*std::max_element(target->written.begin(), target->written.end()), kFullScale);

  // Within the bound it passes straight through, holding nothing.
  auto quiet_target = MakeCounted<VectorSink>(8000, 1);
  SinkRef quiet = MakeLimitingSink(quiet_target, kFullScale, kFullScale);
  const std::vector<std::int32_t> samples = {1, -2, kFullScale, -kFullScale};
  quiet->Write(samples.data(), 4);
  EXPECT_EQ(quiet_target->written, samples);
}

TEST(PeakLimiter, LimitToWrapsOnlySourcesThatCanExceedTheBound) {
  SourceRef quiet = MakeCounted<MemorySource>(std::vector<std::int32_t>{1, 2}, 8000, 1, kFullScale);
  SourceRef same = LimitTo(quiet, kFullScale);
  EXPECT_EQ(same.get(), quiet.get());

  SourceRef loud = MakeCounted<MemorySource>(std::vector<std::int32_t>{1, 2}, 8000, 1, 0x200000);
  EXPECT_EQ(loud->reference_count(), 1u);
  {
    SourceRef limited = LimitTo(loud, kFullScale);
    EXPECT_NE(limited.get(), loud.get());
    EXPECT_EQ(limited->peak_bound, kFullScale);
    EXPECT_EQ(loud->reference_count(), 2u);  // the limiter holds one reference
    EXPECT_EQ(ReadFrames(*limited, 2), (std::vector<std::int32_t>{1, 2}));
  }
  EXPECT_EQ(loud->reference_count(), 1u);
  EXPECT_EQ(MakePeakLimiter(loud, 0x7FFFFFFF)->peak_bound, kLimiterMaxLimit);
  EXPECT_EQ(MakePeakLimiter(loud, -5)->peak_bound, 0);
}

class PeakLimiterStoreTest : public StoreTest {
 protected:
  void TearDown() override {
    ExpectNoLeak();
    StoreTest::TearDown();
  }
};

TEST_F(PeakLimiterStoreTest, ASoundWithinFullScaleReadsTheSameThroughTheLimiter) {
  std::mt19937 random(9);
  std::vector<std::int32_t> samples = Noise(2 * 30001, kFullScale, random);
  samples[4] = kFullScale;
  samples[5] = -kFullScale;
  Sound sound = WriteSound(samples, 2, 22050);
  SourceRef limited = LimitTo(OpenSoundReader(sound), kFullScale);
  EXPECT_EQ(limited->peak_bound, kFullScale);  // the reader's own bound is 0x200000
  EXPECT_EQ(limited->Length(), 30001);
  EXPECT_EQ(ReadInPieces(*limited, 30001, kOddPieces), samples);
}

}  // namespace
}  // namespace sonavel
