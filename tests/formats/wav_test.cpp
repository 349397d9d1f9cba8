#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/codec_table.h"
#include "formats/pump.h"
#include "formats/stored_format.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/file.h"
#include "platform/ui.h"
#include "wav_fixture.h"

namespace sonavel {
namespace {

using testing::Drain;
using testing::FormatTest;
using testing::Le16;
using testing::Quote;
using testing::RawSamples;
using testing::ReadBytes;
using testing::RiffBuilder;
using testing::RunCommand;
using testing::WriteBytes;
using testing::WriteSound;

// The store value of a file sample, by container size (8-bit given as unsigned).
std::int32_t StoreValue(std::int64_t f, int bytes) {
  switch (bytes) {
    case 1: return static_cast<std::int32_t>((f - 128) << 12);
    case 2: return static_cast<std::int32_t>(f << 4);
    case 3: return static_cast<std::int32_t>(f >> 4);
    default: return static_cast<std::int32_t>((f + 2048) >> 12);
  }
}

class WavTest : public FormatTest {};

// ---- Reading files that sox wrote -------------------------------------------------------

TEST_F(WavTest, PcmOfEveryWidthReadsExactlyWhatSoxReads) {
  for (int bits : {8, 16, 24, 32}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << bits << " bits, " << channels << " channels");
      const std::string wav = Path("pcm.wav");
      const std::string raw = Path("pcm.raw");
      const char* encoding = bits == 8 ? "unsigned" : "signed";
      Sox("-D -r 22050 -n -c " + std::to_string(channels) + " -b " + std::to_string(bits) + " -e " +
          encoding + " " + Quote(wav) + " synth 12345s sine 300 whitenoise gain -0.5");
      Sox("-D " + Quote(wav) + " -t raw -e " + encoding + " -b " + std::to_string(bits) + " -L " + Quote(raw));
      const int bytes = bits / 8;
      std::vector<std::int64_t> file = RawSamples(raw, bytes, bits == 8);
      ASSERT_EQ(file.size(), 12345u * channels);
      SourceRef reader = OpenWavReader(wav);
      ASSERT_EQ(reader->status, kStatusOk);
      EXPECT_EQ(reader->rate, 22050);
      EXPECT_EQ(reader->channels, channels);
      EXPECT_EQ(reader->peak_bound, kFullScale);
      EXPECT_EQ(AsWavReader(reader.get())->format().tag, kTagPcm);  // extensible resolved
      EXPECT_EQ(reader->Length(), 12345);
      std::vector<std::int32_t> got = Drain(*reader);
      ASSERT_EQ(got.size(), file.size());
      for (std::size_t i = 0; i < file.size(); ++i)
        ASSERT_EQ(got[i], StoreValue(file[i], bytes)) << "sample " << i;
    }
  }
}

TEST_F(WavTest, FloatFilesReadWithinOneSixteenBitStep) {
  for (int bits : {32, 64}) {
    SCOPED_TRACE(bits);
    const std::string wav = Path("float.wav");
    const std::string raw = Path("float.raw");
    Sox("-D -r 8000 -n -c 2 -b " + std::to_string(bits) + " -e floating-point " + Quote(wav) +
        " synth 5001s sine 300 sine 1234 gain -0.2");
    Sox("-D " + Quote(wav) + " -t raw -e signed -b 32 -L " + Quote(raw));
    std::vector<std::int64_t> file = RawSamples(raw, 4);
    SourceRef reader = OpenWavReader(wav);
    ASSERT_EQ(reader->status, kStatusOk);
    EXPECT_EQ(AsWavReader(reader.get())->format().tag, kTagFloat);
    std::vector<std::int32_t> got = Drain(*reader);
    ASSERT_EQ(got.size(), file.size());
    for (std::size_t i = 0; i < file.size(); ++i)
      ASSERT_NEAR(got[i], static_cast<double>(file[i]) / 4096.0, 16.0) << "sample " << i;
  }
}

TEST_F(WavTest, CodedFilesDecodeExactlyAsSoxDecodesThem) {
  struct Case {
    const char* encoding;
    int bits;
    std::uint16_t tag;
  };
  for (const Case& c : {Case{"a-law", 8, kTagALaw}, Case{"u-law", 8, kTagMuLaw},
                        Case{"ima-adpcm", 4, kTagImaAdpcm}, Case{"ms-adpcm", 4, kTagMsAdpcm}}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << c.encoding << ", " << channels << " channels");
      const std::string wav = Path("coded.wav");
      const std::string raw = Path("coded.raw");
      Sox("-D -r 11025 -n -c " + std::to_string(channels) + " -e " + c.encoding + " -b " +
          std::to_string(c.bits) + " " + Quote(wav) + " synth 10007s sine 300 whitenoise gain -3");
      Sox("-D " + Quote(wav) + " -t raw -e signed -b 16 -L " + Quote(raw));
      std::vector<std::int64_t> file = RawSamples(raw, 2);
      SourceRef reader = OpenWavReader(wav);
      ASSERT_EQ(reader->status, kStatusOk);
      EXPECT_EQ(AsWavReader(reader.get())->format().tag, c.tag);
      std::vector<std::int32_t> got = Drain(*reader);
      ASSERT_GE(got.size(), file.size());
      // Block codecs may decode the padding of the last block too, never a whole block more.
      EXPECT_LT(got.size() - file.size(), 2048u * channels);
      for (std::size_t i = 0; i < file.size(); ++i)
        ASSERT_EQ(got[i], file[i] * 16) << "sample " << i;
      EXPECT_EQ(static_cast<std::size_t>(reader->Length()) * channels, got.size());
    }
  }
}

