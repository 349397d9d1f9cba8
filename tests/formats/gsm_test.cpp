// GSM 06.10: the codec against toast and untoast (libgsm-tools), GSM in WAV against sox,
// and the ".gsm" reader and writer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "format_fuzz_seeds.h"
#include "formats/codec_table.h"
#include "formats/format_table.h"
#include "formats/gsm610.h"
#include "formats/gsm_file.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "sox_peer.h"

namespace sonavel {
namespace {

using testing::Le16;
using testing::Quote;
using testing::ReadBytes;
using testing::RunCommand;
using testing::Samples16;
using testing::WriteBytes;

// Speech-like 16-bit PCM at 8000 Hz: a voiced pulse train whose pitch glides, through three
// formant resonators, plus breath noise, under a syllable envelope, scaled to `peak`.
std::vector<std::int16_t> SpeechLike(int samples, double peak, double noise_level, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0, 1);
  struct Resonator {
    double a1, a2, y1 = 0, y2 = 0;
    Resonator(double frequency, double bandwidth) {
      const double r = std::exp(-M_PI * bandwidth / 8000);
      a1 = 2 * r * std::cos(2 * M_PI * frequency / 8000);
      a2 = -r * r;
    }
    double Run(double x) {
      const double y = x + a1 * y1 + a2 * y2;
      y2 = y1;
      y1 = y;
      return y;
    }
  };
  Resonator formants[3] = {{530, 90}, {1480, 130}, {2600, 180}};
  std::vector<double> signal(static_cast<std::size_t>(samples));
  double phase = 0;
  double largest = 0;
  for (int n = 0; n < samples; ++n) {
    const double t = n / 8000.0;
    phase += (115 + 35 * std::sin(2 * M_PI * 0.7 * t)) / 8000;
    double x = noise_level * noise(random);
    if (phase >= 1) {
      phase -= 1;
      x += 1;
    }
    for (Resonator& formant : formants) x = formant.Run(x) * 0.3;
    signal[static_cast<std::size_t>(n)] = x * (0.15 + std::fabs(std::sin(M_PI * 2.5 * t)));
    largest = std::max(largest, std::fabs(signal[static_cast<std::size_t>(n)]));
  }
  std::vector<std::int16_t> out;
  for (double x : signal) out.push_back(static_cast<std::int16_t>(std::lround(x / largest * peak * 32767)));
  return out;
}

std::vector<std::int32_t> ToStore(const std::vector<std::int16_t>& samples) {
  std::vector<std::int32_t> out;
  for (std::int16_t s : samples) out.push_back(s * 16);
  return out;
}

// Signal-to-noise ratio in dB of `decoded` against `original` over their common length.
double Snr(const std::vector<std::int16_t>& original, const std::vector<std::int16_t>& decoded) {
  double signal = 0;
  double error = 0;
  for (std::size_t i = 0; i < std::min(original.size(), decoded.size()); ++i) {
    const double x = original[i];
    signal += x * x;
    error += (x - decoded[i]) * (x - decoded[i]);
  }
  return 10 * std::log10(signal / error);
}

class GsmTest : public testing::SoxPeerTest {
 protected:
  // A peer run with its stdin and stdout redirected; the test fails when it fails.
  void Peer(const std::string& command, const std::string& in, const std::string& out) {
    ASSERT_EQ(RunCommand(command + " < " + Quote(in) + " > " + Quote(out) + " 2>/dev/null"), 0) << command;
  }
  std::vector<std::int16_t> Untoast(const std::vector<std::uint8_t>& frames) {
    WriteBytes(Path("untoast-in.gsm"), frames);
    Peer("untoast -l -c", Path("untoast-in.gsm"), Path("untoast-out.raw"));
    return Samples16(ReadBytes(Path("untoast-out.raw")));
  }
};

// The 16-bit samples our ".gsm" reader delivers for `file`.
std::vector<std::int16_t> ReadGsm16(const std::vector<std::uint8_t>& file) {
  SourceRef reader = OpenGsmReader(MemoryBytes(file));
  std::vector<std::int32_t> samples(static_cast<std::size_t>(reader->Length()));
  reader->Read(samples.data(), reader->Length());
  std::vector<std::int16_t> out;
  for (std::int32_t s : samples) out.push_back(StoreTo16(s));
  return out;
}

TEST_F(GsmTest, ExactSizesSignatureAndFormatEntry) {
  // 100 bytes: three whole frames; the trailing byte is ignored.
  SourceRef reader = OpenGsmReader(MemoryBytes(std::vector<std::uint8_t>(100, 0xD5)));
  EXPECT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(reader->Length(), 480);
  EXPECT_EQ(reader->rate, 8000);
  EXPECT_EQ(reader->channels, 1);
  EXPECT_EQ(reader->peak_bound, 1048544);
  EXPECT_EQ(OpenGsmReader(MemoryBytes(std::vector<std::uint8_t>(32))).get()->Length(), 0);
  EXPECT_EQ(OpenGsmReader(nullptr)->status, kStatusCannotOpen);

  // 161 samples are two frames, the second completed with silence; each starts with 0xD.
  const std::string path = Path("short.gsm");
  {
    SinkRef writer = CreateGsmWriter(path);
    EXPECT_EQ(writer->rate, 8000);
    const std::vector<std::int32_t> samples = ToStore(SpeechLike(161, 0.5, 0.1, 3));
    writer->Write(samples.data(), 161);
    EXPECT_EQ(writer->position, 161);
  }
  const std::vector<std::uint8_t> file = ReadBytes(path);
  ASSERT_EQ(file.size(), 66u);
  EXPECT_EQ(file[0] >> 4, 0xD);
  EXPECT_EQ(file[33] >> 4, 0xD);
  EXPECT_EQ(CreateGsmWriter(Path("no/such/folder.gsm"))->status & kSinkUnusable, kSinkUnusable);

  // One 65-byte block of GSM in WAV holds 320 samples.
  const WaveFormat gsm = SuggestFormat(kTagGsm610, 8000, 1, 0);
  EXPECT_EQ(gsm.block_align, 65);
  EXPECT_EQ(gsm.avg_bytes_per_sec, 1625u);
  EXPECT_EQ(gsm.extra, (std::vector<std::uint8_t>{0x40, 0x01}));
  EXPECT_EQ(SuggestFormat(kTagGsm610, 16000, 1, 0).avg_bytes_per_sec, 3250u);
  WriteBytes(Path("block.wav"), testing::MinimalWav(gsm, std::vector<std::uint8_t>(65, 0)));
  EXPECT_EQ(OpenWavReader(Path("block.wav"))->Length(), 320);

  // The format table: ".gsm" is "GSM", saves 8000 Hz mono, and any failure names access.
  const FileFormat* entry = FormatForPath("/x/Speech.GSM");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->name, "GSM");
  EXPECT_EQ(SaveFormatFor("a.gsm", DefaultFormat(44100, 2), {}), DefaultFormat(8000, 1));
  for (std::uint8_t status : {kStatusCannotOpen, kStatusCorrupt})
    EXPECT_EQ(OpenErrorText("/x/a.gsm", status),
              "Cannot open the file \"/x/a.gsm\". Check it exists and you have read access.");
}

