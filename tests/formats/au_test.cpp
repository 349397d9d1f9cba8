#include "formats/au_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "formats/format_table.h"
#include "formats/wav_reader.h"
#include "format_fuzz_seeds.h"
#include "wav_fixture.h"

namespace sonavel {
namespace {

using testing::Drain;
using testing::Quote;
using testing::RawSamples;
using testing::ReadBytes;
using testing::WriteBytes;

// An AU file byte by byte: the 24-byte header, `annotation` bytes, then `data`.
std::vector<std::uint8_t> AuBytes(std::uint32_t offset, std::uint32_t size, std::uint32_t encoding,
                                  std::uint32_t rate, std::uint32_t channels, const std::vector<std::uint8_t>& data,
                                  const char* magic = ".snd") {
  const std::size_t header = std::max<std::size_t>(offset, 24);
  std::vector<std::uint8_t> file(header + data.size(), 'x');  // 'x': the annotation
  std::memcpy(file.data(), magic, 4);
  const std::uint32_t fields[] = {offset, size, encoding, rate, channels};
  for (int i = 0; i < 5; ++i) WriteBe32(file.data() + 4 + 4 * i, fields[i]);
  std::copy(data.begin(), data.end(), file.begin() + static_cast<std::ptrdiff_t>(header));
  return file;
}

SourceRef OpenBytes(const std::vector<std::uint8_t>& bytes) { return OpenAuReader(MemoryBytes(bytes)); }

std::vector<std::int32_t> ReadFrames(SampleSource& source, std::int32_t frames) {
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * source.channels, 0x5A5A5A5A);
  source.Read(out.data(), frames);
  return out;
}

class AuTest : public testing::FormatTest {};
class AuFormatSeeds : public testing::FormatTest {};

// sox writes every encoding it has for AU; each sample we decode is sox's own decode taken
// to the store scale by the conversion rule of its width, and the stream's shape and
// peak bound agree with the file.
TEST_F(AuFormatSeeds, EveryEncodingSoxWritesDecodesAsSoxDecodesIt) {
  struct Kind {
    const char* name;
    const char* arguments;
    std::uint32_t encoding;
    int bits;
    const char* described;
  };
  const Kind kinds[] = {
      {"ulaw", "-e u-law", kAuMuLaw, 8, "µ-law"},        {"alaw", "-e a-law", kAuALaw, 8, "A-law"},
      {"pcm8", "-e signed -b 8", kAuLinear8, 8, "PCM"},   {"pcm16", "-b 16", kAuLinear16, 16, "PCM"},
      {"pcm24", "-b 24", kAuLinear24, 24, "PCM"},         {"pcm32", "-b 32", kAuLinear32, 32, "PCM"},
      {"float", "-e floating-point -b 32", kAuFloat, 32, "float"},
      {"double", "-e floating-point -b 64", kAuDouble, 64, "float"},
  };
  for (const Kind& kind : kinds) {
    const std::string path = Path(std::string(kind.name) + ".au");
    // A full-scale sweep (the largest samples of every width) beside quiet noise (the
    // smallest), 3 channels at an odd rate.
    Sox("-D -r 11111 -n -c 3 " + std::string(kind.arguments) + " " + Quote(path) +
        " synth 0.7 sine 20-5000 whitenoise sine 300 remix 1 2v0.001 3v-0.9");
    Sox("-D " + Quote(path) + " -t raw -e signed -b 32 -L " + Quote(Path("sox.raw")));
    const std::vector<std::int64_t> expected = RawSamples(Path("sox.raw"), 4);

    SourceRef reader = OpenFormatReader(path);
    ASSERT_EQ(reader->status, kStatusOk) << kind.name;
    EXPECT_EQ(reader->rate, 11111);
    EXPECT_EQ(reader->channels, 3);
    ASSERT_EQ(std::int64_t{reader->Length()} * 3, static_cast<std::int64_t>(expected.size())) << kind.name;
    EXPECT_EQ(FormatForPath(path)->describe(*reader),
              (std::vector<std::string>{std::string("format: Sun AU (") + kind.described + ")",
                                        "bits: " + std::to_string(kind.bits)}));
    ASSERT_EQ(AsAuReader(reader.get())->encoding(), kind.encoding);
    const std::vector<std::int32_t> ours = Drain(*reader);
    ASSERT_EQ(ours.size(), expected.size());
    std::int32_t largest = 0;
    int differing = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
      const std::int64_t v = expected[i];
      std::int64_t want;
      if (kind.encoding == kAuLinear32) {
        want = (v + 2048) >> 12;
      } else if (kind.encoding == kAuFloat || kind.encoding == kAuDouble) {
        // To 16 bits, rounded half away from zero, then times 16.
        want = std::clamp<std::int64_t>(std::llround(static_cast<double>(v) / 65536.0), -32768, 32767) * 16;
      } else {
        want = v >> 12;  // every narrower width is exact in sox's 32 bits
      }
      if (ours[i] != want && ++differing <= 5) ADD_FAILURE() << kind.name << " sample " << i << ": " << ours[i] << " vs " << want;
      largest = std::max(largest, std::abs(ours[i]));
    }
    EXPECT_EQ(differing, 0) << kind.name;
    // Only the most negative 16-bit step may lie beyond the bound.
    EXPECT_LE(largest, reader->peak_bound + 16) << kind.name;
    EXPECT_GT(largest, 500000) << kind.name;  // the sweep reached full scale
    testing::SaveFormatFuzzSeed(path);

    // The same file cut inside a frame, its size left "to the end" by an unfinished
    // writer: the whole frames it holds, as before.
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    const std::int64_t frame_size = kind.bits / 8 * 3;
    const std::int64_t data_offset = ReadBe32(bytes.data() + 4);
    bytes.resize(bytes.size() - 3 * frame_size - 1);
    WriteBe32(bytes.data() + 8, kAuSizeToEnd);
    const std::string open_ended = Path(std::string("open-") + kind.name + ".au");
    WriteBytes(open_ended, bytes);
    SourceRef cut = OpenFormatReader(open_ended);
    ASSERT_EQ(cut->Length(), (static_cast<std::int64_t>(bytes.size()) - data_offset) / frame_size) << kind.name;
    EXPECT_EQ(cut->Length(), reader->Length() - 4) << kind.name;
    const std::vector<std::int32_t> cut_samples = Drain(*cut);
    EXPECT_TRUE(std::equal(cut_samples.begin(), cut_samples.end(), ours.begin())) << kind.name;
    testing::SaveFormatFuzzSeed(open_ended);
  }
}