TEST_F(WavTest, CodedReaderSeeksToTheExactFrame) {
  const std::string wav = Path("seek.wav");
  Sox("-D -r 8000 -n -c 2 -e ima-adpcm " + Quote(wav) + " synth 20000s sine 300 whitenoise");
  SourceRef reader = OpenWavReader(wav);
  std::vector<std::int32_t> all = Drain(*reader);
  for (std::int32_t frame : {-7, 0, 1, 504, 505, 1000, 9999, 19990}) {
    SCOPED_TRACE(frame);
    reader->Seek(frame);
    EXPECT_EQ(reader->Position(), frame);
    std::vector<std::int32_t> piece(2 * 20);
    reader->Read(piece.data(), 20);
    for (int i = 0; i < 40; ++i) {
      const std::int64_t index = std::int64_t{frame} * 2 + i;
      const std::int32_t expected = index < 0 || index >= static_cast<std::int64_t>(all.size()) ? 0 : all[index];
      ASSERT_EQ(piece[i], expected) << "sample " << i;
    }
  }
  reader->Seek(10'000'000);  // past the end: silence, and the end is known
  std::vector<std::int32_t> piece(4, 7);
  reader->Read(piece.data(), 2);
  EXPECT_EQ(piece, std::vector<std::int32_t>(4, 0));
}

// ---- The RIFF walk ----------------------------------------------------------------------

std::vector<std::uint8_t> PcmWave(const WaveFormat& format, const std::vector<std::uint8_t>& data) {
  return RiffBuilder().Format(format).Chunk("data", data).Wave();
}

TEST_F(WavTest, ChunksAreWalkedWithEvenRoundingAndLeadingTopLevelChunks) {
  const std::vector<std::uint8_t> data = Le16({100, -100, 32767});
  // An odd "LIST" chunk before "fmt ", a "fact" chunk between "fmt " and "data".
  std::vector<std::uint8_t> wave = RiffBuilder()
                                       .Chunk("LIST", {1, 2, 3})
                                       .Format(PcmFormat(8000, 1, 16))
                                       .Chunk("fact", {3, 0, 0, 0})
                                       .Chunk("data", data)
                                       .Wave();
  // Another top-level chunk ahead of the RIFF form.
  std::vector<std::uint8_t> file = RiffBuilder().Chunk("JUNK", {9, 9, 9, 9, 9}).bytes();
  file.insert(file.end(), wave.begin(), wave.end());
  WriteBytes(Path("walk.wav"), file);
  SourceRef reader = OpenWavReader(Path("walk.wav"));
  ASSERT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(Drain(*reader), (std::vector<std::int32_t>{1600, -1600, 32767 * 16}));
}

TEST_F(WavTest, StructuralFaultsAreCorruptAndAMissingFileCannotOpen) {
  const std::vector<std::uint8_t> data = Le16({1, 2});
  const WaveFormat pcm = PcmFormat(8000, 1, 16);
  auto status_of = [&](const std::vector<std::uint8_t>& bytes) {
    WriteBytes(Path("bad.wav"), bytes);
    SourceRef reader = OpenWavReader(Path("bad.wav"));
    return reader->status;
  };
  EXPECT_EQ(status_of(RiffBuilder().Chunk("data", data).Format(pcm).Wave()), kStatusCorrupt);
  EXPECT_EQ(status_of(RiffBuilder().Chunk("data", data).Wave()), kStatusCorrupt);
  EXPECT_EQ(status_of(RiffBuilder().Format(pcm).Wave()), kStatusCorrupt);  // no data
  EXPECT_EQ(status_of({'R', 'I', 'F'}), kStatusCorrupt);
  EXPECT_EQ(status_of(RiffBuilder().Text("ABCD").U32(3).Text("WXYZ").bytes()), kStatusCorrupt);
  std::vector<std::uint8_t> short_fmt = SerializeFormat(pcm);
  short_fmt.resize(14);
  EXPECT_EQ(status_of(RiffBuilder().Chunk("fmt ", short_fmt).Chunk("data", data).Wave()), kStatusCorrupt);
  EXPECT_EQ(status_of(RiffBuilder().Chunk("fmt ", std::vector<std::uint8_t>(8194, 0)).Chunk("data", data).Wave()),
            kStatusCorrupt);
  // A chunk whose size reads as negative.
  EXPECT_EQ(status_of(RiffBuilder().Text("LIST").U32(0x80000000).Format(pcm).Chunk("data", data).Wave()),
            kStatusCorrupt);
  for (std::uint16_t channels : {0, 256}) {
    WaveFormat odd = pcm;
    odd.channels = channels;
    EXPECT_EQ(status_of(PcmWave(odd, data)), kStatusCorrupt) << channels << " channels";
  }
  for (std::uint32_t rate : {0u, 196001u}) {
    WaveFormat odd = pcm;
    odd.rate = rate;
    EXPECT_EQ(status_of(PcmWave(odd, data)), kStatusCorrupt) << rate << " Hz";
  }
  WaveFormat fast = pcm;
  fast.rate = 196000;
  EXPECT_EQ(status_of(PcmWave(fast, data)), kStatusOk);
  WaveFormat no_bits = pcm;
  no_bits.bits = 0;
  EXPECT_EQ(status_of(PcmWave(no_bits, data)), kStatusCorrupt);  // frame size 0
  WriteBytes(Path("no-bits.wav"), PcmWave(no_bits, data));
  EXPECT_EQ(OpenWavReader(Path("no-bits.wav"))->Length(), 0);  // a failed reader has no length
  WaveFormat unknown = pcm;
  unknown.tag = 0x1234;
  EXPECT_EQ(status_of(PcmWave(unknown, data)), kStatusCodecMissing);
  SourceRef missing = OpenWavReader(Path("does-not-exist.wav"));
  EXPECT_EQ(missing->status, kStatusCannotOpen);
  EXPECT_EQ(missing->Length(), 0);
}