// toast and untoast on speech-like signals: loud (saturating paths), quiet, and noisy.
TEST_F(GsmTest, CodecAgreesWithToastAndUntoast) {
  struct Case {
    double peak;
    double noise;
    unsigned seed;
  };
  for (const Case& each : {Case{0.999, 0.05, 1}, Case{0.01, 0.02, 2}, Case{0.6, 2.0, 3}}) {
    SCOPED_TRACE(each.seed);
    const std::vector<std::int16_t> input = SpeechLike(16000, each.peak, each.noise, each.seed);
    WriteBytes(Path("in.raw"), Le16(input));
    Peer("toast -l -c", Path("in.raw"), Path("toast.gsm"));
    const std::vector<std::uint8_t> toast = ReadBytes(Path("toast.gsm"));
    ASSERT_EQ(toast.size(), 100u * 33u);

    // With the standard's own pre-processing our frames are toast's, byte for byte, and
    // the standard's post-processing decodes them to untoast's samples exactly.
    GsmEncoder encoder;
    GsmDecoder decoder;
    std::vector<std::uint8_t> ours(toast.size());
    std::vector<std::int16_t> decoded(input.size());
    for (std::size_t f = 0; f < 100; ++f) {
      GsmFrame frame;
      encoder.EncodePcm16(&input[160 * f], frame);
      PackGsmFrame(frame, &ours[33 * f]);
      GsmFrame theirs;
      UnpackGsmFrame(&toast[33 * f], theirs);
      decoder.DecodePcm16(theirs, &decoded[160 * f]);
    }
    EXPECT_EQ(ours, toast);
    const std::vector<std::int16_t> untoast = Untoast(toast);
    EXPECT_EQ(decoded, untoast);

    // The ".gsm" reader's de-emphasis in store units rounds where the standard truncates to
    // 13 bits, and its pole (880 / 1024) lies 0.0006 from the standard's (28180 / 32768),
    // which tells more the louder the sound: within 12 + peak / 512 steps of 16 bits.
    const std::vector<std::int16_t> read = ReadGsm16(toast);
    ASSERT_EQ(read.size(), untoast.size());
    int worst = 0;
    int peak = 0;
    for (std::size_t i = 0; i < read.size(); ++i) {
      worst = std::max(worst, std::abs(read[i] - untoast[i]));
      peak = std::max(peak, std::abs(int{untoast[i]}));
    }
    EXPECT_LE(worst, 12 + peak / 512);

    // What our writer codes from store samples, untoast decodes as well as toast's own.
    {
      SinkRef writer = CreateGsmWriter(Path("ours.gsm"));
      const std::vector<std::int32_t> store = ToStore(input);
      writer->Write(store.data(), static_cast<std::int32_t>(store.size()));
    }
    const std::vector<std::uint8_t> mine = ReadBytes(Path("ours.gsm"));
    ASSERT_EQ(mine.size(), toast.size());
    const double our_snr = Snr(input, Untoast(mine));
    const double toast_snr = Snr(input, untoast);
    EXPECT_NEAR(our_snr, toast_snr, 0.5);
    EXPECT_GT(toast_snr, 3.0);
  }
}

