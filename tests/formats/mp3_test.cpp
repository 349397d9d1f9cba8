#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "format_fuzz_seeds.h"
#include "formats/format_table.h"
#include "formats/mp3_decoder.h"
#include "formats/mp3_file.h"
#include "formats/mp3_header.h"
#include "formats/wav_reader.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "sox_peer.h"
#include "wav_fixture.h"

namespace sonavel::mp3 {
namespace {

using testing::Drain;
using testing::Quote;
using testing::ReadBytes;
using testing::RunCommand;
using testing::WriteBytes;
using Bytes = std::vector<std::uint8_t>;

TEST(Mp3HeaderTest, FrameLengthsAndRefusals) {
  // 128 kbit/s, 44.1 kHz, MPEG-1, joint stereo, no CRC: 417 bytes, 418 with padding.
  std::uint8_t bytes[4] = {0xFF, 0xFB, 0x90, 0x40};
  auto header = ParseFrameHeader(bytes);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->frame_bytes, 417);
  EXPECT_EQ(header->samples_per_frame, 1152);
  EXPECT_EQ(header->channels, 2);
  EXPECT_EQ(header->main_data_offset(), 36);
  bytes[2] |= 0x02;
  EXPECT_EQ(ParseFrameHeader(bytes)->frame_bytes, 418);

  // MPEG-2.5, 8 kHz, 8 kbit/s, mono, with CRC: 72 bytes, side information after the CRC.
  const std::uint8_t low[4] = {0xFF, 0xE2, 0x18, 0xC0};
  header = ParseFrameHeader(low);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->version, MpegVersion::k25);
  EXPECT_EQ(header->sample_rate, 8000);
  EXPECT_EQ(header->frame_bytes, 72);
  EXPECT_EQ(header->samples_per_frame, 576);
  EXPECT_EQ(header->main_data_offset(), 6 + 9);

  // Free format, bit-rate index 15, rate index 3, Layer II, the reserved version.
  for (const auto& bad : {std::array<std::uint8_t, 4>{0xFF, 0xFB, 0x00, 0x40}, {0xFF, 0xFB, 0xF0, 0x40},
                          {0xFF, 0xFB, 0x9C, 0x40}, {0xFF, 0xFD, 0x90, 0x40}, {0xFF, 0xEB, 0x90, 0x40},
                          {0xFE, 0xFB, 0x90, 0x40}})
    EXPECT_FALSE(ParseFrameHeader(bad.data()));
}

// The source the peers encode: a sweep on the left, pink noise on the right, an odd length.
constexpr std::int64_t kSourceFrames = 100001;