TEST_F(WavTest, ContainerWidthDecidesTheConversion) {
  // 20 bits in 3-byte containers read as 24-bit, 12 bits in 2-byte containers as 16-bit.
  WaveFormat twenty = PcmFormat(8000, 1, 24);
  twenty.bits = 20;
  WriteBytes(Path("20.wav"), PcmWave(twenty, {0xF0, 0xFF, 0x7F, 0x00, 0x00, 0x80}));
  SourceRef reader = OpenWavReader(Path("20.wav"));
  EXPECT_EQ(Drain(*reader), (std::vector<std::int32_t>{0x7FFFF0 >> 4, -0x800000 >> 4}));
  WaveFormat twelve = PcmFormat(8000, 1, 16);
  twelve.bits = 12;
  WriteBytes(Path("12.wav"), PcmWave(twelve, Le16({-32768, 0x7FF0})));
  reader = OpenWavReader(Path("12.wav"));
  EXPECT_EQ(Drain(*reader), (std::vector<std::int32_t>{-32768 * 16, 0x7FF0 * 16}));
  // 32-bit: the rounding addition does not wrap.
  WriteBytes(Path("32.wav"), PcmWave(PcmFormat(8000, 1, 32), {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0x80}));
  reader = OpenWavReader(Path("32.wav"));
  EXPECT_EQ(Drain(*reader), (std::vector<std::int32_t>{524288, -524288}));
}

TEST_F(WavTest, DataSizesThatDisagreeWithTheFile) {
  const std::vector<std::uint8_t> samples = Le16({10, 20, 30, 40});
  // 0xFFFFFFFF: to the end of the file.
  std::vector<std::uint8_t> open_ended = RiffBuilder().Format(PcmFormat(8000, 1, 16)).Text("data").U32(0xFFFFFFFF).Raw(samples).Wave();
  WriteBytes(Path("open.wav"), open_ended);
  SourceRef reader = OpenWavReader(Path("open.wav"));
  EXPECT_EQ(reader->Length(), 4);
  EXPECT_EQ(Drain(*reader), (std::vector<std::int32_t>{160, 320, 480, 640}));
  EXPECT_EQ(AsWavReader(reader.get())->ClaimedDataBytes(), 8);
  // A header claiming 2 GB over 4 frames and an odd byte: the length is the whole frames
  // the file holds, and the claim stays known.
  std::vector<std::uint8_t> forged = samples;
  forged.push_back(0x55);
  WriteBytes(Path("long.wav"),
             RiffBuilder().Format(PcmFormat(8000, 1, 16)).Text("data").U32(0x80000000).Raw(forged).Wave());
  reader = OpenWavReader(Path("long.wav"));
  ASSERT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(reader->Length(), 4);
  EXPECT_EQ(AsWavReader(reader.get())->ClaimedDataBytes(), 0x80000000);
  EXPECT_EQ(AsWavReader(reader.get())->PresentDataBytes(), 9);
  std::vector<std::int32_t> got(6, 7);
  reader->Read(got.data(), 6);
  EXPECT_EQ(got, (std::vector<std::int32_t>{160, 320, 480, 640, 0, 0}));
  EXPECT_EQ(reader->Position(), 6);
  // Before the start, and a seek past the end.
  reader->Seek(-2);
  got.assign(4, 7);
  reader->Read(got.data(), 4);
  EXPECT_EQ(got, (std::vector<std::int32_t>{0, 0, 160, 320}));
  reader->Seek(50);
  got.assign(2, 7);
  reader->Read(got.data(), 2);
  EXPECT_EQ(got, (std::vector<std::int32_t>{0, 0}));
}

