#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/format_table.h"
#include "formats/raw_audio.h"
#include "formats/raw_file.h"
#include "formats/vox_adpcm.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "sox_peer.h"

namespace sonavel {
namespace {

using testing::Quote;
using testing::ReadBytes;
using testing::WriteBytes;

std::vector<std::int32_t> ReadFrames(SampleSource& source, std::int32_t frames) {
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * source.channels);
  source.Read(out.data(), frames);
  return out;
}

// Zero crossings upwards per second of a mono signal, from its second half (an ADPCM
// decoder needs a moment to settle).
double Frequency(const std::vector<std::int32_t>& samples, int rate) {
  const std::size_t start = samples.size() / 2;
  int crossings = 0;
  for (std::size_t i = start + 1; i < samples.size(); ++i)
    if (samples[i - 1] < 0 && samples[i] >= 0) ++crossings;
  return crossings * double(rate) / double(samples.size() - start);
}

class RawTest : public testing::SoxPeerTest {
 protected:
  // What sox decodes from a headerless file in sox's words for the coding.
  std::vector<std::int16_t> SoxDecodeRaw(const std::string& file, const std::string& type) {
    const std::string raw = Path("sox-decoded.raw");
    Sox("-D " + type + " " + Quote(file) + " -t raw -e signed -b 16 -L " + Quote(raw));
    return testing::Samples16(ReadBytes(raw));
  }
};

TEST_F(RawTest, VoxDecodesExactlyAndKeepsHalfBytesAcrossReads) {
  // From reset: 0x77 and 0x88, each in a fresh reader.
  SourceRef up = OpenRawReader(MemoryBytes({0x77}), {8000, 1, kRawCodecVox});
  EXPECT_EQ(up->peak_bound, 0x200000);
  EXPECT_EQ(ReadFrames(*up, 2), (std::vector<std::int32_t>{3840, 11940}));
  SourceRef down = OpenRawReader(MemoryBytes({0x88}), {8000, 1, kRawCodecVox});
  EXPECT_EQ(ReadFrames(*down, 2), (std::vector<std::int32_t>{-256, -508}));

  // 1001 bytes are 2002 samples; 3 + 3 samples come from 3 bytes exactly as 6 at once,
  // and past the end there is silence.
  std::vector<std::uint8_t> bytes(1001);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
  SourceRef whole = OpenRawReader(MemoryBytes(bytes), {8000, 1, kRawCodecVox});
  EXPECT_EQ(whole->Length(), 2002);
  const std::vector<std::int32_t> six = ReadFrames(*whole, 6);
  SourceRef halves = OpenRawReader(MemoryBytes({bytes[0], bytes[1], bytes[2]}), {8000, 1, kRawCodecVox});
  std::vector<std::int32_t> three_and_three = ReadFrames(*halves, 3);
  const std::vector<std::int32_t> more = ReadFrames(*halves, 3);
  three_and_three.insert(three_and_three.end(), more.begin(), more.end());
  EXPECT_EQ(three_and_three, six);
  EXPECT_EQ(ReadFrames(*halves, 2), (std::vector<std::int32_t>{0, 0}));
  // A seek to the start decodes as a fresh reader does.
  whole->Seek(0);
  EXPECT_EQ(ReadFrames(*whole, 6), six);
}

TEST_F(RawTest, VoxWriterPacksWhatTheDecoderReadsAndLosesNoSample) {
  // The decoder follows the encoder's predictor exactly, in writes of odd sizes.
  std::vector<std::int32_t> tone(1001);
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<std::int32_t>(std::lround(300000 * std::sin(i * 2 * M_PI * 440 / 8000)));
  std::vector<std::int32_t> predicted;
  VoxState encoder;
  VoxState decoder;
  for (std::int32_t sample : tone) {
    const unsigned nibble = EncodeVoxSample(encoder, sample);
    predicted.push_back(DecodeVoxNibble(decoder, nibble));
    ASSERT_EQ(predicted.back(), encoder.predictor);
  }
  const std::string path = Path("tone.vox");
  {
    SinkRef writer = CreateRawWriter(path, {8000, 2, kRawCodecVox});
    ASSERT_EQ(writer->status, kStatusOk);
    EXPECT_EQ(writer->channels, 1);  // VOX is always mono
    writer->Write(tone.data(), 3);
    writer->Write(tone.data() + 3, 998);
  }
  EXPECT_EQ(ReadBytes(path).size(), 501u);  // the last sample's half byte is not lost
  SourceRef reader = OpenRawReader(OpenFileBytes(path), {8000, 1, kRawCodecVox});
  std::vector<std::int32_t> decoded = ReadFrames(*reader, 1001);
  EXPECT_EQ(decoded, predicted);
}

// The bulk decoder equals the nibble decoder over every byte, from every start index and
// from predictors near the peak. The encoder picks the nibble that the truncated quotient
// (sample - decayed predictor) / step gives, also exactly at the thresholds' edges.
TEST(VoxCodec, BulkDecoderAndEncoderFollowTheirDefinitions) {
  for (int index = 0; index <= 48; ++index) {
    for (std::int32_t predictor : {0, -700000, 2000000, 2300000, -2300000}) {
      std::vector<std::uint8_t> bytes(512);
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 89 + index) ^ (i >> 3));
      VoxState one{index, predictor};
      std::vector<std::int32_t> expected;
      for (std::uint8_t byte : bytes) {
        expected.push_back(DecodeVoxNibble(one, byte >> 4));
        expected.push_back(DecodeVoxNibble(one, byte & 15u));
      }
      VoxState bulk{index, predictor};
      std::vector<std::int32_t> decoded(2 * bytes.size());
      DecodeVoxBytes(bulk, bytes.data(), bytes.size(), decoded.data());
      ASSERT_EQ(decoded, expected) << "index " << index << ", predictor " << predictor;
      EXPECT_EQ(bulk.predictor, one.predictor);
      EXPECT_EQ(DecodeVoxNibble(bulk, 9), DecodeVoxNibble(one, 9));  // the same state goes on

      // The step at this index: nibbles 1 and 0 differ by 32 steps.
      VoxState probe{index, 0};
      VoxState probe0{index, 0};
      const std::int32_t step = (DecodeVoxNibble(probe, 1) - DecodeVoxNibble(probe0, 0)) / 32;
      const std::int32_t decayed = predictor - (predictor >> 6);
      for (int k : {0, 1, 32, 33, 34, 66, 98, 99, 100, 132, 164, 165, 166, 198, 231, 232, 400}) {
        for (int sign : {1, -1}) {
          for (int nudge : {-1, 0, 1}) {
            const std::int64_t sample = std::clamp<std::int64_t>(
                decayed + sign * (std::int64_t{k} * step + nudge), INT32_MIN, INT32_MAX);
            const std::int64_t a = (sample - decayed) / step;
            std::int64_t m = a < 0 ? -a : a;
            unsigned nibble = a < 0 ? 8 : 0;
            if (m >= 132) {
              nibble |= 4;
              m -= 132;
            }
            if (m >= 66) {
              nibble |= 2;
              m -= 66;
            }
            if (m > 32) nibble |= 1;
            VoxState encoder{index, predictor};
            ASSERT_EQ(EncodeVoxSample(encoder, static_cast<std::int32_t>(sample)), nibble)
                << "index " << index << ", predictor " << predictor << ", sample " << sample;
          }
        }
      }
    }
  }
}