// The files `lame` and `ffmpeg` make from one source, once for the whole test program.
class Mp3FileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new std::string(testing::MakeTempFolder());
    const std::string source = At("source.wav");
    const std::string steps[] = {
        "sox -r 44100 -c 2 -n -b 16 " + Quote(source) + " synth " + std::to_string(kSourceFrames) +
            "s sine 100-8000 pinknoise vol 0.6",
        "lame --quiet -b 128 " + Quote(source) + " " + Quote(At("cbr.mp3")),
        "lame --quiet -V 4 " + Quote(source) + " " + Quote(At("vbr.mp3")),
        "lame --quiet -t -b 128 " + Quote(source) + " " + Quote(At("notag.mp3")),
        "lame --quiet -p -m m --resample 22.05 -b 64 " + Quote(source) + " " + Quote(At("mono22.mp3")),
        "lame --quiet --freeformat -b 400 " + Quote(source) + " " + Quote(At("free.mp3")),
        "ffmpeg -loglevel error -y -i " + Quote(source) + " -c:a mp2 -f mp2 " + Quote(At("layer2.mp3")),
        "ffmpeg -loglevel error -y -i " + Quote(source) + " -c:a libmp3lame -f wav " + Quote(At("in.wav")),
    };
    for (const std::string& step : steps)
      if (RunCommand(step + " 2>&1") != 0) *failure_ += "failed (is the peer installed?): " + step + "\n";
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(*folder_, ignored);
    delete folder_;
  }
  void SetUp() override { ASSERT_TRUE(failure_->empty()) << *failure_; }

  static std::string At(const std::string& name) { return JoinPath(*folder_, name); }

  static SourceRef Open(const std::string& name, bool gapless) {
    return OpenMp3Reader(OpenFileBytes(At(name)), gapless);
  }
  static SourceRef OpenBytes(Bytes bytes, bool gapless = false) {
    return OpenMp3Reader(MemoryBytes(std::move(bytes)), gapless);
  }

  // What mpg123 decodes from a file: interleaved float samples, full scale 1.0.
  static std::vector<float> Mpg123(const std::string& path, bool gapless) {
    const std::string out = At("mpg123.raw");
    EXPECT_EQ(RunCommand("mpg123 -q " + std::string(gapless ? "" : "--no-gapless ") + "-e f32 -s " + Quote(path) +
                         " > " + Quote(out)),
              0);
    const Bytes bytes = ReadBytes(out);
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
  }

  // Our samples (full scale `scale`) against mpg123's within the full-accuracy limits:
  // RMS of the difference below 2^-15/√12 and peak at most 2^-14, each plus `extra`.
  static void ExpectAccurate(const std::vector<std::int32_t>& ours, const std::vector<float>& theirs, double scale,
                             const std::string& what, double extra_rms = 0, double extra_peak = 0) {
    ASSERT_EQ(ours.size(), theirs.size()) << what;
    double squares = 0;
    double peak = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
      const double difference = ours[i] / scale - theirs[i];
      squares += difference * difference;
      peak = std::max(peak, std::abs(difference));
    }
    const double rms = std::sqrt(squares / static_cast<double>(std::max<std::size_t>(ours.size(), 1)));
    EXPECT_LT(rms, std::pow(2.0, -15) / std::sqrt(12.0) + extra_rms) << what;
    EXPECT_LE(peak, std::pow(2.0, -14) + extra_peak) << what;
  }

  // floor(data ÷ average frame bytes + 0.9) × samples per frame.
  static std::int64_t Estimate(double data, double average, int samples_per_frame) {
    return static_cast<std::int64_t>(std::floor(data / average + 0.9)) * samples_per_frame;
  }

  static std::string* folder_;
  static std::string* failure_;
};

std::string* Mp3FileTest::folder_ = nullptr;
std::string* Mp3FileTest::failure_ = new std::string;

// Frames of MPEG-2, 24 kHz, 8 kbit/s, mono: 24 bytes each, the smallest there are.
Bytes SmallFrames(int count, std::size_t size) {
  Bytes bytes(size, 0);
  for (int i = 0; i < count; ++i) {
    const std::uint8_t header[4] = {0xFF, 0xF3, 0x14, 0xC4};
    std::copy_n(header, 4, bytes.begin() + 24 * i);
  }
  return bytes;
}