TEST_F(WavTest, ACutFileIsAsLongAsWhatRemains) {
  // PCM cut inside a frame: the whole frames that remain, exactly the original's first ones.
  const std::string wav = Path("cut.wav");
  Sox("-D -r 8000 -n -c 2 -b 24 " + Quote(wav) + " synth 10000s sine 300 whitenoise gain -1");
  SourceRef whole = OpenWavReader(wav);
  const std::vector<std::int32_t> original = Drain(*whole);
  std::vector<std::uint8_t> bytes = ReadBytes(wav);
  const std::size_t data = std::search(bytes.begin(), bytes.end(), std::begin("data"), std::end("data") - 1) - bytes.begin() + 8;
  bytes.resize(data + 1234 * 6 + 5);
  WriteBytes(wav, bytes);
  SourceRef cut = OpenWavReader(wav);
  EXPECT_EQ(cut->Length(), 1234);
  EXPECT_EQ(AsWavReader(cut.get())->ClaimedDataBytes(), 60000);
  EXPECT_EQ(Drain(*cut), std::vector<std::int32_t>(original.begin(), original.begin() + 2 * 1234));

  // IMA ADPCM cut inside its third block: two whole blocks, decoded as before, and seeks
  // and the length agree on them.
  const std::string ima = Path("cut-ima.wav");
  Sox("-D -r 8000 -n -c 2 -e ima-adpcm " + Quote(ima) + " synth 20000s sine 300 whitenoise");
  whole = OpenWavReader(ima);
  const WaveFormat format = AsWavReader(whole.get())->format();
  const std::vector<std::int32_t> decoded = Drain(*whole);
  bytes = ReadBytes(ima);
  const std::size_t ima_data = std::search(bytes.begin(), bytes.end(), std::begin("data"), std::end("data") - 1) - bytes.begin() + 8;
  bytes.resize(ima_data + 2 * format.block_align + format.block_align / 2);
  WriteBytes(ima, bytes);
  // Each channel's 4-byte block header holds one frame; every other byte holds two samples.
  const std::int32_t block_frames = (format.block_align - 4 * 2) + 1;
  cut = OpenWavReader(ima);
  ASSERT_EQ(cut->status, kStatusOk);
  EXPECT_EQ(cut->Length(), 2 * block_frames);
  const std::vector<std::int32_t> two_blocks = Drain(*cut);
  EXPECT_EQ(two_blocks, std::vector<std::int32_t>(decoded.begin(), decoded.begin() + 4 * block_frames));
  EXPECT_EQ(cut->Length(), 2 * block_frames);
  cut->Seek(block_frames + 7);
  std::vector<std::int32_t> piece(2 * 10);
  cut->Read(piece.data(), 10);
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), decoded.begin() + 2 * (block_frames + 7)));
  cut->Seek(2 * block_frames - 3);  // the last frames, then silence
  cut->Read(piece.data(), 10);
  EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + 6, decoded.begin() + 2 * (2 * block_frames - 3)));
  EXPECT_EQ(std::vector<std::int32_t>(piece.begin() + 6, piece.end()), std::vector<std::int32_t>(14, 0));
}

TEST_F(WavTest, ACorruptCodedBlockIsSkippedAndDecodingGoesOn) {
  const std::string wav = Path("ima.wav");
  Sox("-D -r 8000 -n -c 1 -e ima-adpcm " + Quote(wav) + " synth 8000s sine 300");
  std::vector<std::uint8_t> bytes = ReadBytes(wav);
  SourceRef clean = OpenWavReader(wav);
  const WaveFormat format = AsWavReader(clean.get())->format();
  std::vector<std::int32_t> reference = Drain(*clean);
  // Break the step index of the second block (byte 2 of its header).
  const std::size_t data = std::search(bytes.begin(), bytes.end(), std::begin("data"), std::end("data") - 1) - bytes.begin() + 8;
  bytes[data + format.block_align + 2] = 200;
  WriteBytes(wav, bytes);
  SourceRef reader = OpenWavReader(wav);
  ASSERT_EQ(reader->status, kStatusOk);
  EXPECT_FALSE(AsWavReader(reader.get())->LengthIsExact());  // an estimate until the end
  std::vector<std::int32_t> got = Drain(*reader);
  EXPECT_TRUE(AsWavReader(reader.get())->LengthIsExact());
  EXPECT_LT(got.size(), reference.size());
  // The first block decodes as before, and the end of the file decodes as before.
  const std::size_t block_frames = reference.size() / ((bytes.size() - data) / format.block_align);
  ASSERT_GT(got.size(), block_frames);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(block_frames), reference.begin()));
  EXPECT_TRUE(std::equal(got.end() - 100, got.end(), reference.end() - 100));
}

// ---- Writing ----------------------------------------------------------------------------