// Random frames (every bit pattern, invalid lags included) decode as untoast decodes them.
TEST_F(GsmTest, ArbitraryFramesDecodeAsUntoastDecodesThem) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> frames(33 * 400);
  for (std::size_t i = 0; i < frames.size(); ++i)
    frames[i] = static_cast<std::uint8_t>(i % 33 == 0 ? 0xD0 | (random() & 15) : random());
  GsmDecoder decoder;
  std::vector<std::int16_t> decoded(160 * 400);
  for (std::size_t f = 0; f < 400; ++f) {
    GsmFrame frame;
    UnpackGsmFrame(&frames[33 * f], frame);
    decoder.DecodePcm16(frame, &decoded[160 * f]);
    std::uint8_t again[33];
    PackGsmFrame(frame, again);
    EXPECT_TRUE(std::equal(again, again + 33, &frames[33 * f]));
  }
  EXPECT_EQ(decoded, Untoast(frames));
  // The store-unit decoder keeps its announced bound on the same frames.
  SourceRef reader = OpenGsmReader(MemoryBytes(frames));
  const std::vector<std::int32_t> all = testing::Drain(*reader);
  const auto [low, high] = std::minmax_element(all.begin(), all.end());
  EXPECT_GE(*low, -kGsmPeak);
  EXPECT_LE(*high, kGsmPeak);
}

// sox writes GSM in WAV with the same bytes as ours and decodes both files as we do.
TEST_F(GsmTest, GsmInWavAgreesWithSoxBothWays) {
  const std::vector<std::int16_t> input = SpeechLike(8000 + 100, 0.7, 0.1, 4);
  WriteBytes(Path("in.raw"), Le16(input));
  Sox("-D -t raw -r 8000 -c 1 -b 16 -e signed " + Quote(Path("in.raw")) + " -e gsm-full-rate " +
      Quote(Path("sox.wav")));
  {
    SinkRef writer = CreateWavWriter(SuggestFormat(kTagGsm610, 8000, 1, 0), Path("ours.wav"));
    const std::vector<std::int32_t> store = ToStore(input);
    writer->Write(store.data(), static_cast<std::int32_t>(store.size()));
  }
  const testing::WavParts sox = testing::ParseWav(ReadBytes(Path("sox.wav")));
  const testing::WavParts ours = testing::ParseWav(ReadBytes(Path("ours.wav")));
  ASSERT_TRUE(sox.complete);
  ASSERT_TRUE(ours.complete);
  EXPECT_EQ(ours.format, SuggestFormat(kTagGsm610, 8000, 1, 0));
  EXPECT_EQ(ours.format.tag, sox.format.tag);
  EXPECT_EQ(ours.format.block_align, sox.format.block_align);
  EXPECT_EQ(ours.format.extra, sox.format.extra);
  EXPECT_EQ(ours.data.size(), 26u * 65u);  // 8100 samples in blocks of 320
  EXPECT_EQ(ours.data, sox.data);

  for (const char* name : {"sox.wav", "ours.wav"}) {
    SCOPED_TRACE(name);
    SourceRef reader = OpenWavReader(Path(name));
    ASSERT_EQ(reader->status, kStatusOk);
    const std::vector<std::int32_t> read = testing::Drain(*reader);
    const std::vector<std::int16_t> peer = SoxDecode(Path(name));
    ASSERT_GE(read.size(), 8100u);
    ASSERT_GE(peer.size(), 8100u);
    for (std::size_t i = 0; i < 8100; ++i) ASSERT_EQ(read[i], peer[i] * 16) << i;
  }
}