// Hand-built headers: the annotation, the sizes a header may claim, its bounds, and
// the encodings no reader here decodes.
TEST_F(AuTest, HeadersAreReadByTheirOffsetSizeAndBounds) {
  // 16-bit big-endian after a 16-byte annotation, stereo: frames (0x1234, -2), (32767, -32768).
  const std::vector<std::uint8_t> frames16 = {0x12, 0x34, 0xFF, 0xFE, 0x7F, 0xFF, 0x80, 0x00};
  SourceRef annotated = OpenBytes(AuBytes(40, 8, kAuLinear16, 8000, 2, frames16));
  ASSERT_EQ(annotated->status, kStatusOk);
  EXPECT_EQ(annotated->peak_bound, kFullScale);
  ASSERT_EQ(annotated->Length(), 2);
  EXPECT_EQ(ReadFrames(*annotated, 3), (std::vector<std::int32_t>{0x1234 * 16, -32, 524272, -524288, 0, 0}));
  annotated->Seek(-1);
  EXPECT_EQ(ReadFrames(*annotated, 2), (std::vector<std::int32_t>{0, 0, 0x1234 * 16, -32}));
  annotated->Seek(1);
  EXPECT_EQ(ReadFrames(*annotated, 1), (std::vector<std::int32_t>{524272, -524288}));
  EXPECT_EQ(annotated->Position(), 2);

  // 8-bit signed, mono: s = f << 12, and the µ-law peak bound for the laws.
  SourceRef linear8 = OpenBytes(AuBytes(24, 3, kAuLinear8, 8000, 1, {0x80, 0x7F, 0x01}));
  EXPECT_EQ(ReadFrames(*linear8, 3), (std::vector<std::int32_t>{-524288, 520192, 4096}));
  SourceRef mu = OpenBytes(AuBytes(24, 2, kAuMuLaw, 8000, 1, {0xFF, 0x00}));
  EXPECT_EQ(ReadFrames(*mu, 2), (std::vector<std::int32_t>{0, -(15 << 14) - 268224}));
  EXPECT_EQ(mu->peak_bound, 516096);
  SourceRef alaw = OpenBytes(AuBytes(24, 1, kAuALaw, 8000, 1, {0xD5}));
  EXPECT_EQ(ReadFrames(*alaw, 1), (std::vector<std::int32_t>{128}));

  // The length is whole frames of what the file holds, never more than the header says;
  // "to the end" takes the file's rest, and an offset beyond the file gives no sound.
  const std::vector<std::uint8_t> seven(7, 0x11);
  EXPECT_EQ(OpenBytes(AuBytes(24, kAuSizeToEnd, kAuLinear16, 8000, 1, seven))->Length(), 3);
  EXPECT_EQ(OpenBytes(AuBytes(24, 4, kAuLinear16, 8000, 1, seven))->Length(), 2);
  EXPECT_EQ(OpenBytes(AuBytes(24, 1000000, kAuLinear16, 8000, 1, seven))->Length(), 3);
  EXPECT_EQ(OpenBytes(AuBytes(24, 3, kAuLinear16, 8000, 2, seven))->Length(), 0);
  std::vector<std::uint8_t> beyond = AuBytes(24, 100, kAuLinear16, 8000, 1, seven);
  WriteBe32(beyond.data() + 4, 4000000000u);
  SourceRef empty = OpenBytes(beyond);
  EXPECT_EQ(empty->status, kStatusOk);
  EXPECT_EQ(empty->Length(), 0);
  EXPECT_EQ(ReadFrames(*empty, 2), (std::vector<std::int32_t>{0, 0}));

  const std::vector<std::uint8_t> header = AuBytes(24, 0, kAuLinear16, 8000, 1, {});
  // Bounds and damage: Corrupt; unknown encodings: CodecMissing; no file: CannotOpen.
  const std::pair<std::vector<std::uint8_t>, std::uint8_t> refused[] = {
      {AuBytes(24, 7, kAuLinear16, 8000, 0, seven), kStatusCorrupt},
      {AuBytes(24, 7, kAuLinear16, 8000, 256, seven), kStatusCorrupt},
      {AuBytes(24, 7, kAuLinear16, 0, 1, seven), kStatusCorrupt},
      {AuBytes(24, 7, kAuLinear16, 196001, 1, seven), kStatusCorrupt},
      {AuBytes(23, 7, kAuLinear16, 8000, 1, seven), kStatusCorrupt},  // samples inside the header
      {AuBytes(24, 7, kAuLinear16, 8000, 1, seven, ".sne"), kStatusCorrupt},
      {std::vector<std::uint8_t>(header.begin(), header.begin() + 23), kStatusCorrupt},
      {AuBytes(24, 7, 23, 8000, 1, seven), kStatusCodecMissing},  // G.721 ADPCM
      {AuBytes(24, 7, 0, 8000, 1, seven), kStatusCodecMissing},
  };
  for (const auto& [bytes, status] : refused) {
    SourceRef reader = OpenBytes(bytes);
    EXPECT_EQ(reader->status, status);
    EXPECT_EQ(reader->Length(), 0);
    EXPECT_EQ(ReadFrames(*reader, 1), std::vector<std::int32_t>(1, 0));
  }
  EXPECT_EQ(OpenAuReader(nullptr)->status, kStatusCannotOpen);

  // The user sees an unknown encoding as a corrupt file; a missing one as missing.
  const std::string path = Path("song.au");
  EXPECT_EQ(OpenErrorText(path, kStatusCodecMissing), "Cannot open the file \"" + path + "\" because it is corrupt.");
  EXPECT_EQ(OpenErrorText(path, kStatusCannotOpen),
            "Cannot open the file \"" + path + "\". Check it exists and you have read access.");
  EXPECT_EQ(OpenFormatReader(path)->status, kStatusCannotOpen);
  EXPECT_NE(FormatForPath(Path("x.snd")), FormatForPath(path));  // ".snd" is raw audio
}

