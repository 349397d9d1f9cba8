#include "formats/codec_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "formats/g711.h"
#include "sox_peer.h"

namespace sonavel {
namespace {

using testing::Le16;
using testing::MinimalWav;
using testing::ParseWav;
using testing::Samples16;
using testing::Quote;
using testing::ReadBytes;
using testing::WavParts;
using testing::WriteBytes;

constexpr std::size_t kReaderFrames = 8192;

// ---------------------------------------------------------------------------------------
// Drivers that use a stream the way the WAV reader and writer do. Every call gets buffers
// of exactly the sizes it is told (so the sanitizers see any overrun) and is checked for
// staying within them.

struct Checked {
  ConvertResult result;
  std::vector<std::uint8_t> output;
};

Checked CallChecked(CodecStream& stream, const std::vector<std::uint8_t>& pending,
                    std::size_t destination_bytes, unsigned flags) {
  constexpr std::uint8_t kGuard = 0xA5;
  std::vector<std::uint8_t> source(pending);  // exactly as large as what is passed
  std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[destination_bytes + 16]);
  std::memset(destination.get(), kGuard, destination_bytes + 16);
  Checked checked;
  checked.result = stream.Convert(source.empty() ? nullptr : source.data(), source.size(),
                                  destination.get(), destination_bytes, flags);
  EXPECT_LE(checked.result.source_used, pending.size());
  EXPECT_LE(checked.result.destination_used, destination_bytes);
  for (std::size_t i = destination_bytes; i < destination_bytes + 16; ++i)
    EXPECT_EQ(destination[i], kGuard) << "written beyond the destination";
  const std::size_t used = std::min(checked.result.destination_used, destination_bytes);
  checked.output.assign(destination.get(), destination.get() + used);
  return checked;
}

struct Decoded {
  std::vector<std::int16_t> samples;
  int bad_answers = 0;  // answers with ok == false
};

// Decodes like the WAV reader: a source buffer of SourceSizeFor(8192 frames), topped up
// with at most `top_up` bytes at a time; block-aligned passes, then one end pass when the
// data is exhausted and no output came; a bad answer throws away a quarter of the pending
// bytes.
Decoded DecodeLikeReader(const WaveFormat& coded, const std::vector<std::uint8_t>& data,
                         std::size_t top_up = std::numeric_limits<std::size_t>::max()) {
  Decoded decoded;
  std::unique_ptr<CodecStream> stream = OpenCodecStream(coded, DefaultFormat(coded.rate, coded.channels));
  if (stream == nullptr) {
    ADD_FAILURE() << "no decoder for tag " << coded.tag;
    return decoded;
  }
  const std::size_t frame_bytes = 2u * coded.channels;
  const std::size_t source_size = stream->SourceSizeFor(kReaderFrames * frame_bytes);
  if (source_size == 0) {
    ADD_FAILURE() << "source size 0";
    return decoded;
  }
  const std::size_t destination_size =
      std::max(kReaderFrames * frame_bytes, stream->DestinationSizeFor(source_size));
  stream->Convert(nullptr, 0, nullptr, 0, kConvertStart);
  std::vector<std::uint8_t> pending;
  std::size_t offset = 0;
  for (int round = 0; round < 1000000; ++round) {
    const std::size_t added =
        std::min({source_size - pending.size(), top_up, data.size() - offset});
    pending.insert(pending.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + added));
    offset += added;
    const bool exhausted = offset == data.size();
    Checked call = CallChecked(*stream, pending, destination_size, kConvertBlockAlign);
    bool finished = false;
    if (call.result.ok && call.result.destination_used == 0 && exhausted) {
      call = CallChecked(*stream, pending, destination_size, kConvertEnd);
      finished = call.result.ok;
    }
    if (!call.result.ok) {
      ++decoded.bad_answers;
      EXPECT_EQ(call.result.destination_used, 0u);
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(1, pending.size() / 4)));
      continue;
    }
    EXPECT_EQ(call.output.size() % frame_bytes, 0u);
    const std::vector<std::int16_t> samples = Samples16(call.output);
    decoded.samples.insert(decoded.samples.end(), samples.begin(), samples.end());
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(call.result.source_used));
    if (finished) return decoded;
    if (added == 0 && call.result.source_used == 0 && call.result.destination_used == 0 && !exhausted) {
      ADD_FAILURE() << "the decoder makes no progress";
      return decoded;
    }
  }
  ADD_FAILURE() << "the decoder does not finish";
  return decoded;
}

// Encodes like the WAV writer: a source buffer of 8192 frames, a destination of
// DestinationSizeFor(that), block-aligned passes, one end pass for the rest.
std::vector<std::uint8_t> EncodeLikeWriter(const WaveFormat& coded,
                                           const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> encoded;
  std::unique_ptr<CodecStream> stream = OpenCodecStream(DefaultFormat(coded.rate, coded.channels), coded);
  if (stream == nullptr) {
    ADD_FAILURE() << "no encoder for tag " << coded.tag;
    return encoded;
  }
  const std::vector<std::uint8_t> data = Le16(samples);
  const std::size_t source_size = kReaderFrames * 2u * coded.channels;
  const std::size_t destination_size = stream->DestinationSizeFor(source_size);
  std::vector<std::uint8_t> pending;
  std::size_t offset = 0;
  for (int round = 0; round < 1000000; ++round) {
    const std::size_t added = std::min(source_size - pending.size(), data.size() - offset);
    pending.insert(pending.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + added));
    offset += added;
    Checked call = CallChecked(*stream, pending, destination_size, kConvertBlockAlign);
    EXPECT_TRUE(call.result.ok);
    if (offset == data.size() && call.result.source_used == 0) {
      call = CallChecked(*stream, pending, destination_size, kConvertEnd);
      EXPECT_TRUE(call.result.ok);
      EXPECT_EQ(call.result.source_used, pending.size());
      encoded.insert(encoded.end(), call.output.begin(), call.output.end());
      return encoded;
    }
    if (added == 0 && call.result.source_used == 0) {
      ADD_FAILURE() << "the encoder makes no progress";
      return encoded;
    }
    encoded.insert(encoded.end(), call.output.begin(), call.output.end());
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(call.result.source_used));
  }
  ADD_FAILURE() << "the encoder does not finish";
  return encoded;
}