std::vector<std::int32_t> TestSignal(int frames, int channels) {
  std::vector<std::int32_t> out;
  std::uint32_t noise = 12345;
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      noise = noise * 1103515245u + 12345u;
      const double tone = std::sin(i * (0.05 + 0.03 * c)) * 300000.0;
      out.push_back(static_cast<std::int32_t>(tone) + static_cast<std::int32_t>(noise >> 20) - 2048);
    }
  }
  out[0] = kFullScale;  // the extremes, too
  out[1] = -kFullScale;
  return out;
}

TEST_F(WavTest, PcmFilesWeWriteAreReadBySoxSampleForSample) {
  for (int bits : {8, 16, 24, 32}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << bits << " bits, " << channels << " channels");
      std::vector<std::int32_t> signal = TestSignal(9001, channels);
      Sound sound = WriteSound(signal, static_cast<std::uint8_t>(channels), 16000);
      SilentProgress progress;
      const std::string wav = Path("ours.wav");
      ASSERT_EQ(SaveSoundAsWav(sound, PcmFormat(16000, channels, bits), wav, progress), kDone);
      const std::string raw = Path("ours.raw");
      Sox("-D " + Quote(wav) + " -t raw -e signed -b 32 -L " + Quote(raw));
      std::vector<std::int64_t> peer = RawSamples(raw, 4);
      ASSERT_EQ(peer.size(), signal.size());
      for (std::size_t i = 0; i < signal.size(); ++i) {
        const std::int64_t s = signal[i];
        std::int64_t expected;  // the file value, placed in 32 bits as sox reads it
        if (bits == 8) expected = (std::clamp<std::int64_t>((s + 2048) >> 12, -128, 127)) << 24;
        else if (bits == 16) expected = ((s + 8) >> 4) << 16;
        else if (bits == 24) expected = (s << 4) << 8;
        else expected = s << 12;
        ASSERT_EQ(peer[i], expected) << "sample " << i;
      }
      // And our own reader gets back what the conversions promise.
      SourceRef reader = OpenWavReader(wav);
      std::vector<std::int32_t> back = Drain(*reader);
      ASSERT_EQ(back.size(), signal.size());
      if (bits == 24) {
        EXPECT_EQ(back, signal);
      }
    }
  }
}

TEST_F(WavTest, CodedFilesWeWriteDecodeTheSameInSoxAndHere) {
  struct Case {
    std::uint16_t tag;
    std::uint16_t bits;
  };
  for (const Case& c : {Case{kTagFloat, 32}, Case{kTagFloat, 64}, Case{kTagALaw, 8}, Case{kTagMuLaw, 8},
                        Case{kTagImaAdpcm, 4}, Case{kTagMsAdpcm, 4}}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << FormatTagName(c.tag) << ", " << channels << " channels");
      std::vector<std::int32_t> signal = TestSignal(7777, channels);
      Sound sound = WriteSound(signal, static_cast<std::uint8_t>(channels), 22050);
      WaveFormat format = SuggestFormat(c.tag, 22050, static_cast<std::uint16_t>(channels), c.bits);
      ASSERT_EQ(format.tag, c.tag);
      SilentProgress progress;
      const std::string wav = Path("coded-out.wav");
      ASSERT_EQ(SaveSoundAsWav(sound, format, wav, progress), kDone);
      const std::string raw = Path("coded-out.raw");
      Sox("-D " + Quote(wav) + " -t raw -e signed -b 16 -L " + Quote(raw));
      std::vector<std::int64_t> peer = RawSamples(raw, 2);
      SourceRef reader = OpenWavReader(wav);
      ASSERT_EQ(reader->status, kStatusOk);
      std::vector<std::int32_t> ours = Drain(*reader);
      ASSERT_GE(peer.size(), signal.size());
      ASSERT_GE(ours.size(), signal.size());
      double error = 0;
      double power = 0;
      for (std::size_t i = 0; i < signal.size(); ++i) {
        ASSERT_NEAR(ours[i], peer[i] * 16, c.tag == kTagFloat ? 16 : 0) << "sample " << i;
        error += std::pow(ours[i] - signal[i], 2);
        power += std::pow(signal[i], 2);
      }
      EXPECT_GT(10 * std::log10(power / error), c.tag == kTagFloat ? 60 : 20) << "signal to noise";
    }
  }
}

TEST_F(WavTest, BlocksLargerThanOnePieceAreWrittenAndReadWhole) {
  // IMA ADPCM mono in 8192-byte blocks: 16377 frames a block, twice what one piece holds.
  WaveFormat big = SuggestFormat(kTagImaAdpcm, 8000, 1, 4);
  big.block_align = 8192;
  WriteLe16(big.extra.data(), 16377);
  big.avg_bytes_per_sec = 8000 * 8192 / 16377;
  std::vector<std::int32_t> signal = TestSignal(40000, 1);
  Sound sound = WriteSound(signal, 1, 8000);
  SilentProgress progress;
  ASSERT_EQ(SaveSoundAsWav(sound, big, Path("big.wav"), progress), kDone);
  SourceRef reader = OpenWavReader(Path("big.wav"));
  ASSERT_EQ(reader->status, kStatusOk);
  std::vector<std::int32_t> ours = Drain(*reader);
  Sox("-D " + Quote(Path("big.wav")) + " -t raw -e signed -b 16 -L " + Quote(Path("big.raw")));
  std::vector<std::int64_t> peer = RawSamples(Path("big.raw"), 2);
  ASSERT_GE(ours.size(), signal.size());
  ASSERT_GE(peer.size(), signal.size());
  for (std::size_t i = 0; i < signal.size(); ++i) ASSERT_EQ(ours[i], peer[i] * 16) << "sample " << i;
}

