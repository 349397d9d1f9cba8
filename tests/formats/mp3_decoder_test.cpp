// The Layer III frame decoder against the mpg123 program on files that lame makes, the
// standard's code tables, and damaged or incomplete input.

#include "formats/mp3_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "formats/mp3_header.h"
#include "formats/mp3_tables.h"
#include "wav_fixture.h"

namespace sonavel::mp3 {
namespace {

using sonavel::testing::FormatTest;
using sonavel::testing::Quote;
using sonavel::testing::ReadBytes;
using sonavel::testing::RunCommand;

// The code words of a table text, as (bits, length).
std::vector<std::pair<std::uint32_t, int>> Codes(const char* text) {
  std::vector<std::pair<std::uint32_t, int>> codes;
  std::uint32_t bits = 0;
  int length = 0;
  for (const char* p = text;; ++p) {
    if (*p == '0' || *p == '1') {
      bits = (bits << 1) | static_cast<std::uint32_t>(*p - '0');
      ++length;
    } else {
      if (length > 0) codes.emplace_back(bits, length);
      bits = 0, length = 0;
      if (*p == '\0') break;
    }
  }
  return codes;
}

// Every code table holds one word per value, no word is the start of another, and the
// words fill the code space exactly (Kraft sum 1): a mistyped bit breaks one of these.
void ExpectCompletePrefixCode(const char* text, std::size_t values) {
  const auto codes = Codes(text);
  ASSERT_EQ(codes.size(), values);
  std::uint64_t kraft = 0;  // in units of 2^-24
  for (std::size_t i = 0; i < codes.size(); ++i) {
    ASSERT_LE(codes[i].second, 24);
    kraft += std::uint64_t{1} << (24 - codes[i].second);
    for (std::size_t j = 0; j < codes.size(); ++j) {
      if (i == j || codes[j].second < codes[i].second) continue;
      EXPECT_NE(codes[j].first >> (codes[j].second - codes[i].second), codes[i].first)
          << "word " << i << " starts word " << j;
    }
  }
  EXPECT_EQ(kraft, std::uint64_t{1} << 24);
}

TEST(Mp3TablesTest, CodeTablesAreCompletePrefixCodesAndBandsCoverTheGranule) {
  int used = 0;
  for (int t = 0; t < kPairTableCount; ++t) {
    SCOPED_TRACE("table " + std::to_string(t));
    const PairCodeTable& table = kPairTables[t];
    if (table.size < 2) continue;
    ++used;
    ExpectCompletePrefixCode(table.codes, static_cast<std::size_t>(table.size * table.size));
  }
  EXPECT_EQ(used, 29);  // 0 codes nothing; 4 and 14 are not used
  EXPECT_EQ(kPairTables[23].linbits, 13);
  EXPECT_EQ(kPairTables[31].linbits, 13);
  for (const char* quad : kQuadCodes) ExpectCompletePrefixCode(quad, 16);

  for (int r = 0; r < kRateTables; ++r) {
    int long_sum = 0, short_sum = 0;
    for (int b = 0; b < kLongBands; ++b) long_sum += kLongBandWidths[r][b];
    for (int b = 0; b < kShortBands; ++b) short_sum += kShortBandWidths[r][b];
    EXPECT_EQ(long_sum, 576) << "rate table " << r;
    EXPECT_EQ(short_sum, 192) << "rate table " << r;
  }
}

// A whole frame at `at`, or nothing.
std::optional<FrameHeader> HeaderAt(const std::vector<std::uint8_t>& file, std::size_t at) {
  if (at + kHeaderBytes > file.size()) return std::nullopt;
  return ParseFrameHeader(&file[at]);
}

// The frames of an MP3 file, as a minimal reader finds them: after an ID3v2 tag, each
// header followed by its frame; the encoder's Xing/Info frame is no audio.
struct Frame {
  FrameHeader header;
  std::size_t offset;
  std::size_t bytes;
};
std::vector<Frame> Frames(const std::vector<std::uint8_t>& file) {
  std::vector<Frame> frames;
  std::size_t at = 0;
  if (file.size() >= 10 && std::memcmp(file.data(), "ID3", 3) == 0)
    at = 10 + ((file[6] & 0x7F) << 21 | (file[7] & 0x7F) << 14 | (file[8] & 0x7F) << 7 |
               (file[9] & 0x7F));
  while (at + kHeaderBytes <= file.size()) {
    const auto header = HeaderAt(file, at);
    if (!header) {
      ++at;
      continue;
    }
    const std::size_t bytes = std::min<std::size_t>(header->frame_bytes, file.size() - at);
    // The tag follows the side information; encoders leave room for the CRC word or not.
    bool info = false;
    for (const int offset : {header->main_data_offset(), 4 + header->side_info_bytes}) {
      const std::size_t tag = at + static_cast<std::size_t>(offset);
      info = info ||
             (frames.empty() && tag + 4 <= file.size() &&
              (std::memcmp(&file[tag], "Xing", 4) == 0 || std::memcmp(&file[tag], "Info", 4) == 0));
    }
    if (!info) frames.push_back({*header, at, bytes});
    at += bytes;
  }
  return frames;
}

// Our samples of every frame, in full-scale units (the decoder's 524288 = 1.0).
std::vector<float> DecodeAll(const std::vector<std::uint8_t>& file, int* failures = nullptr) {
  FrameDecoder decoder;
  std::vector<float> samples;
  std::vector<std::int32_t> out;
  for (const Frame& frame : Frames(file)) {
    out.assign(static_cast<std::size_t>(frame.header.samples_per_frame * frame.header.channels), 0);
    if (!decoder.Decode(frame.header, &file[frame.offset], frame.bytes, out.data()) && failures)
      ++*failures;
    for (std::int32_t s : out) samples.push_back(static_cast<float>(s) / kDecodedFullScale);
  }
  return samples;
}

class Mp3DecoderTest : public FormatTest {
 protected:
  void SetUp() override {
    FormatTest::SetUp();
    ASSERT_EQ(RunCommand("command -v lame >/dev/null && command -v mpg123 >/dev/null"), 0)
        << "the MP3 decoder tests need the lame and mpg123 programs (scripts/deps.sh installs "
           "them)";
  }