TEST_F(Mp3FileTest, LengthsComeFromTagsOrTheEstimateUntilTheRealEnd) {
  // A tag's count: the "Info" frame of lame's constant bit rate holds no sound.
  const Bytes cbr = ReadBytes(At("cbr.mp3"));
  ASSERT_EQ(std::memcmp(&cbr[36], "Info", 4), 0);
  const std::int64_t count = ReadBe32(&cbr[44]);
  SourceRef reader = Open("cbr.mp3", false);
  ASSERT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(reader->rate, 44100);
  EXPECT_EQ(reader->channels, 2);
  EXPECT_EQ(reader->peak_bound, 2097152);
  EXPECT_EQ(reader->Length(), count * 1152);
  EXPECT_EQ(static_cast<std::int64_t>(Mpg123(At("cbr.mp3"), false).size()), count * 1152 * 2);

  // Cut in half, the file holds fewer frames than its tag claims: the exact length is
  // what is there, as reading through finds it.
  const Bytes half(cbr.begin(), cbr.begin() + static_cast<std::ptrdiff_t>(cbr.size() / 2));
  const FileFormat* mp3 = FormatForPath("x.mp3");
  ASSERT_NE(mp3, nullptr);
  const std::int32_t walked = mp3->exact_length(*OpenBytes(half));
  EXPECT_LT(walked, count * 1152);
  reader = OpenBytes(half);
  Drain(*reader);
  EXPECT_EQ(walked, reader->Length());

  // A count of 0, or one the bytes cannot hold, falls back to the estimate.
  const double average = 144.0 * 128000 / 44100;
  for (const std::uint32_t bad : {0u, 0xFFFFFFFFu}) {
    Bytes patched = cbr;
    WriteBe32(&patched[44], bad);
    EXPECT_EQ(OpenBytes(patched)->Length(), Estimate(static_cast<double>(cbr.size() - 417), average, 1152)) << bad;
  }

  // Without a tag: the estimate, then what decoding to the end delivers (every frame, the
  // last 128 bytes too as they are no ID3v1 tag), as mpg123 decodes it.
  const Bytes notag = ReadBytes(At("notag.mp3"));
  reader = Open("notag.mp3", true);
  EXPECT_EQ(reader->Length(), Estimate(static_cast<double>(notag.size()), average, 1152));
  const std::vector<std::int32_t> straight = Drain(*reader);
  const std::int64_t decoded = static_cast<std::int64_t>(Mpg123(At("notag.mp3"), false).size()) / 2;
  EXPECT_EQ(reader->Length(), decoded);
  EXPECT_EQ(static_cast<std::int64_t>(straight.size()), 2 * decoded);
  // The format table's exact length walks the headers instead.
  const FileFormat* format = FormatForPath("x.mp3");
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(format->exact_length(*Open("notag.mp3", false)), decoded);

  // An ID3v1 tag at the end is left out; the file then reads as before.
  Bytes tagged = notag;
  Bytes id3v1(128, 0x20);
  std::memcpy(id3v1.data(), "TAG", 3);
  tagged.insert(tagged.end(), id3v1.begin(), id3v1.end());
  reader = OpenBytes(tagged);
  EXPECT_EQ(reader->Length(), Estimate(static_cast<double>(notag.size()), average, 1152));
  EXPECT_EQ(Drain(*reader), straight);

  // A file under 128 bytes holds no audio, whatever frames it holds; from 128 bytes on
  // the same frames are read (8 frames of 24 bytes estimated as floor(200 / 24 + 0.9) = 9).
  reader = OpenBytes(SmallFrames(5, 127));
  EXPECT_EQ(reader->status, kStatusCorrupt);
  EXPECT_EQ(reader->Length(), 0);
  reader = OpenBytes(SmallFrames(8, 200));
  ASSERT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(reader->rate, 24000);
  EXPECT_EQ(reader->channels, 1);
  EXPECT_EQ(reader->Length(), 9 * 576);
  Drain(*reader);
  EXPECT_EQ(reader->Length(), 8 * 576);
}