TEST_F(WavTest, PcmHeaderIsProvisionalUntilFinishedAndSeekCutsTheFile) {
  const std::string wav = Path("header.wav");
  {
    SinkRef writer = CreateWavWriter(PcmFormat(8000, 1, 8), wav);
    std::int32_t samples[5] = {kFullScale, -kFullScale, 0, 2047, 2048};
    writer->Write(samples, 5);
    std::vector<std::uint8_t> partial = ReadBytes(wav);
    ASSERT_EQ(partial.size(), 51u);
    EXPECT_EQ(ReadLe32(&partial[4]), 0xFFFFFFFFu);
    EXPECT_EQ(ReadLe32(&partial[42]), 0xFFFFFFFFu);
    // A reader of the unfinished file runs to its end.
    SourceRef reader = OpenWavReader(wav);
    EXPECT_EQ(reader->Length(), 5);
  }
  std::vector<std::uint8_t> bytes = ReadBytes(wav);
  const std::vector<std::uint8_t> expected = {
      'R', 'I', 'F', 'F', 43, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 18, 0, 0, 0,
      1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 0, 0, 'd', 'a', 't', 'a', 5, 0, 0, 0,
      255, 0, 128, 128, 129};  // odd data size, no pad byte
  EXPECT_EQ(bytes, expected);

  {
    SinkRef writer = CreateWavWriter(PcmFormat(8000, 2, 16), wav);  // replaces the old file
    std::vector<std::int32_t> samples(2000, 1600);
    writer->Write(samples.data(), 1000);
    writer->Seek(1200);  // beyond what was written: nothing happens
    EXPECT_EQ(writer->position, 1000);
    writer->Seek(300);
    EXPECT_EQ(std::filesystem::file_size(wav), 46u + 300 * 4);
    writer->Write(samples.data(), 10);
  }
  SourceRef reader = OpenWavReader(wav);
  EXPECT_EQ(reader->Length(), 310);
  EXPECT_EQ(std::filesystem::file_size(wav), 46u + 310 * 4);
}

TEST_F(WavTest, WritersSaturateInsteadOfWrapping) {
  EXPECT_EQ(StoreTo16(kFullScale), 32767);
  EXPECT_EQ(StoreTo16(524288), 32767);  // a 32-bit file's largest sample, saved as 16 bits
  EXPECT_EQ(StoreTo16(-524288), -32768);
  EXPECT_EQ(StoreTo16(-0x7FFFFFFF - 1), -32768);
  EXPECT_EQ(StoreTo16(7), 0);
  EXPECT_EQ(StoreTo16(8), 1);
  EXPECT_EQ(StoreTo16(-9), -1);
}

TEST_F(WavTest, AWriterThatCannotCreateItsFileIsUnusable) {
  SinkRef pcm = CreateWavWriter(PcmFormat(8000, 1, 16), Path("missing/folder/x.wav"));
  EXPECT_NE(pcm->status & kSinkUnusable, 0);
  SinkRef coded = CreateWavWriter(SuggestFormat(kTagImaAdpcm, 8000, 1, 4), Path("missing/x.wav"));
  EXPECT_NE(coded->status & kSinkUnusable, 0);
  WaveFormat unknown = PcmFormat(8000, 1, 16);
  unknown.tag = 0x4242;
  SinkRef no_codec = CreateWavWriter(unknown, Path("nocodec.wav"));
  EXPECT_NE(no_codec->status & kSinkUnusable, 0);
}