  // An MP3 file made by lame with `lame_options` from `synth` (sox synth arguments; no
  // dither, so the file is the same every time) at `rate` with `channels`.
  std::string Encode(const std::string& name, int rate, int channels, const std::string& synth,
                     const std::string& lame_options) {
    const std::string wav = Path(name + ".wav"), mp3 = Path(name + ".mp3");
    Sox("-D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " +
        Quote(wav) + " synth " + synth);
    EXPECT_EQ(RunCommand("lame --quiet " + lame_options + " " + Quote(wav) + " " + Quote(mp3)), 0)
        << lame_options;
    return mp3;
  }

  // mpg123's decoding of every frame, as floats.
  std::vector<float> Reference(const std::string& mp3) {
    const std::string raw = Path("reference.f32");
    EXPECT_EQ(RunCommand("mpg123 -q --no-gapless -e f32 -s " + Quote(mp3) + " > " + Quote(raw)), 0);
    const std::vector<std::uint8_t> bytes = ReadBytes(raw);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
  }

  // Our decoding matches mpg123's within the accuracy the standard asks of a full-accuracy
  // decoder: RMS of the difference below 2^-15/sqrt(12), no difference above 2^-14.
  void ExpectMatchesMpg123(const std::string& mp3) {
    int failures = 0;
    const std::vector<float> ours = DecodeAll(ReadBytes(mp3), &failures);
    const std::vector<float> theirs = Reference(mp3);
    EXPECT_EQ(failures, 0);
    ASSERT_EQ(ours.size(), theirs.size());
    ASSERT_GT(ours.size(), 20000u);
    double sum = 0, peak = 0, signal = 0;
    std::size_t worst = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
      const double d = static_cast<double>(ours[i]) - theirs[i];
      sum += d * d;
      signal = std::max(signal, std::fabs(static_cast<double>(theirs[i])));
      if (std::fabs(d) > peak) peak = std::fabs(d), worst = i;
    }
    const double rms = std::sqrt(sum / static_cast<double>(ours.size()));
    EXPECT_LT(rms, std::exp2(-15) / std::sqrt(12.0));
    EXPECT_LE(peak, std::exp2(-14))
        << "at sample " << worst << ": " << ours[worst] << " vs " << theirs[worst];
    EXPECT_GT(signal, 0.1);  // the comparison saw sound, not silence
  }
};

TEST_F(Mp3DecoderTest, MatchesMpg123AtEveryRateModeAndBitRateKind) {
  const std::string sweep = "4 sine 60/15000 sine 15000/80 vol 0.7";
  const std::string noise = "4 pinknoise sine 300:6000 vol 0.6";
  const std::string chirp = "4 sine 100:12000 vol 0.8";
  struct Case {
    const char* name;
    int rate;
    int channels;
    std::string synth;
    const char* options;
  };
  const Case cases[] = {
      // MPEG-1: plain stereo, joint (mid/side) with VBR, mono with CRC words.
      {"s44", 44100, 2, sweep, "-m s -b 128"},
      {"j48", 48000, 2, noise, "-m j -V 2"},
      {"m32", 32000, 1, chirp, "-m m -b 64 -p"},
      {"d44", 44100, 2, sweep, "-m d -b 192"},
      // MPEG-2 at the half rates: ABR, CBR, VBR.
      {"j22", 22050, 2, noise, "-m j --abr 64"},
      {"s24", 24000, 2, sweep, "-m s -b 96"},
      {"m16", 16000, 1, noise, "-m m -V 5"},
      // MPEG-2.5 at the quarter rates.
      {"j11", 11025, 2, sweep, "-m j -b 32"},
      {"m12", 12000, 1, chirp, "-m m -b 24 -p"},
      {"j8", 8000, 2, noise, "-m j -b 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectMatchesMpg123(Encode(c.name, c.rate, c.channels, c.synth, c.options));
  }
}

// Sharp attacks make the encoder switch to short blocks (and to start and stop blocks
// around them), at the full rate and at a half rate.
TEST_F(Mp3DecoderTest, MatchesMpg123WithShortBlocks) {
  ExpectMatchesMpg123(Encode("attacks44", 44100, 2, "4 square 3 square 5 vol 0.5", "-m j -b 160"));
  ExpectMatchesMpg123(Encode("attacks22", 22050, 1, "4 square 4 vol 0.5", "-m m -b 48"));
}

// lame writes neither intensity stereo nor mixed blocks; the test makes both from its files
// by changing header and side-information bits, and mpg123 decodes the same bits.
TEST_F(Mp3DecoderTest, MatchesMpg123OnIntensityStereoAndMixedBlocks) {
  // Intensity: every joint-stereo frame also signals intensity stereo. MPEG-1 reads the
  // scalefactors alike either way, so the right channel's scalefactors above its last
  // value become intensity positions (7 an illegal one). Fading in and out keeps the
  // encoder from short blocks.
  std::vector<std::uint8_t> file =
      ReadBytes(Encode("intensity", 44100, 2,
                       "4 sine 60/15000 sine 15000/80 vol 0.7 fade q 0.5 4 0.5", "-m j -V 2"));
  int edited = 0;
  for (const Frame& frame : Frames(file)) {
    if (frame.header.mode != ChannelMode::kJointStereo) continue;
    file[frame.offset + 3] |= 0x10;
    ++edited;
  }
  ASSERT_GT(edited, 100);
  sonavel::testing::WriteBytes(Path("intensity-edited.mp3"), file);
  ExpectMatchesMpg123(Path("intensity-edited.mp3"));

  // Mixed blocks: short-block granules of mono files whose scalefactors take no bits
  // (scalefac_compress 0) are marked mixed; their Huffman data stay as they were.
  auto bits = [](const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
    int value = 0;
    for (std::size_t i = at; i < at + static_cast<std::size_t>(count); ++i)
      value = value << 1 | ((bytes[i >> 3] >> (7 - (i & 7))) & 1);
    return value;
  };
  for (const auto& [rate, options] :
       {std::pair{44100, "-m m -b 96"}, std::pair{22050, "-m m -b 48"}}) {
    SCOPED_TRACE(rate);
    file =
        ReadBytes(Encode("mixed" + std::to_string(rate), rate, 1, "6 square 7 sine 500 vol 0.4", options));
    edited = 0;
    for (const Frame& frame : Frames(file)) {
      const bool lsf = frame.header.lower_sampling();
      // After main_data_begin, the private bits (and the scfsi bits of MPEG-1).
      std::size_t at =
          (frame.offset + static_cast<std::size_t>(frame.header.side_info_offset())) * 8 +
          (lsf ? 8 + 1 : 9 + 5 + 4);
      for (int gr = 0; gr < (lsf ? 1 : 2); ++gr) {
        const int compress_bits = lsf ? 9 : 4;
        const std::size_t switching = at + 12 + 9 + 8 + static_cast<std::size_t>(compress_bits);
        if (bits(file, switching, 1) && bits(file, switching + 1, 2) == 2 &&
            bits(file, switching - static_cast<std::size_t>(compress_bits), compress_bits) == 0) {
          file[(switching + 3) >> 3] |= static_cast<std::uint8_t>(0x80 >> ((switching + 3) & 7));
          ++edited;
        }
        at = switching + 1 + 22 + (lsf ? 2 : 3);
      }
    }
    ASSERT_GT(edited, 10);
    sonavel::testing::WriteBytes(Path("mixed-edited.mp3"), file);
    ExpectMatchesMpg123(Path("mixed-edited.mp3"));
  }
}

// After a reset, a frame whose main data begins in frames not fed decodes as silence and
// reports it; decoding then recovers. Cut, corrupted and random frames never read or
// write outside their buffers (the sanitizer build runs this).
TEST_F(Mp3DecoderTest, MissingMainDataIsSilenceAndDamageIsContained) {
  const std::vector<std::uint8_t> file =
      ReadBytes(Encode("damage", 44100, 2, "3 pinknoise vol 0.5", "-m j -b 96"));
  const std::vector<Frame> frames = Frames(file);
  ASSERT_GT(frames.size(), 50u);

  FrameDecoder decoder;
  std::vector<std::int32_t> out(1152 * 2);
  std::size_t with_reservoir = 0;  // a frame past the start that borrows from earlier ones
  for (std::size_t i = 10; i < frames.size() && !with_reservoir; ++i) {
    const std::uint8_t* side = &file[frames[i].offset + frames[i].header.side_info_offset()];
    if ((side[0] << 1 | side[1] >> 7) > 0) with_reservoir = i;
  }
  ASSERT_GT(with_reservoir, 0u);
  for (std::size_t i = 0; i < with_reservoir; ++i)
    decoder.Decode(frames[i].header, &file[frames[i].offset], frames[i].bytes, out.data());
  decoder.Reset();
  std::fill(out.begin(), out.end(), 12345);
  const Frame& first = frames[with_reservoir];
  EXPECT_FALSE(decoder.Decode(first.header, &file[first.offset], first.bytes, out.data()));
  EXPECT_EQ(std::count(out.begin(), out.end(), 0), static_cast<std::ptrdiff_t>(out.size()));
  bool recovered = false;
  for (std::size_t i = with_reservoir + 1; i < with_reservoir + 6; ++i)
    recovered =
        decoder.Decode(frames[i].header, &file[frames[i].offset], frames[i].bytes, out.data());
  EXPECT_TRUE(recovered);
  EXPECT_NE(std::count(out.begin(), out.end(), 0), static_cast<std::ptrdiff_t>(out.size()));

  // Damage: frames cut anywhere, bytes after the header randomized, counts set to their
  // largest values. Every output sample stays within the decoder's limit.
  std::mt19937 random(7);
  decoder.Reset();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    std::vector<std::uint8_t> bytes(&file[frames[i].offset],
                                    &file[frames[i].offset] + frames[i].bytes);
    switch (i % 4) {
      case 0:
        bytes.resize(random() % bytes.size());
        break;
      case 1:
        for (std::size_t b = 4; b < bytes.size(); ++b)
          bytes[b] = static_cast<std::uint8_t>(random());
        break;
      case 2:
        for (std::size_t b = 4; b < 4 + 32; ++b) bytes[b] = 0xFF;
        break;
      default:
        break;
    }
    decoder.Decode(frames[i].header, bytes.data(), bytes.size(), out.data());
    for (std::int32_t s : out) ASSERT_LE(std::abs(s), kDecodedPeak);
  }
}

}  // namespace
}  // namespace sonavel::mp3