// sox writes each of the six byte codings; we decode every sample as sox does, and what we
// write in that coding sox reads back identically.
TEST_F(RawTest, SixCodingsAgreeWithSoxBothWays) {
  const std::string source = Path("tone.wav");
  Sox("-n -r 11025 -c 2 -b 16 " + Quote(source) + " synth 0.4 sine 440 sine 1234 vol 0.9");
  struct Case {
    int codec;
    const char* sox_type;
  } cases[] = {{kRawCodecMuLaw, "-e mu-law -b 8"},  {kRawCodecALaw, "-e a-law -b 8"},
               {kRawCodec16Le, "-e signed -b 16 -L"}, {kRawCodecUnsigned8, "-e unsigned -b 8"},
               {kRawCodecSigned8, "-e signed -b 8"},  {kRawCodec16Be, "-e signed -b 16 -B"}};
  for (const Case& each : cases) {
    SCOPED_TRACE(each.codec);
    const std::string type = std::string("-t raw -r 11025 -c 2 ") + each.sox_type;
    const std::string theirs = Path("theirs.raw");
    Sox(Quote(source) + " " + type + " " + Quote(theirs));
    const std::vector<std::int16_t> expected = SoxDecodeRaw(theirs, type);

    OpenOptions options;
    options.raw = RawSettings{11025, 2, each.codec};
    SourceRef reader = OpenFormatReader(theirs, options);
    ASSERT_EQ(reader->status, kStatusOk);
    ASSERT_EQ(reader->Length() * 2, static_cast<std::int32_t>(expected.size()));
    const std::vector<std::int32_t> ours = testing::Drain(*reader);
    ASSERT_EQ(ours.size(), expected.size());
    for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], expected[i] * 16) << i;

    const std::string mine = Path("mine.snd");  // ".snd" is raw, never AU
    {
      SinkRef writer = FormatForPath(mine)->create(DefaultFormat(11025, 2), mine, options);
      writer->Write(ours.data(), 5);
      writer->Write(ours.data() + 10, 7);
      writer->Seek(2);  // cuts back: writing goes on after frame 2
      writer->Write(ours.data() + 4, static_cast<std::int32_t>(ours.size() / 2) - 2);
      EXPECT_EQ(writer->status, kStatusOk);
    }
    EXPECT_EQ(SoxDecodeRaw(mine, type), expected);
  }
}