TEST_F(Mp3FileTest, RefusalsAndWhatComesBeforeTheAudio) {
  const FileFormat* format = FormatForPath("song.MP3");
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(format->name, "MP3");
  EXPECT_EQ(format->component, "mp3el");  // written by the encoder component
  // Free format and Layer II are no layer-3 stream we read.
  for (const char* name : {"free.mp3", "layer2.mp3"}) {
    SourceRef reader = format->open(OpenFileBytes(At(name)), {});
    EXPECT_EQ(reader->status, kStatusCorrupt) << name;
    EXPECT_EQ(reader->Length(), 0) << name;
    EXPECT_EQ(format->open_error(reader->status, "a.mp3"),
              "Cannot open the file \"a.mp3\". It is possibly either corrupt or not a true layer-3 MPEG file.");
  }
  SourceRef missing = format->open(OpenFileBytes(At("missing.mp3")), {});
  EXPECT_EQ(missing->status, kStatusCannotOpen);
  EXPECT_EQ(format->open_error(missing->status, "a.mp3"),
            "Cannot open the file \"a.mp3\". Check it exists and you have read access.");

  const Bytes vbr = ReadBytes(At("vbr.mp3"));
  const std::vector<std::int32_t> plain = Drain(*OpenBytes(vbr));
  ASSERT_FALSE(plain.empty());

  // An ID3v2.4 tag (with footer) holding a picture of more than 64 KB is passed over.
  const std::size_t picture = 70000;
  Bytes body = {'A', 'P', 'I', 'C', 0, 0, 0, 0, 0, 0, 0};
  const std::string mime = "image/png";
  body.insert(body.end(), mime.begin(), mime.end());
  body.insert(body.end(), {0, 3, 0});
  for (std::size_t i = 0; i < picture; ++i) body.push_back(static_cast<std::uint8_t>(i * 7919 >> 3));
  const std::size_t frame_size = body.size() - 10;
  for (int i = 0; i < 4; ++i) body[4 + i] = static_cast<std::uint8_t>((frame_size >> (21 - 7 * i)) & 0x7F);
  Bytes size;
  for (int i = 0; i < 4; ++i) size.push_back(static_cast<std::uint8_t>((body.size() >> (21 - 7 * i)) & 0x7F));
  Bytes tagged = {'I', 'D', '3', 4, 0, 0x10};
  tagged.insert(tagged.end(), size.begin(), size.end());
  tagged.insert(tagged.end(), body.begin(), body.end());
  tagged.insert(tagged.end(), {'3', 'D', 'I', 4, 0, 0x10});
  tagged.insert(tagged.end(), size.begin(), size.end());
  tagged.insert(tagged.end(), vbr.begin(), vbr.end());
  EXPECT_EQ(Drain(*OpenBytes(tagged)), plain);

  // Junk that looks like a header of another stream (MPEG-2, 24 kHz, mono) before the
  // audio does not fix the stream: no header follows it at its frame length.
  Bytes junk = {0xFF, 0xF3, 0x14, 0xC4};
  for (int i = 0; i < 300; ++i) junk.push_back(static_cast<std::uint8_t>(i * 37 + 11) & 0x7F);
  junk.insert(junk.end(), vbr.begin(), vbr.end());
  SourceRef reader = OpenBytes(junk);
  EXPECT_EQ(reader->rate, 44100);
  EXPECT_EQ(reader->channels, 2);
  EXPECT_EQ(Drain(*reader), plain);
}

TEST_F(Mp3FileTest, DecodesAsMpg123WithAndWithoutGaplessTrimming) {
  for (const char* name : {"cbr.mp3", "vbr.mp3", "mono22.mp3"}) {
    for (const bool gapless : {false, true}) {
      SCOPED_TRACE(std::string(name) + (gapless ? " gapless" : " every frame"));
      const std::string path = At(name);
      SourceRef reader = Open(name, gapless);
      ASSERT_EQ(reader->status, kStatusOk);
      ASSERT_EQ(Mp3ReaderSummary(*reader)->gapless, gapless);
      if (gapless && reader->rate == 44100) {
        EXPECT_EQ(reader->Length(), kSourceFrames);
      }
      ExpectAccurate(Drain(*reader), Mpg123(path, gapless), kDecodedFullScale, name);
    }
  }
  // The same through the format table: MP3Gapless is on without settings.
  SourceRef reader = OpenFormatReader(At("cbr.mp3"));
  EXPECT_EQ(reader->Length(), kSourceFrames);
}

TEST_F(Mp3FileTest, SeekThenReadEqualsReadingStraightThrough) {
  for (const bool gapless : {false, true}) {
    SourceRef reader = Open("vbr.mp3", gapless);
    const std::vector<std::int32_t> straight = Drain(*reader);
    const std::int32_t length = reader->Length();
    ASSERT_EQ(static_cast<std::int32_t>(straight.size() / 2), length);
    std::vector<std::int32_t> piece(2 * 3000);
    for (const std::int32_t at : {length / 2, 0, 1151, 5 * 1152 + 17, length - 2000, 40000, 1}) {
      reader->Seek(at);
      ASSERT_EQ(reader->Position(), at);
      reader->Read(piece.data(), 3000);
      const std::int32_t valid = std::min(3000, length - at);
      std::vector<std::int32_t> ours(piece.begin(), piece.begin() + 2 * valid);
      std::vector<float> expected(straight.begin() + 2 * at, straight.begin() + 2 * (at + valid));
      for (float& sample : expected) sample /= kDecodedFullScale;
      ExpectAccurate(ours, expected, kDecodedFullScale, "seek to " + std::to_string(at));
      // Past the end comes silence.
      for (std::int32_t i = 2 * valid; i < 6000; ++i) ASSERT_EQ(piece[static_cast<std::size_t>(i)], 0);
    }
  }
}