TEST_F(WavTest, AFailedOrCancelledSaveLeavesTheOldFile) {
  const std::string wav = Path("keep.wav");
  WriteBytes(wav, {1, 2, 3});
  Sound sound = WriteSound(TestSignal(100, 1), 1, 8000);
  class CancelAtOnce final : public Progress {
   public:
    void SetTexts(std::string_view, std::string_view) override {}
    void SetFraction(double) override {}
    bool Pump() override { return true; }
  } cancel;
  EXPECT_EQ(SaveSoundAsWav(sound, PcmFormat(8000, 1, 16), wav, cancel), kCancelled);
  EXPECT_EQ(ReadBytes(wav), (std::vector<std::uint8_t>{1, 2, 3}));
  SilentProgress progress;
  EXPECT_EQ(SaveSoundAsWav(sound, PcmFormat(22050, 1, 16), wav, progress), kFailed);  // rate differs
  EXPECT_EQ(ReadBytes(wav), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(SaveSoundAsWav(sound, PcmFormat(8000, 1, 16), wav, progress), kDone);
  EXPECT_EQ(std::filesystem::file_size(wav), 46u + 200);
  int leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    leftovers += entry.path().filename().string().find(".part-") != std::string::npos;
  EXPECT_EQ(leftovers, 0);
}

TEST_F(WavTest, LoadingCopiesTheWholeFileIntoOneBlock) {
  const std::string wav = Path("load.wav");
  Sox("-D -r 11025 -n -c 2 -e ima-adpcm " + Quote(wav) + " synth 3001s sine 300");
  SourceRef reader = OpenWavReader(wav);
  std::vector<std::int32_t> expected = Drain(*reader);
  reader->Seek(0);
  Sound sound;
  SilentProgress progress;
  ASSERT_EQ(LoadIntoSound(*reader, sound, progress, "Lade Datei load.wav"), kDone);
  EXPECT_EQ(sound.rate, 11025);
  EXPECT_EQ(sound.channels, 2);
  EXPECT_EQ(SegmentCount(sound), 1);
  EXPECT_EQ(testing::ReadAll(sound), expected);
  SourceRef broken = OpenWavReader(Path("nothing.wav"));
  EXPECT_EQ(LoadIntoSound(*broken, sound, progress, "x"), kFailed);
  EXPECT_EQ(testing::ReadAll(sound), expected);  // unchanged
}

// ---- The stored save format -------------------------------------------------------------

class StoredFormatTest : public WavTest {
 protected:
  void SetUp() override {
    WavTest::SetUp();
    ::setenv("SONAVEL_DATA_DIR", Path("data").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("SONAVEL_DATA_DIR");
    WavTest::TearDown();
  }
};

TEST_F(StoredFormatTest, TheWholeBufferIsKeptAndOnlyAWholeFileCounts) {
  FormatBuffer buffer = ToBuffer(DefaultFormat(44100, 2));
  EXPECT_FALSE(LoadStoredWavFormat(buffer));
  EXPECT_EQ(FromBuffer(buffer), DefaultFormat(44100, 2));
  EXPECT_EQ(SaveFormatFor(32000, 1), DefaultFormat(32000, 1));  // no file: the default

  const WaveFormat ima = SuggestFormat(kTagImaAdpcm, 22050, 1, 4);
  ASSERT_TRUE(SaveStoredWavFormat(ToBuffer(ima)));
  EXPECT_EQ(std::filesystem::file_size(StoredWavFormatPath()), 1024u);
  EXPECT_EQ(StoredWavFormatPath(), Path("data") + "/WavCodec.wff");
  EXPECT_TRUE(LoadStoredWavFormat(buffer));
  EXPECT_EQ(FromBuffer(buffer), ima);
  // A coded format is written as stored, whatever the sound's rate and channels.
  EXPECT_EQ(SaveFormatFor(44100, 2), ima);
  EXPECT_EQ(ChooserStartFormat(44100, 2), ima);

  ASSERT_TRUE(SaveStoredWavFormat(ToBuffer(PcmFormat(22050, 1, 8))));
  EXPECT_EQ(SaveFormatFor(44100, 2), PcmFormat(22050, 1, 8));
  EXPECT_EQ(ChooserStartFormat(44100, 2), PcmFormat(44100, 2, 8));  // PCM takes the sound's

  WriteBytes(StoredWavFormatPath(), std::vector<std::uint8_t>(1023, 0));  // one byte short
  FormatBuffer untouched = ToBuffer(DefaultFormat(8000, 1));
  EXPECT_FALSE(LoadStoredWavFormat(untouched));
  EXPECT_EQ(FromBuffer(untouched), DefaultFormat(8000, 1));
}

TEST_F(StoredFormatTest, AChosenFormatWithoutACodecIsRefused) {
  ScriptedUi ui;
  WaveFormat mp3 = PcmFormat(44100, 2, 16);
  mp3.tag = kTagMpegLayer3;
  EXPECT_FALSE(AcceptChosenWavFormat(mp3, ui));
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].text,
            "Das gewählte Format ist nicht verfügbar, weil der benötigte CODEC auf Ihrem Computer "
            "nicht installiert ist.");
  EXPECT_EQ(ui.shown()[0].caption, "Format nicht verfügbar");
  EXPECT_EQ(ui.shown()[0].icon, MessageIcon::kError);
  EXPECT_FALSE(std::filesystem::exists(StoredWavFormatPath()));
  const WaveFormat alaw = SuggestFormat(kTagALaw, 8000, 1, 8);
  EXPECT_TRUE(AcceptChosenWavFormat(alaw, ui));
  EXPECT_EQ(SaveFormatFor(44100, 2), alaw);
  EXPECT_TRUE(AcceptChosenWavFormat(PcmFormat(8000, 1, 24), ui));
  EXPECT_EQ(ui.shown().size(), 1u);
}

// Small files of every kind, whole and damaged, with the status each must open with. With
// SONAVEL_FUZZ_SEEDS set they are also copied there as the WAV reader fuzzer's corpus.
class FuzzSeeds : public WavTest {};