double SnrDb(const std::vector<std::int16_t>& original, const std::vector<std::int16_t>& coded) {
  double signal = 0, noise = 0;
  for (std::size_t i = 0; i < original.size(); ++i) {
    signal += double(original[i]) * original[i];
    noise += (double(coded[i]) - original[i]) * (double(coded[i]) - original[i]);
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

// ---------------------------------------------------------------------------------------
// Format records, the chooser model and names.

struct Encoding {
  const char* name;
  const char* sox;  // sox output options
  std::uint16_t tag;
  std::uint16_t bits;
};
constexpr Encoding kFloat32{"float32", "-e float -b 32", kTagFloat, 32};
constexpr Encoding kFloat64{"float64", "-e float -b 64", kTagFloat, 64};
constexpr Encoding kALaw{"alaw", "-e a-law", kTagALaw, 8};
constexpr Encoding kMuLaw{"mulaw", "-e u-law", kTagMuLaw, 8};
constexpr Encoding kIma{"ima", "-e ima-adpcm", kTagImaAdpcm, 4};
constexpr Encoding kMs{"ms", "-e ms-adpcm", kTagMsAdpcm, 4};

class CodecSoxTest : public testing::SoxPeerTest {
 protected:
  // A 16-bit test signal from sox: a sweep and a tone mixed with noise at -3 dB, 1000
  // frames of silence, then a full-scale square wave; `frames` frames in all.
  std::string Signal(std::uint32_t rate, int channels, std::size_t frames) {
    const std::string name = "signal-" + std::to_string(rate) + "-" + std::to_string(channels) +
                             "-" + std::to_string(frames) + ".wav";
    const std::string format = "-R -r " + std::to_string(rate) + " -c " + std::to_string(channels);
    const std::size_t square = frames / 4;
    const std::size_t mix = frames - square - 1000;
    Sox(format + " -n -b 16 " + Quote(Path("mix.wav")) + " synth " + std::to_string(mix) +
        "s sine 100-3000 sine 440 synth " + std::to_string(mix) + "s whitenoise mix gain -3 pad 0 1000s");
    Sox(format + " -n -b 16 " + Quote(Path("square.wav")) + " synth " + std::to_string(square) + "s square 50");
    Sox("-D " + Quote(Path("mix.wav")) + " " + Quote(Path("square.wav")) + " -b 16 " + Quote(Path(name)));
    return Path(name);
  }
  // The signal's samples (parsed from sox's 16-bit file).
  std::vector<std::int16_t> SignalSamples(const std::string& path) {
    WavParts parts = ParseWav(ReadBytes(path));
    EXPECT_TRUE(parts.complete);
    EXPECT_EQ(parts.format.bits, 16);
    return Samples16(parts.data);
  }
  // sox converts `source` to `encoding`; the file's fmt and data.
  WavParts SoxEncode(const std::string& source, const Encoding& encoding, const std::string& name) {
    Sox("-D " + Quote(source) + " " + encoding.sox + " " + Quote(Path(name)));
    WavParts parts = ParseWav(ReadBytes(Path(name)));
    EXPECT_TRUE(parts.complete) << name;
    return parts;
  }
};

// sox's fmt chunk for each writable format is exactly the record SuggestFormat builds.
TEST_F(CodecSoxTest, SuggestedRecordsAreThoseSoxWrites) {
  const std::uint32_t rates[] = {8000, 11025, 16000, 22015, 22016, 22050, 32000, 44100, 48000, 96000, 192000};
  for (const Encoding& encoding : {kFloat32, kFloat64, kALaw, kMuLaw, kIma, kMs}) {
    for (std::uint32_t rate : rates) {
      for (int channels : {1, 2, 6}) {
        const std::string file = Path("fmt.wav");
        Sox("-r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -n " +
            encoding.sox + " " + Quote(file) + " trim 0 10s");
        const WavParts parts = ParseWav(ReadBytes(file));
        ASSERT_TRUE(parts.complete);
        EXPECT_EQ(SuggestFormat(encoding.tag, rate, static_cast<std::uint16_t>(channels), encoding.bits),
                  parts.format)
            << encoding.name << " " << rate << " Hz " << channels << " channels";
      }
    }
  }
}

// Values sox's own records do not cover: block sizes at the edges and plain PCM.
TEST(CodecTableTest, SuggestedRecordsAtTheEdges) {
  EXPECT_EQ(SuggestFormat(kTagMsAdpcm, 22015, 1, 4).block_align, 256);
  EXPECT_EQ(SuggestFormat(kTagMsAdpcm, 22016, 1, 4).block_align, 512);
  // sox lets the 16-bit block align wrap here (192000 Hz, 16 channels); we stay within it.
  const WaveFormat wide = SuggestFormat(kTagMsAdpcm, 192000, 16, 4);
  EXPECT_EQ(wide.block_align, 15 * 256 * 16);
  EXPECT_TRUE(CanConvert(DefaultFormat(192000, 16), wide));
  const WaveFormat widest = SuggestFormat(kTagMsAdpcm, 0xFFFFFFFF, 1, 4);
  EXPECT_EQ(ReadLe16(&widest.extra[0]), 128 * 512 - 12);
  EXPECT_TRUE(CanConvert(widest, DefaultFormat(0xFFFFFFFF, 1)));

  const WaveFormat pcm = SuggestFormat(kTagPcm, 44100, 2, 24);
  EXPECT_EQ(pcm.block_align, 6);
  EXPECT_EQ(pcm.avg_bytes_per_sec, 264600u);
  EXPECT_TRUE(pcm.extra.empty());
  EXPECT_EQ(SuggestFormat(kTagFloat, 48000, 2, 64).block_align, 16);

  // What the table cannot write comes back with tag 0.
  EXPECT_EQ(SuggestFormat(kTagFloat, 44100, 2, 16).tag, 0);
  EXPECT_EQ(SuggestFormat(kTagImaAdpcm, 44100, 2, 3).tag, 0);
  EXPECT_EQ(SuggestFormat(kTagALaw, 44100, 0, 8).tag, 0);
  EXPECT_EQ(SuggestFormat(kTagALaw, 44100, 256, 8).tag, 0);
  EXPECT_EQ(SuggestFormat(kTagMuLaw, 0, 1, 8).tag, 0);
  EXPECT_EQ(SuggestFormat(kTagGsm610, 8000, 2, 0).tag, 0);  // GSM is mono only
  EXPECT_EQ(SuggestFormat(kTagGsm610, 8000, 1, 4).tag, 0);
  EXPECT_EQ(SuggestFormat(kTagMpegLayer3, 44100, 2, 0).tag, 0);
}

TEST(CodecTableTest, ChooserModelListsEveryWritableFormatInTagOrder) {
  const std::vector<FormatChoice> choices = WritableFormats();
  // 7 rates × 2 channel counts × (PCM 8/16/24/32, float 32/64, A-law, µ-law, IMA, MS), and
  // 7 rates of mono GSM.
  ASSERT_EQ(choices.size(), 7u * 2u * 10u + 7u);
  for (std::size_t i = 1; i < choices.size(); ++i) EXPECT_LE(choices[i - 1].tag, choices[i].tag);
  int per_tag[kTagGsm610 + 1] = {};
  for (const FormatChoice& choice : choices) {
    ASSERT_LE(choice.tag, kTagGsm610);
    ++per_tag[choice.tag];
    const WaveFormat format = SuggestFormat(choice.tag, choice.rate, choice.channels, choice.bits);
    EXPECT_EQ(format.tag, choice.tag);
    EXPECT_EQ(format.bits, choice.bits);
    if (choice.tag != kTagPcm) {
      EXPECT_TRUE(CanConvert(DefaultFormat(choice.rate, choice.channels), format));
      EXPECT_TRUE(CanConvert(format, DefaultFormat(choice.rate, choice.channels)));
    }
  }
  EXPECT_EQ(per_tag[kTagPcm], 56);
  EXPECT_EQ(per_tag[kTagFloat], 28);
  for (std::uint16_t tag : {kTagMsAdpcm, kTagALaw, kTagMuLaw, kTagImaAdpcm}) EXPECT_EQ(per_tag[tag], 14);
  EXPECT_EQ(per_tag[kTagGsm610], 7);
  EXPECT_EQ(choices.front().tag, kTagPcm);
  EXPECT_EQ(choices.front().rate, 8000u);
  EXPECT_EQ(choices.back().tag, kTagGsm610);
  EXPECT_EQ(choices.back().rate, 48000u);
  EXPECT_EQ(choices.back().channels, 1);
}

TEST(CodecTableTest, TagNames) {
  EXPECT_EQ(FormatTagName(kTagPcm), "PCM");
  EXPECT_EQ(FormatTagName(kTagMsAdpcm), "Microsoft ADPCM");
  EXPECT_EQ(FormatTagName(kTagFloat), "IEEE Float");
  EXPECT_EQ(FormatTagName(kTagALaw), "A-Law");
  EXPECT_EQ(FormatTagName(kTagMuLaw), "µ-Law");
  EXPECT_EQ(FormatTagName(kTagImaAdpcm), "IMA ADPCM");
  EXPECT_EQ(FormatTagName(kTagGsm610), "GSM 6.10");
  EXPECT_EQ(FormatTagName(kTagMpegLayer3), "MPEG Layer-3");
  EXPECT_EQ(FormatTagName(kTagExtensible), "Extensible");
  EXPECT_EQ(FormatTagName(0x0000), "Format 0x0000");
  EXPECT_EQ(FormatTagName(0xABCD), "Format 0xABCD");
}

// ---------------------------------------------------------------------------------------
// Which conversions the table takes.

TEST(CodecTableTest, ExactlyOneSideIsSixteenBitPcmAndTheOtherAUsableLayout) {
  const WaveFormat pcm = DefaultFormat(22050, 2);
  const WaveFormat ima = SuggestFormat(kTagImaAdpcm, 22050, 2, 4);
  const WaveFormat ms = SuggestFormat(kTagMsAdpcm, 22050, 2, 4);
  const WaveFormat alaw = SuggestFormat(kTagALaw, 22050, 2, 8);
  const WaveFormat float32 = SuggestFormat(kTagFloat, 22050, 2, 32);

  auto both_ways = [&](const WaveFormat& coded) {
    const bool decode = CanConvert(coded, pcm);
    EXPECT_EQ(decode, CanConvert(pcm, coded));
    EXPECT_EQ(decode, OpenCodecStream(coded, pcm) != nullptr);
    EXPECT_EQ(decode, OpenCodecStream(pcm, coded) != nullptr);
    return decode;
  };
  EXPECT_TRUE(both_ways(ima));
  EXPECT_TRUE(both_ways(ms));
  EXPECT_TRUE(both_ways(alaw));
  EXPECT_TRUE(both_ways(float32));

  EXPECT_FALSE(CanConvert(pcm, pcm));
  EXPECT_FALSE(CanConvert(ima, ima));
  EXPECT_FALSE(CanConvert(SuggestFormat(kTagPcm, 22050, 2, 8), pcm));
  EXPECT_FALSE(CanConvert(SuggestFormat(kTagPcm, 22050, 2, 24), pcm));
  EXPECT_FALSE(CanConvert(ima, DefaultFormat(44100, 2)));
  EXPECT_FALSE(CanConvert(DefaultFormat(22050, 1), ima));
  EXPECT_FALSE(CanConvert(DefaultFormat(22050, 0), SuggestFormat(kTagALaw, 22050, 1, 8)));
  WaveFormat many = SuggestFormat(kTagALaw, 8000, 255, 8);
  EXPECT_TRUE(CanConvert(many, DefaultFormat(8000, 255)));
  many.channels = 256;
  many.block_align = 256;
  WaveFormat many_pcm = DefaultFormat(8000, 255);
  many_pcm.channels = 256;
  EXPECT_FALSE(CanConvert(many, many_pcm));

  WaveFormat gsm = alaw;
  gsm.tag = kTagGsm610;
  EXPECT_FALSE(both_ways(gsm));  // not 65-byte blocks
  // MP3 is decoded, never encoded; its record is bare or names MPEG audio (identifier 1),
  // at an MPEG rate, mono or stereo.
  WaveFormat mp3 = alaw;
  mp3.tag = kTagMpegLayer3;
  EXPECT_TRUE(CanConvert(mp3, pcm));
  EXPECT_NE(OpenCodecStream(mp3, pcm), nullptr);
  EXPECT_FALSE(CanConvert(pcm, mp3));
  EXPECT_EQ(OpenCodecStream(pcm, mp3), nullptr);
  mp3.extra = {1, 0, 2, 0, 0, 0, 0x80, 4, 1, 0, 0x71, 5};
  EXPECT_TRUE(CanConvert(mp3, pcm));
  mp3.extra[0] = 2;
  EXPECT_FALSE(CanConvert(mp3, pcm));
  mp3.extra = {1, 0};
  EXPECT_FALSE(CanConvert(mp3, pcm));
  WaveFormat odd_rate = SuggestFormat(kTagALaw, 44000, 2, 8);
  odd_rate.tag = kTagMpegLayer3;
  EXPECT_FALSE(CanConvert(odd_rate, DefaultFormat(44000, 2)));

  auto broken = [&](WaveFormat format, auto change) {
    change(format);
    return !both_ways(format);
  };
  EXPECT_TRUE(broken(ima, [](WaveFormat& f) { f.block_align = 510; }));  // not whole words per channel
  EXPECT_TRUE(broken(ima, [](WaveFormat& f) { f.block_align = 0; }));
  EXPECT_TRUE(broken(ima, [](WaveFormat& f) { f.bits = 3; }));
  EXPECT_FALSE(broken(ima, [](WaveFormat& f) { f.block_align = 8; }));  // the header alone: 1 frame
  EXPECT_FALSE(broken(ima, [](WaveFormat& f) { f.extra.clear(); }));    // derived from block align
  EXPECT_TRUE(broken(ms, [](WaveFormat& f) { f.extra.resize(3); }));
  EXPECT_TRUE(broken(ms, [](WaveFormat& f) { f.extra.resize(31); }));  // 7 pairs announced
  EXPECT_TRUE(broken(ms, [](WaveFormat& f) { f.extra[2] = 0; }));      // no predictors
  EXPECT_TRUE(broken(ms, [](WaveFormat& f) { f.extra[0] = 0xFF; f.extra[1] = 0xFF; }));  // too many frames
  EXPECT_TRUE(broken(ms, [](WaveFormat& f) { f.extra[0] = 0; f.extra[1] = 0; }));
  EXPECT_TRUE(broken(ms, [](WaveFormat& f) { f.block_align = 13; }));  // less than the header
  EXPECT_TRUE(broken(ms, [](WaveFormat& f) { f.bits = 8; }));
  EXPECT_FALSE(broken(ms, [](WaveFormat& f) { f.extra[0] = 100; f.extra[1] = 0; }));  // fewer frames
  // GSM: mono 65-byte blocks of 320 samples only.
  auto gsm_usable = [](auto change) {
    WaveFormat format = SuggestFormat(kTagGsm610, 22050, 1, 0);
    change(format);
    return CanConvert(format, DefaultFormat(22050, 1)) && CanConvert(DefaultFormat(22050, 1), format);
  };
  EXPECT_TRUE(gsm_usable([](WaveFormat&) {}));
  EXPECT_FALSE(gsm_usable([](WaveFormat& f) { f.block_align = 33; }));
  EXPECT_FALSE(gsm_usable([](WaveFormat& f) { f.extra[0] = 0x3F; }));  // 319 samples per block
  EXPECT_TRUE(gsm_usable([](WaveFormat& f) { f.extra.clear(); }));     // 320 is the only layout
  EXPECT_FALSE(CanConvert(SuggestFormat(kTagGsm610, 22050, 1, 0), pcm));
  EXPECT_TRUE(broken(alaw, [](WaveFormat& f) { f.bits = 16; }));
  EXPECT_TRUE(broken(alaw, [](WaveFormat& f) { f.block_align = 4; }));
  EXPECT_TRUE(broken(float32, [](WaveFormat& f) { f.bits = 24; f.block_align = 6; }));
  EXPECT_TRUE(broken(float32, [](WaveFormat& f) { f.block_align = 4; }));
}

// ---------------------------------------------------------------------------------------
// Decoding files sox wrote, compared sample by sample with what sox decodes from them.

struct PeerCase {
  Encoding encoding;
  std::uint32_t rate;
  int channels;
};
void PrintTo(const PeerCase& c, std::ostream* out) {
  *out << c.encoding.name << " " << c.rate << " Hz " << c.channels << " channels";
}

class DecodeSoxFiles : public CodecSoxTest, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(DecodeSoxFiles, EverySampleMatchesSox) {
  const PeerCase& c = GetParam();
  // 12345 frames end inside a block; 1515 and 1500 are whole IMA and MS blocks.
  for (std::size_t frames : {std::size_t{12345}, std::size_t{1515}, std::size_t{1500}}) {
    SCOPED_TRACE(std::to_string(frames) + " frames");
    const std::string signal = Signal(c.rate, c.channels, frames);
    const WavParts parts = SoxEncode(signal, c.encoding, "coded.wav");
    EXPECT_EQ(parts.format, SuggestFormat(c.encoding.tag, c.rate, static_cast<std::uint16_t>(c.channels), c.encoding.bits));
    const std::vector<std::int16_t> expected = SoxDecode(Path("coded.wav"));
    const Decoded decoded = DecodeLikeReader(parts.format, parts.data);
    EXPECT_EQ(decoded.bad_answers, 0);
    // sox decodes the padding of the last block too, so the counts agree exactly.
    ASSERT_EQ(decoded.samples.size(), expected.size());
    ASSERT_GE(expected.size(), frames * c.channels);
    if (c.encoding.bits == 4) {
      const std::size_t per_block = c.encoding.tag == kTagImaAdpcm ? 505 : ReadLe16(&parts.format.extra[0]);
      EXPECT_EQ(decoded.samples.size(), (frames + per_block - 1) / per_block * per_block * c.channels);
    }
    int off = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const int difference = std::abs(decoded.samples[i] - expected[i]);
      if (difference > (c.encoding.tag == kTagFloat ? 1 : 0) && ++off <= 5)
        ADD_FAILURE() << "sample " << i << ": " << decoded.samples[i] << " sox " << expected[i];
    }
    EXPECT_EQ(off, 0);
    // Splitting the data into pieces that cut through blocks changes nothing.
    EXPECT_EQ(DecodeLikeReader(parts.format, parts.data, 37).samples, decoded.samples);
  }
}

// A file cut inside its last block: that block decodes as far as its bytes go, as in sox.
TEST_P(DecodeSoxFiles, ShortLastBlockDecodesLikeSox) {
  const PeerCase& c = GetParam();
  const std::string signal = Signal(c.rate, c.channels, 12345);
  const WavParts parts = SoxEncode(signal, c.encoding, "coded.wav");
  const std::size_t block = parts.format.block_align;
  for (std::size_t cut : {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{7}, std::size_t{8},
                          std::size_t{13}, std::size_t{17}, std::size_t{100}, block - 1, block + 5}) {
    if (cut >= parts.data.size()) continue;
    SCOPED_TRACE("keeping " + std::to_string(cut) + " bytes of the last block");
    std::vector<std::uint8_t> data(parts.data.begin(), parts.data.end() - static_cast<std::ptrdiff_t>(block - cut % block));
    WriteBytes(Path("cut.wav"), MinimalWav(parts.format, data));
    const std::vector<std::int16_t> expected = SoxDecode(Path("cut.wav"));
    const Decoded decoded = DecodeLikeReader(parts.format, data);
    EXPECT_EQ(decoded.bad_answers, 0);
    if (c.encoding.tag == kTagFloat) {
      ASSERT_EQ(decoded.samples.size(), expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_LE(std::abs(decoded.samples[i] - expected[i]), 1) << i;
    } else {
      EXPECT_EQ(decoded.samples, expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, DecodeSoxFiles,
    ::testing::Values(PeerCase{kFloat32, 8000, 1}, PeerCase{kFloat32, 44100, 2},
                      PeerCase{kFloat64, 8000, 1}, PeerCase{kFloat64, 22050, 2},
                      PeerCase{kALaw, 8000, 1}, PeerCase{kALaw, 8000, 2},
                      PeerCase{kMuLaw, 8000, 1}, PeerCase{kMuLaw, 8000, 2},
                      PeerCase{kIma, 8000, 1}, PeerCase{kIma, 22050, 2}, PeerCase{kIma, 11025, 3},
                      PeerCase{kMs, 8000, 1}, PeerCase{kMs, 22050, 2}, PeerCase{kMs, 44100, 1},
                      PeerCase{kMs, 11025, 3}),
    [](const ::testing::TestParamInfo<PeerCase>& info) {
      return std::string(info.param.encoding.name) + "_" + std::to_string(info.param.rate) + "_" +
             std::to_string(info.param.channels);
    });

// ---------------------------------------------------------------------------------------
// Encoding: sox decodes what we write to the very samples our decoder gives.

class EncodeForSox : public CodecSoxTest, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(EncodeForSox, SoxDecodesOurFilesLikeWeDo) {
  const PeerCase& c = GetParam();
  const WaveFormat format = SuggestFormat(c.encoding.tag, c.rate, static_cast<std::uint16_t>(c.channels), c.encoding.bits);
  for (std::size_t frames : {std::size_t{12345}, std::size_t{1515}, std::size_t{1500}, std::size_t{1}}) {
    SCOPED_TRACE(std::to_string(frames) + " frames");
    std::vector<std::int16_t> original;
    if (frames > 1) {
      original = SignalSamples(Signal(c.rate, c.channels, frames));
    } else {
      original.assign(static_cast<std::size_t>(c.channels), -32768);
    }
    ASSERT_EQ(original.size(), frames * c.channels);
    const std::vector<std::uint8_t> encoded = EncodeLikeWriter(format, original);
    WriteBytes(Path("ours.wav"), MinimalWav(format, encoded));
    const std::vector<std::int16_t> by_sox = SoxDecode(Path("ours.wav"));
    const Decoded decoded = DecodeLikeReader(format, encoded);
    EXPECT_EQ(decoded.bad_answers, 0);
    ASSERT_GE(decoded.samples.size(), original.size());
    const std::vector<std::int16_t> head(decoded.samples.begin(), decoded.samples.begin() + static_cast<std::ptrdiff_t>(original.size()));
    switch (c.encoding.tag) {
      case kTagFloat:
        EXPECT_EQ(decoded.samples, original);
        EXPECT_EQ(by_sox, original);
        break;
      case kTagALaw:
      case kTagMuLaw:
        EXPECT_EQ(by_sox, decoded.samples);
        for (std::size_t i = 0; i < original.size(); ++i) {
          const std::int32_t value = original[i] * 16;
          const std::int32_t expected = c.encoding.tag == kTagALaw ? ExpandALaw(CompressALaw(value))
                                                                   : ExpandMuLaw(CompressMuLaw(value));
          ASSERT_EQ(decoded.samples[i], expected / 16) << i;
        }
        break;
      default: {
        EXPECT_EQ(by_sox, decoded.samples);
        // The short last block holds whole words (IMA) or bytes (MS) only: a few more frames.
        const std::size_t extra = (decoded.samples.size() - original.size()) / c.channels;
        EXPECT_LE(extra, c.encoding.tag == kTagImaAdpcm ? 7u : 1u);
        if (frames == 12345) {
          // Quality on the sweep, tone and noise mix (the signal's first part), against
          // sox's own encoder on the same signal.
          const std::size_t mix = (frames - frames / 4 - 1000) * c.channels;
          const std::vector<std::int16_t> part(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(mix));
          const double snr = SnrDb(part, head);
          WriteBytes(Path("signal.wav"), MinimalWav(DefaultFormat(c.rate, static_cast<std::uint16_t>(c.channels)), Le16(original)));
          SoxEncode(Path("signal.wav"), c.encoding, "theirs.wav");
          const double sox_snr = SnrDb(part, SoxDecode(Path("theirs.wav")));
          EXPECT_GT(snr, 16.0);
          EXPECT_GT(snr, sox_snr - 1.0) << "ours " << snr << " dB, sox " << sox_snr << " dB";
        } else if (frames == 1) {
          EXPECT_EQ(head, original);  // the header holds the first frame exactly
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, EncodeForSox,
    ::testing::Values(PeerCase{kFloat32, 8000, 1}, PeerCase{kFloat64, 22050, 2},
                      PeerCase{kALaw, 8000, 1}, PeerCase{kALaw, 8000, 2},
                      PeerCase{kMuLaw, 8000, 1}, PeerCase{kMuLaw, 8000, 2},
                      PeerCase{kIma, 8000, 1}, PeerCase{kIma, 22050, 2}, PeerCase{kIma, 11025, 3},
                      PeerCase{kMs, 8000, 1}, PeerCase{kMs, 22050, 2}, PeerCase{kMs, 44100, 1},
                      PeerCase{kMs, 11025, 3}),
    [](const ::testing::TestParamInfo<PeerCase>& info) {
      return std::string(info.param.encoding.name) + "_" + std::to_string(info.param.rate) + "_" +
             std::to_string(info.param.channels);
    });

// Random MS ADPCM blocks (any predictor, any step size, any nibbles) decode as in sox,
// even where the step size grows until its products wrap.
TEST_F(CodecSoxTest, RandomMsAdpcmBlocksDecodeLikeSox) {
  for (int channels : {1, 2}) {
    const WaveFormat format = SuggestFormat(kTagMsAdpcm, 8000, static_cast<std::uint16_t>(channels), 4);
    std::mt19937 random(static_cast<unsigned>(channels));
    std::vector<std::uint8_t> data(format.block_align * 30u);
    for (std::size_t block = 0; block < 30; ++block) {
      std::uint8_t* b = &data[block * format.block_align];
      for (std::size_t i = 0; i < format.block_align; ++i) b[i] = static_cast<std::uint8_t>(random());
      for (int c = 0; c < channels; ++c) b[c] = static_cast<std::uint8_t>(random() % 7);
      if (block % 3 == 0) {  // calm data too: small nibbles only
        for (std::size_t i = 7u * channels; i < format.block_align; ++i) b[i] &= 0x33;
      }
    }
    WriteBytes(Path("random.wav"), MinimalWav(format, data));
    const Decoded decoded = DecodeLikeReader(format, data);
    EXPECT_EQ(decoded.bad_answers, 0);
    EXPECT_EQ(decoded.samples, SoxDecode(Path("random.wav"))) << channels << " channels";
  }
}

// Random IMA ADPCM data with valid step indices decodes as in sox.
TEST_F(CodecSoxTest, RandomImaAdpcmBlocksDecodeLikeSox) {
  for (int channels : {1, 2}) {
    const WaveFormat format = SuggestFormat(kTagImaAdpcm, 8000, static_cast<std::uint16_t>(channels), 4);
    std::mt19937 random(static_cast<unsigned>(channels) + 10);
    std::vector<std::uint8_t> data(format.block_align * 30u);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(random());
    for (std::size_t block = 0; block < 30; ++block)
      for (int c = 0; c < channels; ++c) {
        data[block * format.block_align + 4 * c + 2] = static_cast<std::uint8_t>(random() % 89);
        data[block * format.block_align + 4 * c + 3] = 0;
      }
    WriteBytes(Path("random.wav"), MinimalWav(format, data));
    const Decoded decoded = DecodeLikeReader(format, data);
    EXPECT_EQ(decoded.bad_answers, 0);
    EXPECT_EQ(decoded.samples, SoxDecode(Path("random.wav"))) << channels << " channels";
  }
}

// ---------------------------------------------------------------------------------------
// Exact values without a peer.

std::vector<std::uint8_t> FloatBytes(const std::vector<double>& values, int bits) {
  std::vector<std::uint8_t> bytes;
  for (double value : values) {
    if (bits == 32) {
      const std::uint32_t pattern = std::bit_cast<std::uint32_t>(static_cast<float>(value));
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(pattern >> (8 * i)));
    } else {
      const std::uint64_t pattern = std::bit_cast<std::uint64_t>(value);
      for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(pattern >> (8 * i)));
    }
  }
  return bytes;
}

TEST(CodecTableTest, FloatDecodingRoundsAndClamps) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {0.0,  -0.0,         1.0,         -1.0,   0.5,    -0.5,
                                      2.0,  -2.0,         inf,         -inf,   std::nan(""), 1e30,
                                      -1e30, 1e-30,       0.5 / 32768, -0.5 / 32768, 1.5 / 32768,
                                      32766.49 / 32768, -32767.5 / 32768, 32767.0 / 32768};
  const std::vector<std::int16_t> expected = {0,     0,     32767, -32768, 16384, -16384, 32767,
                                              -32768, 32767, -32768, 0,     32767, -32768, 0,
                                              1,     -1,    2,     32766, -32768, 32767};
  for (int bits : {32, 64}) {
    const WaveFormat format = SuggestFormat(kTagFloat, 8000, 1, static_cast<std::uint16_t>(bits));
    EXPECT_EQ(DecodeLikeReader(format, FloatBytes(values, bits)).samples, expected) << bits;
  }
}

TEST(CodecTableTest, FloatEncodingIsExactAndRoundTrips) {
  std::vector<std::int16_t> all(65536);
  for (int i = 0; i < 65536; ++i) all[i] = static_cast<std::int16_t>(i - 32768);
  for (int bits : {32, 64}) {
    const WaveFormat format = SuggestFormat(kTagFloat, 8000, 2, static_cast<std::uint16_t>(bits));
    const std::vector<std::uint8_t> encoded = EncodeLikeWriter(format, all);
    ASSERT_EQ(encoded.size(), all.size() * bits / 8);
    std::vector<double> values;
    for (std::size_t i = 0; i < all.size(); ++i) values.push_back(all[i] / 32768.0);
    EXPECT_EQ(encoded, FloatBytes(values, bits));
    EXPECT_EQ(DecodeLikeReader(format, encoded).samples, all);
  }
  // -1.0 and 0.5 as bit patterns.
  const WaveFormat format = SuggestFormat(kTagFloat, 8000, 1, 32);
  EXPECT_EQ(EncodeLikeWriter(format, {-32768, 16384}),
            (std::vector<std::uint8_t>{0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x00, 0x3F}));
}

TEST(CodecTableTest, G711StreamsFollowTheRulesForEveryValue) {
  std::vector<std::uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  std::vector<std::int16_t> all(65536);
  for (int i = 0; i < 65536; ++i) all[i] = static_cast<std::int16_t>(i - 32768);
  for (std::uint16_t tag : {kTagALaw, kTagMuLaw}) {
    const WaveFormat format = SuggestFormat(tag, 8000, 1, 8);
    const std::vector<std::int16_t> decoded = DecodeLikeReader(format, bytes).samples;
    ASSERT_EQ(decoded.size(), 256u);
    for (int i = 0; i < 256; ++i) {
      const std::int32_t value = tag == kTagALaw ? ExpandALaw(bytes[i]) : ExpandMuLaw(bytes[i]);
      EXPECT_EQ(decoded[i] * 16, value) << i;
    }
    const std::vector<std::uint8_t> encoded = EncodeLikeWriter(format, all);
    ASSERT_EQ(encoded.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
      const std::uint8_t expected = tag == kTagALaw ? CompressALaw(all[i] * 16) : CompressMuLaw(all[i] * 16);
      ASSERT_EQ(encoded[i], expected) << all[i];
    }
  }
}

TEST(CodecTableTest, SizesFollowTheBlocks) {
  const WaveFormat ima = SuggestFormat(kTagImaAdpcm, 8000, 1, 4);
  auto decoder = OpenCodecStream(ima, DefaultFormat(8000, 1));
  auto encoder = OpenCodecStream(DefaultFormat(8000, 1), ima);
  ASSERT_TRUE(decoder && encoder);
  EXPECT_EQ(decoder->SourceSizeFor(8192 * 2), 17u * 256);  // blocks that fill 8192 frames
  EXPECT_EQ(decoder->SourceSizeFor(1), 256u);
  EXPECT_EQ(decoder->SourceSizeFor(0), 0u);
  EXPECT_EQ(decoder->DestinationSizeFor(17 * 256), 17u * 505 * 2);
  EXPECT_EQ(decoder->DestinationSizeFor(256 + 12), (505u + 17) * 2);  // a short block of 3 words
  EXPECT_EQ(decoder->DestinationSizeFor(256 + 3), 505u * 2);
  EXPECT_EQ(encoder->SourceSizeFor(256), 505u * 2);
  EXPECT_EQ(encoder->DestinationSizeFor(8192 * 2), 16u * 256 + 4 * 15);  // 112 frames left over
  EXPECT_EQ(encoder->DestinationSizeFor(1), 0u);
  EXPECT_GT(decoder->SourceSizeFor(std::numeric_limits<std::size_t>::max()), 0u);
  EXPECT_EQ(decoder->DestinationSizeFor(std::numeric_limits<std::size_t>::max()),
            std::numeric_limits<std::size_t>::max());

  const WaveFormat ms = SuggestFormat(kTagMsAdpcm, 8000, 2, 4);
  auto ms_decoder = OpenCodecStream(ms, DefaultFormat(8000, 2));
  auto ms_encoder = OpenCodecStream(DefaultFormat(8000, 2), ms);
  EXPECT_EQ(ms_decoder->SourceSizeFor(8192 * 4), 17u * 512);
  EXPECT_EQ(ms_decoder->DestinationSizeFor(512 + 14 + 5), (500u + 2 + 5) * 4);
  EXPECT_EQ(ms_decoder->DestinationSizeFor(512 + 13), 500u * 4);
  EXPECT_EQ(ms_encoder->DestinationSizeFor(8192 * 4), 16u * 512 + 14 + 190);  // 192 frames left
  EXPECT_EQ(ms_encoder->DestinationSizeFor(4), 14u);

  const WaveFormat float64 = SuggestFormat(kTagFloat, 8000, 2, 64);
  auto float_decoder = OpenCodecStream(float64, DefaultFormat(8000, 2));
  EXPECT_EQ(float_decoder->SourceSizeFor(4 * 100), 16u * 100);
  EXPECT_EQ(float_decoder->DestinationSizeFor(16 * 100 + 9), 4u * 100);
}

// The final short block the encoder writes: the header and the words or bytes its frames
// need.
TEST(CodecTableTest, EncodersWriteAShortLastBlock) {
  struct Expect {
    std::size_t frames;
    std::size_t bytes;
  };
  for (int channels : {1, 2}) {
    const std::size_t c = static_cast<std::size_t>(channels);
    const WaveFormat ima = SuggestFormat(kTagImaAdpcm, 8000, static_cast<std::uint16_t>(channels), 4);
    for (Expect e : {Expect{1, 4 * c}, Expect{2, 8 * c}, Expect{9, 8 * c}, Expect{10, 12 * c},
                     Expect{504, 256 * c}, Expect{505, 256 * c}, Expect{506, 260 * c}}) {
      const std::vector<std::int16_t> samples(e.frames * c, 1234);
      EXPECT_EQ(EncodeLikeWriter(ima, samples).size(), e.bytes) << "IMA " << e.frames;
    }
    const WaveFormat ms = SuggestFormat(kTagMsAdpcm, 8000, static_cast<std::uint16_t>(channels), 4);
    for (Expect e : {Expect{1, 7 * c}, Expect{2, 7 * c}, Expect{3, 7 * c + (c + 1) / 2},
                     Expect{4, 7 * c + c}, Expect{500, 256 * c}, Expect{501, 263 * c}}) {
      const std::vector<std::int16_t> samples(e.frames * c, -1234);
      EXPECT_EQ(EncodeLikeWriter(ms, samples).size(), e.bytes) << "MS " << e.frames;
    }
  }
}

// Bad blocks: the good blocks before them come first; then ok is false with nothing used.
TEST(CodecTableTest, CorruptBlocksAreReportedNotDecoded) {
  std::vector<std::int16_t> signal(3 * 505 * 2);
  for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = static_cast<std::int16_t>((i * 977) % 20000 - 10000);
  struct Corruption {
    std::uint16_t tag;
    std::size_t offset;  // in the second block
    std::uint8_t value;
  };
  for (Corruption corruption : {Corruption{kTagImaAdpcm, 2, 89}, Corruption{kTagImaAdpcm, 6, 255},
                                Corruption{kTagMsAdpcm, 0, 7}, Corruption{kTagMsAdpcm, 1, 200}}) {
    SCOPED_TRACE(FormatTagName(corruption.tag) + " byte " + std::to_string(corruption.offset));
    const WaveFormat format = SuggestFormat(corruption.tag, 8000, 2, 4);
    std::vector<std::uint8_t> data = EncodeLikeWriter(format, signal);
    const std::size_t block = format.block_align;
    ASSERT_GE(data.size(), 3 * block);
    data[block + corruption.offset] = corruption.value;

    auto stream = OpenCodecStream(format, DefaultFormat(8000, 2));
    std::vector<std::uint8_t> source(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(3 * block));
    std::vector<std::uint8_t> out(stream->DestinationSizeFor(source.size()));
    ConvertResult first = stream->Convert(source.data(), source.size(), out.data(), out.size(), kConvertBlockAlign);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(first.source_used, block);
    const std::size_t frames = corruption.tag == kTagImaAdpcm ? 505 : 500;
    EXPECT_EQ(first.destination_used, frames * 4);
    ConvertResult second = stream->Convert(source.data() + block, 2 * block, out.data(), out.size(), kConvertBlockAlign);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.source_used, 0u);
    EXPECT_EQ(second.destination_used, 0u);
    // As the last, short block it is refused just the same.
    ConvertResult tail = stream->Convert(source.data() + block, 100, out.data(), out.size(), kConvertEnd);
    EXPECT_FALSE(tail.ok);
    EXPECT_EQ(tail.source_used, 0u);

    // The reader's way (dropping a quarter of the pending bytes) gets through the file.
    const Decoded decoded = DecodeLikeReader(format, data);
    EXPECT_GE(decoded.bad_answers, 1);
    EXPECT_GE(decoded.samples.size(), frames * 2);
    EXPECT_TRUE(std::equal(decoded.samples.begin(), decoded.samples.begin() + static_cast<std::ptrdiff_t>(frames * 2),
                           DecodeLikeReader(format, std::vector<std::uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(block))).samples.begin()));
  }
}

// A predictor beyond the standard seven is fine when the format declares it.
TEST(CodecTableTest, MsAdpcmUsesTheCoefficientsOfTheFormat) {
  WaveFormat format = SuggestFormat(kTagMsAdpcm, 8000, 1, 4);
  WriteLe16(&format.extra[2], 8);
  format.extra.push_back(0x00);  // pair 7: 0, 256 (the sample before the last)
  format.extra.push_back(0x00);
  format.extra.push_back(0x00);
  format.extra.push_back(0x01);
  std::vector<std::uint8_t> block(256, 0x00);
  block[0] = 7;
  WriteLe16(&block[1], 16);    // delta
  WriteLe16(&block[3], 1000);  // second sample
  WriteLe16(&block[5], static_cast<std::uint16_t>(-500));  // first sample
  block[7] = 0x10;  // +1 × 16, then 0
  const std::vector<std::int16_t> decoded = DecodeLikeReader(format, block).samples;
  ASSERT_EQ(decoded.size(), 500u);
  // Each prediction repeats the sample two back: -500, 1000, -500 + 16, 1000, -484 ...
  EXPECT_EQ(std::vector<std::int16_t>(decoded.begin(), decoded.begin() + 5),
            (std::vector<std::int16_t>{-500, 1000, -484, 1000, -484}));
  block[0] = 8;
  EXPECT_GE(DecodeLikeReader(format, block).bad_answers, 1);
}

// Conversions never run past either buffer, and a destination too small for one block
// converts nothing without calling the data bad.
TEST(CodecTableTest, SmallBuffersAndRestarts) {
  for (std::uint16_t tag : {kTagImaAdpcm, kTagMsAdpcm, kTagALaw, kTagFloat}) {
    SCOPED_TRACE(FormatTagName(tag));
    const std::uint16_t bits = tag == kTagALaw ? 8 : tag == kTagFloat ? 32 : 4;
    const WaveFormat format = SuggestFormat(tag, 8000, 2, bits);
    std::vector<std::int16_t> signal(2 * 2000);
    for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = static_cast<std::int16_t>(std::sin(i * 0.01) * 20000);
    const std::vector<std::uint8_t> data = EncodeLikeWriter(format, signal);

    auto decoder = OpenCodecStream(format, DefaultFormat(8000, 2));
    const std::size_t out_block = decoder->DestinationSizeFor(format.block_align);
    const Checked small = CallChecked(*decoder, data, out_block - 1, kConvertBlockAlign | kConvertEnd);
    EXPECT_TRUE(small.result.ok);
    EXPECT_EQ(small.result.source_used, 0u);
    EXPECT_EQ(small.result.destination_used, 0u);
    const Checked none = CallChecked(*decoder, {}, 0, kConvertStart);
    EXPECT_TRUE(none.result.ok);
    EXPECT_EQ(none.result.destination_used, 0u);

    auto encoder = OpenCodecStream(DefaultFormat(8000, 2), format);
    const std::vector<std::uint8_t> pcm = Le16(signal);
    const Checked tight = CallChecked(*encoder, pcm, format.block_align - 1, kConvertBlockAlign);
    EXPECT_TRUE(tight.result.ok);
    EXPECT_EQ(tight.result.destination_used, 0u);
    // A short last piece waits too when its output does not fit.
    if (bits == 4) {
      const std::vector<std::uint8_t> piece(data.begin(), data.begin() + 100);
      const Checked cramped = CallChecked(*decoder, piece, decoder->DestinationSizeFor(100) - 1, kConvertEnd);
      EXPECT_TRUE(cramped.result.ok);
      EXPECT_EQ(cramped.result.source_used + cramped.result.destination_used, 0u);
      const std::vector<std::uint8_t> frames(pcm.begin(), pcm.begin() + 40);
      const Checked short_block = CallChecked(*encoder, frames, encoder->DestinationSizeFor(40) - 1, kConvertEnd);
      EXPECT_TRUE(short_block.result.ok);
      EXPECT_EQ(short_block.result.source_used + short_block.result.destination_used, 0u);
    }
    // Starting over gives the same bytes as a fresh stream.
    const Checked once = CallChecked(*encoder, pcm, data.size(), kConvertStart | kConvertEnd);
    const Checked again = CallChecked(*encoder, pcm, data.size(), kConvertStart | kConvertEnd);
    EXPECT_EQ(once.output, data);
    EXPECT_EQ(again.output, data);
    // An odd trailing byte of PCM is dropped at the end.
    std::vector<std::uint8_t> odd(pcm.begin(), pcm.begin() + 9);
    const Checked trailing = CallChecked(*encoder, odd, 1024, kConvertStart | kConvertEnd);
    EXPECT_EQ(trailing.result.source_used, 9u);
  }
}

// Garbage in any layout the table accepts never crashes and never overruns.
TEST(CodecTableTest, RandomDataAndLayoutsAreSafe) {
  std::mt19937 random(99);
  for (int round = 0; round < 300; ++round) {
    WaveFormat format;
    const std::uint16_t tags[] = {kTagImaAdpcm, kTagMsAdpcm, kTagFloat, kTagALaw, kTagMuLaw};
    format.tag = tags[random() % 5];
    format.channels = static_cast<std::uint16_t>(1 + random() % 6);
    format.rate = 8000;
    format.bits = format.tag == kTagFloat ? (random() % 2 ? 32 : 64) : format.tag == kTagALaw || format.tag == kTagMuLaw ? 8 : 4;
    const std::uint32_t unit = format.tag == kTagImaAdpcm ? 4u * format.channels : 1u;
    format.block_align = static_cast<std::uint16_t>(unit * (1 + random() % 200));
    if (format.tag == kTagFloat) format.block_align = static_cast<std::uint16_t>(format.channels * format.bits / 8);
    if (format.tag == kTagALaw || format.tag == kTagMuLaw) format.block_align = format.channels;
    format.extra.resize(random() % 40);
    for (auto& byte : format.extra) byte = static_cast<std::uint8_t>(random());
    if (format.tag == kTagMsAdpcm && format.extra.size() >= 4) {
      WriteLe16(&format.extra[0], static_cast<std::uint16_t>(1 + random() % 600));
      WriteLe16(&format.extra[2], static_cast<std::uint16_t>(random() % 10));
    }
    if (!CanConvert(format, DefaultFormat(8000, format.channels))) continue;
    std::vector<std::uint8_t> data(random() % 5000);
    for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
    const Decoded decoded = DecodeLikeReader(format, data, 1 + random() % 3000);
    auto stream = OpenCodecStream(format, DefaultFormat(8000, format.channels));
    EXPECT_LE(decoded.samples.size() * 2, stream->DestinationSizeFor(data.size()));
  }
}

}  // namespace
}  // namespace sonavel