// sox's VOX (no decay term, so no equality): each side's tone decodes to its frequency.
TEST_F(RawTest, VoxTonesKeepTheirFrequencyWithSox) {
  const std::string theirs = Path("theirs.vox");
  Sox("-n -r 8000 -c 1 -t vox " + Quote(theirs) + " synth 1 sine 1000 vol 0.4");
  SourceRef reader = OpenFormatReader(theirs);  // the ".vox" defaults: 8000 Hz, codec 0
  ASSERT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(reader->rate, 8000);
  const std::vector<std::int32_t> decoded = testing::Drain(*reader);
  EXPECT_NEAR(Frequency(decoded, 8000), 1000, 5);

  std::vector<std::int32_t> tone(8000);
  for (std::size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<std::int32_t>(std::lround(150000 * std::sin(i * 2 * M_PI * 700 / 8000)));
  const std::string mine = Path("mine.vox");
  {
    SinkRef writer = FormatForPath(mine)->create(DefaultFormat(8000, 1), mine, OpenOptions{});
    writer->Write(tone.data(), static_cast<std::int32_t>(tone.size()));
  }
  const std::vector<std::int16_t> sox = SoxDecodeRaw(mine, "-t vox -r 8000");
  EXPECT_NEAR(Frequency(std::vector<std::int32_t>(sox.begin(), sox.end()), 8000), 700, 5);
}

TEST_F(RawTest, SettingsRecordsAndTheSharedReaderBounds) {
  // Defaults, a stored 0 channels read as 1, and a codec outside 0..6 failing both ways.
  EXPECT_EQ(ReadRawSettings(nullptr, RawAudioKeys()), (RawSettings{44100, 1, 3}));
  EXPECT_EQ(ReadRawSettings(nullptr, VoxAudioKeys()), (RawSettings{8000, 1, 0}));
  Registry registry(Path("user"), Path("machine"));
  Settings settings(registry);
  WriteRawSettings(settings, RawAudioKeys(), {22050, 0, 7});
  const RawSettings stored = ReadRawSettings(&settings, RawAudioKeys());
  EXPECT_EQ(stored, (RawSettings{22050, 1, 7}));
  const std::string path = Path("some.raw");
  WriteBytes(path, {1, 2, 3, 4});
  const OpenOptions options{&settings, std::nullopt};
  EXPECT_EQ(OpenFormatReader(path, options)->status, kStatusPlaceholder);
  EXPECT_NE(FormatForPath(path)->create(DefaultFormat(22050, 1), Path("out.raw"), options)->status & kSinkUnusable, 0);
  WriteRawSettings(settings, RawAudioKeys(), {22050, 2, kRawCodec16Be});
  SourceRef reader = OpenFormatReader(path, options);
  EXPECT_EQ(reader->rate, 22050);
  EXPECT_EQ(reader->channels, 2);
  EXPECT_EQ(ReadFrames(*reader, 1), (std::vector<std::int32_t>{0x0102 * 16, 0x0304 * 16}));

  // A header's data size bounds the length; a file cut short bounds it further; frames
  // before 0 and after the end are silence; an offset beyond the file is an empty sound.
  RawLayout layout;
  layout.data_offset = 2;
  layout.data_bytes = 4;
  layout.rate = 8000;
  layout.coding = SampleCoding::kSigned8;
  SourceRef bounded = OpenRawFileReader(MemoryBytes({9, 9, 1, 0xFF, 3, 4, 5, 6}), layout);
  EXPECT_EQ(bounded->Length(), 4);
  bounded->Seek(-2);
  EXPECT_EQ(ReadFrames(*bounded, 8), (std::vector<std::int32_t>{0, 0, 4096, -4096, 3 * 4096, 4 * 4096, 0, 0}));
  layout.data_bytes = 100;
  EXPECT_EQ(OpenRawFileReader(MemoryBytes({9, 9, 1, 2, 3}), layout)->Length(), 3);
  layout.data_offset = 50;
  EXPECT_EQ(OpenRawFileReader(MemoryBytes({9, 9, 1, 2, 3}), layout)->Length(), 0);
}

}  // namespace
}  // namespace sonavel