TEST_F(FuzzSeeds, SmallFilesOfEveryKindOpenAsExpected) {
  std::vector<std::pair<std::string, std::uint8_t>> seeds;
  struct Kind {
    const char* name;
    const char* arguments;
  };
  for (const Kind& kind : {Kind{"pcm8", "-b 8 -e unsigned"}, Kind{"pcm16", "-b 16"}, Kind{"pcm24", "-b 24"},
                           Kind{"pcm32", "-b 32"}, Kind{"float32", "-e floating-point -b 32"},
                           Kind{"float64", "-e floating-point -b 64"}, Kind{"alaw", "-e a-law"},
                           Kind{"ulaw", "-e u-law"}, Kind{"ima", "-e ima-adpcm"}, Kind{"ms", "-e ms-adpcm"}}) {
    const std::string name = std::string(kind.name) + ".wav";
    Sox("-D -r 8000 -n -c 2 " + std::string(kind.arguments) + " " + Quote(Path(name)) + " synth 301s sine 440");
    seeds.emplace_back(name, kStatusOk);
    // The same file cut short in its data, and cut inside its header.
    std::vector<std::uint8_t> bytes = ReadBytes(Path(name));
    WriteBytes(Path(std::string("cut-") + name), std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 101));
    seeds.emplace_back(std::string("cut-") + name, kStatusOk);
    WriteBytes(Path(std::string("head-") + name), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 30));
    seeds.emplace_back(std::string("head-") + name, kStatusCorrupt);
  }
  // The 64-bit forms: RF64 with its size in the ds64 chunk, BW64 with a chunk sized by the
  // ds64 table, and RF64 without its ds64 chunk.
  const std::vector<std::uint8_t> data = Le16({1, -2, 3, -4, 5, -6});
  const RiffBuilder body = RiffBuilder().Format(PcmFormat(8000, 2, 16)).Text("data").U32(0xFFFFFFFF).Raw(data);
  WriteBytes(Path("rf64.wav"), body.Wide("RF64", data.size(), 3));
  seeds.emplace_back("rf64.wav", kStatusOk);
  WriteBytes(Path("bw64.wav"), RiffBuilder().Text("bext").U32(0xFFFFFFFF).Raw({1, 0}).Raw(body.bytes()).Wide("BW64", 8, 2, {{"bext", 2}}));
  seeds.emplace_back("bw64.wav", kStatusOk);
  std::vector<std::uint8_t> no_ds64 = body.Wave();
  std::copy_n("RF64", 4, no_ds64.begin());
  WriteBytes(Path("rf64-no-ds64.wav"), no_ds64);
  seeds.emplace_back("rf64-no-ds64.wav", kStatusCorrupt);
  for (const auto& [name, status] : seeds) {
    SourceRef reader = OpenWavReader(Path(name));
    EXPECT_EQ(reader->status, status) << name;
    std::vector<std::int32_t> all = Drain(*reader);
    if (status != kStatusOk) {
      EXPECT_TRUE(all.empty()) << name;
    }
  }
  if (const char* corpus = std::getenv("SONAVEL_FUZZ_SEEDS"); corpus != nullptr && *corpus != '\0') {
    for (const auto& seed : seeds)
      std::filesystem::copy_file(Path(seed.first), JoinPath(corpus, seed.first),
                                 std::filesystem::copy_options::overwrite_existing);
  }
}

TEST(WaveFormatRecord, ParsesSerializesAndResolvesExtensible) {
  WaveFormat format = PcmFormat(48000, 2, 24);
  format.extra = {1, 2, 3};
  std::vector<std::uint8_t> bytes = SerializeFormat(format);
  ASSERT_EQ(bytes.size(), 21u);
  EXPECT_EQ(ReadLe16(&bytes[16]), 3);
  EXPECT_EQ(ParseFormat(bytes.data(), bytes.size()), format);
  EXPECT_EQ(ParseFormat(bytes.data(), 16).extra.size(), 0u);  // 16-byte "fmt ": cbSize 0
  EXPECT_EQ(ParseFormat(bytes.data(), 19).extra, (std::vector<std::uint8_t>{1}));  // cut off
  EXPECT_EQ(DefaultFormat(22050, 2).avg_bytes_per_sec, 88200u);
  EXPECT_EQ(DefaultFormat(22050, 2).block_align, 4);

  WaveFormat extensible = PcmFormat(44100, 2, 32);
  extensible.tag = kTagExtensible;
  extensible.extra = {24, 0, 3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  WaveFormat resolved = ResolveExtensible(extensible);
  EXPECT_EQ(resolved.tag, kTagFloat);
  EXPECT_EQ(resolved.bits, 32);
  EXPECT_TRUE(resolved.extra.empty());
  extensible.extra[21] = 0x72;  // not the standard sub-format family
  EXPECT_EQ(ResolveExtensible(extensible).tag, kTagExtensible);
}

}  // namespace
}  // namespace sonavel