// The writer: the provisional header while writing, a cut back, the final header, and
// sox reading the file back as the 16-bit values of what was written.
TEST_F(AuTest, WriterHeadersCutBackAndSoxReadsItBack) {
  const std::string path = Path("out.au");
  const FileFormat* au = FormatForPath(path);
  ASSERT_NE(au, nullptr);
  std::vector<std::int32_t> samples = {kFullScale, -kFullScale, 0, 7, 8, -8, -9, 524287, -524288, 1000000, -1000000};
  std::mt19937 random(5);
  std::uniform_int_distribution<std::int32_t> value(-kFullScale, kFullScale);
  while (samples.size() < 2 * 30000) samples.push_back(value(random));
  {
    SinkRef writer = au->create(DefaultFormat(22050, 2), path, OpenOptions{});
    ASSERT_EQ(writer->status, kStatusOk);
    writer->Write(samples.data(), 5);  // what the cut below throws away
    std::vector<std::uint8_t> provisional = ReadBytes(path);
    ASSERT_EQ(provisional.size(), 24u + 20u);
    EXPECT_EQ(std::vector<std::uint8_t>(provisional.begin(), provisional.begin() + 24),
              (std::vector<std::uint8_t>{'.', 's', 'n', 'd', 0, 0, 0, 24, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3, 0,
                                         0, 0x56, 0x22, 0, 0, 0, 2}));
    EXPECT_EQ(OpenFormatReader(path)->Length(), 5);  // an unfinished file reads to its end
    writer->Seek(0);
    EXPECT_EQ(ReadBytes(path).size(), 24u);
    writer->Write(samples.data(), 30000);
  }
  const std::vector<std::uint8_t> file = ReadBytes(path);
  ASSERT_EQ(file.size(), 24u + 4 * 30000);
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 24), AuHeader(120000, 22050, 2));
  EXPECT_EQ(ReadBe32(file.data() + 8), 120000u);

  Sox("-D " + Quote(path) + " -t raw -e signed -b 16 -L " + Quote(Path("back.raw")));
  const std::vector<std::int64_t> back = RawSamples(Path("back.raw"), 2);
  ASSERT_EQ(back.size(), samples.size());
  SourceRef ours = OpenFormatReader(path);
  const std::vector<std::int32_t> read = Drain(*ours);
  ASSERT_EQ(read.size(), samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    ASSERT_EQ(back[i], StoreTo16(samples[i])) << i;
    ASSERT_EQ(read[i], StoreTo16(samples[i]) * 16) << i;
  }
  EXPECT_EQ(back[0], 32767);
  EXPECT_EQ(back[3], 0);  // (7 + 8) >> 4
  EXPECT_EQ(back[4], 1);
  EXPECT_EQ(back[9], 32767);  // beyond full scale: saturated, not wrapped

  // Data of 4 GB and more keeps "to the end" rather than a wrapped size.
  EXPECT_EQ(ReadBe32(AuHeader(0xFFFFFFFEll, 8000, 1).data() + 8), 0xFFFFFFFEu);
  EXPECT_EQ(ReadBe32(AuHeader(0xFFFFFFFFll, 8000, 1).data() + 8), kAuSizeToEnd);
  EXPECT_EQ(ReadBe32(AuHeader(0x100000002ll, 8000, 1).data() + 8), kAuSizeToEnd);

  // A rate or channel count the reader would refuse gives no writer; nor does a folder
  // that does not exist.
  EXPECT_NE(au->create(DefaultFormat(196001, 1), Path("a.au"), OpenOptions{})->status & kSinkUnusable, 0);
  EXPECT_NE(au->create(DefaultFormat(8000, 256), Path("b.au"), OpenOptions{})->status & kSinkUnusable, 0);
  EXPECT_NE(au->create(DefaultFormat(8000, 1), Path("none/c.au"), OpenOptions{})->status & kSinkUnusable, 0);
}

}  // namespace
}  // namespace sonavel