// Reads in odd pieces equal one straight read; a seek decodes afresh from the frame that
// holds the target, as a reader of the file from that frame on does; the writer cuts back
// as if what followed had never been written.
class GsmFormatSeeds : public GsmTest {};

TEST_F(GsmFormatSeeds, PiecesSeeksAndCutsFollowTheirModels) {
  const std::vector<std::int32_t> input = ToStore(SpeechLike(50 * 160 + 37, 0.8, 0.1, 5));
  const std::string path = Path("speech.gsm");
  {
    SinkRef writer = CreateGsmWriter(path);
    writer->Write(input.data(), static_cast<std::int32_t>(input.size()));
  }
  const std::vector<std::uint8_t> file = ReadBytes(path);
  ASSERT_EQ(file.size(), 51u * 33u);
  testing::SaveFormatFuzzSeed(path);

  // Cut back inside frames already coded, then written on: the same bytes.
  {
    SinkRef writer = CreateGsmWriter(Path("cut.gsm"));
    writer->Write(input.data(), 6000);
    writer->Seek(7000);  // beyond what was written: nothing happens
    EXPECT_EQ(writer->position, 6000);
    writer->Seek(2345);
    EXPECT_EQ(writer->position, 2345);
    writer->Write(input.data() + 2345, static_cast<std::int32_t>(input.size()) - 2345);
  }
  EXPECT_EQ(ReadBytes(Path("cut.gsm")), file);

  SourceRef straight = OpenGsmReader(MemoryBytes(file));
  const std::int32_t length = straight->Length();
  ASSERT_EQ(length, 51 * 160);
  std::vector<std::int32_t> whole(static_cast<std::size_t>(length) + 50, 7);
  straight->Read(whole.data(), length + 50);
  EXPECT_TRUE(std::all_of(whole.end() - 50, whole.end(), [](std::int32_t s) { return s == 0; }));

  SourceRef pieces = OpenGsmReader(MemoryBytes(file));
  std::vector<std::int32_t> gathered;
  const std::int32_t sizes[] = {1, 7, 159, 160, 161, 333};
  for (int i = 0; gathered.size() < whole.size(); ++i) {
    std::vector<std::int32_t> piece(static_cast<std::size_t>(sizes[i % 6]));
    pieces->Read(piece.data(), sizes[i % 6]);
    gathered.insert(gathered.end(), piece.begin(), piece.end());
  }
  gathered.resize(whole.size());
  EXPECT_EQ(gathered, whole);

  for (std::int32_t target : {1, 159, 160, 4321, length - 1}) {
    SCOPED_TRACE(target);
    pieces->Seek(target);
    EXPECT_EQ(pieces->Position(), target);
    std::vector<std::int32_t> after(500);
    pieces->Read(after.data(), 500);
    const std::size_t first = static_cast<std::size_t>(target / 160) * 33;
    SourceRef fresh = OpenGsmReader(MemoryBytes(std::vector<std::uint8_t>(file.begin() + first, file.end())));
    std::vector<std::int32_t> expected(static_cast<std::size_t>(target % 160) + 500);
    fresh->Read(expected.data(), static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(after, std::vector<std::int32_t>(expected.begin() + target % 160, expected.end()));
  }
  pieces->Seek(-3);
  std::vector<std::int32_t> from_start(1003);
  pieces->Read(from_start.data(), 1003);
  EXPECT_EQ(std::vector<std::int32_t>(from_start.begin(), from_start.begin() + 3), std::vector<std::int32_t>(3, 0));
  EXPECT_TRUE(std::equal(from_start.begin() + 3, from_start.end(), whole.begin()));
  pieces->Seek(length + 5);
  EXPECT_EQ(pieces->Position(), length + 5);
  std::vector<std::int32_t> beyond(10, 7);
  pieces->Read(beyond.data(), 10);
  EXPECT_EQ(beyond, std::vector<std::int32_t>(10, 0));
}

}  // namespace
}  // namespace sonavel