TEST_F(Mp3FileTest, Mp3InWavDecodesAsMpg123DecodesItsFrames) {
  const testing::WavParts parts = testing::ParseWav(ReadBytes(At("in.wav")));
  ASSERT_TRUE(parts.complete);
  ASSERT_EQ(parts.format.tag, kTagMpegLayer3);
  ASSERT_EQ(parts.format.extra.size(), 12u);
  const std::string frames = At("frames.mp3");
  WriteBytes(frames, parts.data);
  const std::vector<float> expected = Mpg123(frames, false);

  // With the MPEGLAYER3WAVEFORMAT record and with the bare one; 16-bit samples carry at
  // most half a step (2^-16) more error, and their rounding noise adds in quadrature.
  WaveFormat bare = parts.format;
  bare.extra.clear();
  for (const WaveFormat& format : {parts.format, bare}) {
    SourceRef reader = OpenWavReader(MemoryBytes(testing::MinimalWav(format, parts.data)));
    ASSERT_EQ(reader->status, kStatusOk);
    const std::vector<std::int32_t> ours = Drain(*reader);
    ExpectAccurate(ours, expected, 16 * 32768.0, "in WAV", std::pow(2.0, -15) / std::sqrt(12.0) * 0.5,
                   std::pow(2.0, -16));
    // A seek lands where reading straight through does.
    reader->Seek(30000);
    std::vector<std::int32_t> piece(2 * 1000);
    reader->Read(piece.data(), 1000);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), ours.begin() + 2 * 30000));
  }
  // Another identifier in the record is not MPEG audio.
  WaveFormat other = parts.format;
  other.extra[0] = 2;
  EXPECT_EQ(OpenWavReader(MemoryBytes(testing::MinimalWav(other, parts.data)))->status, kStatusCodecMissing);
}

// Seeds for the format readers' fuzz target: small MP3 files of every kind made here.
class Mp3FormatSeeds : public Mp3FileTest {};

TEST_F(Mp3FormatSeeds, SmallFilesOpenAsTheyShould) {
  const std::string small = At("small.mp3");
  // The first 3 frames of the constant and the variable bit-rate file, and tiny frames.
  for (const char* name : {"cbr.mp3", "vbr.mp3", "mono22.mp3"}) {
    Bytes bytes = ReadBytes(At(name));
    bytes.resize(1400);
    const std::string seed = At(std::string("seed-") + name);
    WriteBytes(seed, bytes);
    EXPECT_EQ(OpenMp3Reader(OpenFileBytes(seed), true)->status, kStatusOk) << name;
    testing::SaveFormatFuzzSeed(seed);
  }
  WriteBytes(small, SmallFrames(8, 200));
  EXPECT_EQ(OpenMp3Reader(OpenFileBytes(small), true)->status, kStatusOk);
  testing::SaveFormatFuzzSeed(small);

  // The WAV reader's: MP3 in WAV with and without the MPEGLAYER3WAVEFORMAT record.
  testing::WavParts parts = testing::ParseWav(ReadBytes(At("in.wav")));
  ASSERT_TRUE(parts.complete);
  parts.data.resize(std::min<std::size_t>(parts.data.size(), 1500));
  WaveFormat bare = parts.format;
  bare.extra.clear();
  const char* corpus = std::getenv("SONAVEL_FUZZ_SEEDS");
  for (const WaveFormat& format : {parts.format, bare}) {
    const Bytes wav = testing::MinimalWav(format, parts.data);
    EXPECT_EQ(OpenWavReader(MemoryBytes(wav))->status, kStatusOk);
    if (corpus != nullptr && *corpus != '\0')
      WriteBytes(JoinPath(corpus, "mp3-in-wav-" + std::to_string(format.extra.size())), wav);
  }
}

}  // namespace
}  // namespace sonavel::mp3
