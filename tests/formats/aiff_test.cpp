#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "formats/aiff_file.h"
#include "formats/format_table.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "wav_fixture.h"

namespace sonavel {
namespace {

using testing::Drain;
using testing::FormatTest;
using testing::Quote;
using testing::RawSamples;
using testing::ReadBytes;
using testing::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Be32(const Bytes& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) | (std::uint32_t{bytes[at + 2]} << 8) |
         bytes[at + 3];
}
void PutBe32(Bytes& bytes, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
Bytes Be16(std::uint16_t v) { return Bytes{std::uint8_t(v >> 8), std::uint8_t(v)}; }
Bytes Be32Bytes(std::uint32_t v) {
  return Bytes{std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}
template <typename... Parts>
Bytes Cat(const Parts&... parts) {
  Bytes out;
  (out.insert(out.end(), parts.begin(), parts.end()), ...);
  return out;
}
Bytes Text(const char* four) { return Bytes(four, four + 4); }

// A chunk: id, big-endian size, body, pad byte for an odd body.
Bytes Chunk(const char* id, const Bytes& body) {
  Bytes out = Cat(Text(id), Be32Bytes(static_cast<std::uint32_t>(body.size())), body);
  if (body.size() % 2 != 0) out.push_back(0);
  return out;
}
// FORM <size> <type> around chunks.
Bytes Form(const char* type, const Bytes& chunks) {
  return Cat(Text("FORM"), Be32Bytes(static_cast<std::uint32_t>(chunks.size() + 4)), Text(type), chunks);
}
Bytes RateBytes(std::uint32_t rate) {
  const std::array<std::uint8_t, 10> bytes = AiffRateBytes(rate);
  return Bytes(bytes.begin(), bytes.end());
}
// A COMM chunk; AIFF-C ones name their compression.
Bytes Comm(std::uint16_t channels, std::uint16_t bits, const Bytes& rate, const char* compression = nullptr) {
  Bytes body = Cat(Be16(channels), Be32Bytes(0), Be16(bits), rate);
  if (compression != nullptr) body = Cat(body, Text(compression), Bytes(1, 0));
  return Chunk("COMM", body);
}

// Where a chunk's body starts in a FORM file (the first chunk of that id).
std::size_t ChunkBody(const Bytes& file, const char* id) {
  for (std::size_t at = 12; at + 8 <= file.size(); at += 8 + ((Be32(file, at + 4) + 1) & ~1u))
    if (std::memcmp(&file[at], id, 4) == 0) return at + 8;
  ADD_FAILURE() << "no " << id << " chunk";
  return 0;
}

// The store value of a file sample by its width in bytes (8-bit signed).
std::int32_t StoreValue(std::int64_t f, int bytes) {
  switch (bytes) {
    case 1: return static_cast<std::int32_t>(f << 12);
    case 2: return static_cast<std::int32_t>(f << 4);
    case 3: return static_cast<std::int32_t>(f >> 4);
    default: return static_cast<std::int32_t>((f + 2048) >> 12);
  }
}

class AiffTest : public FormatTest {};

// ---- Reading what sox writes, sample for sample ---------------------------------------

TEST_F(AiffTest, EveryCodingReadsExactlyAsSoxDecodesIt) {
  struct Case {
    const char* name;
    const char* sox;   // sox's output options
    int bytes;         // of sox's decode to compare with (float: 32-bit)
    const char* edit;  // "sowt": byte-swapped by us; "offset": SSND offset of 6
    const char* format_line;
  };
  const Case cases[] = {
      {"8.aiff", "-e signed -b 8", 1, "", "format: AIFF (8-bit)"},
      {"16.aif", "-e signed -b 16", 2, "", "format: AIFF (16-bit)"},
      {"24.aiff", "-e signed -b 24", 3, "", "format: AIFF (24-bit)"},
      {"32.aiff", "-e signed -b 32", 4, "", "format: AIFF (32-bit)"},
      {"offset.aiff", "-e signed -b 16", 2, "offset", "format: AIFF (16-bit)"},
      {"none.aifc", "-e signed -b 24", 3, "", "format: AIFF-C NONE (24-bit)"},
      {"sowt16.aifc", "-e signed -b 16", 2, "sowt", "format: AIFF-C sowt (16-bit little-endian)"},
      {"sowt24.aifc", "-e signed -b 24", 3, "sowt", "format: AIFF-C sowt (24-bit little-endian)"},
      {"fl32.aifc", "-e floating-point -b 32", 4, "", "format: AIFF-C fl32 (32-bit float)"},
      {"fl64.aifc", "-e floating-point -b 64", 4, "", "format: AIFF-C fl64 (64-bit float)"},
  };
  const char* seeds = std::getenv("SONAVEL_FUZZ_SEEDS");
  for (const Case& c : cases) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << c.name << ", " << channels << " channels");
      const std::string file = Path(c.name);
      Sox("-D -r 22050 -n -c " + std::to_string(channels) + " " + c.sox + " " + Quote(file) +
          " synth 12345s sine 300 whitenoise gain -0.5");
      if (std::strcmp(c.edit, "") != 0) {
        Bytes bytes = ReadBytes(file);
        const std::size_t ssnd = ChunkBody(bytes, "SSND");
        if (std::strcmp(c.edit, "sowt") == 0) {
          std::memcpy(&bytes[ChunkBody(bytes, "COMM") + 18], "sowt", 4);
          for (std::size_t at = ssnd + 8; at + c.bytes <= ssnd + Be32(bytes, ssnd - 4); at += c.bytes)
            std::reverse(bytes.begin() + at, bytes.begin() + at + c.bytes);
        } else {  // six bytes of something else ahead of the samples
          const Bytes filler = {1, 2, 3, 4, 5, 6};
          bytes.insert(bytes.begin() + ssnd + 8, filler.begin(), filler.end());
          PutBe32(bytes, ssnd, 6);
          PutBe32(bytes, ssnd - 4, Be32(bytes, ssnd - 4) + 6);
          PutBe32(bytes, 4, Be32(bytes, 4) + 6);
        }
        WriteBytes(file, bytes);
      }
      const std::string raw = Path("decoded.raw");
      Sox("-D " + Quote(file) + " -t raw -e signed -b " + std::to_string(8 * c.bytes) + " -L " + Quote(raw));
      const std::vector<std::int64_t> expected = RawSamples(raw, c.bytes);
      ASSERT_EQ(expected.size(), 12345u * channels);

      const FileFormat* format = FormatForPath(file);
      ASSERT_NE(format, nullptr);
      SourceRef reader = OpenFormatReader(file);
      ASSERT_EQ(reader->status, kStatusOk);
      EXPECT_EQ(reader->rate, 22050);
      EXPECT_EQ(reader->channels, channels);
      EXPECT_EQ(reader->peak_bound, kFullScale);
      EXPECT_EQ(reader->Length(), 12345);
      EXPECT_EQ(format->describe(*reader), std::vector<std::string>{c.format_line});
      const std::vector<std::int32_t> got = Drain(*reader);
      ASSERT_EQ(got.size(), expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(got[i], StoreValue(expected[i], c.bytes)) << "sample " << i;
      // A seek lands on the exact frame.
      reader->Seek(10000);
      std::int32_t frame[2];
      reader->Read(frame, 1);
      EXPECT_EQ(frame[0], got[10000 * channels]);

      if (seeds != nullptr && *seeds != '\0' && channels == 1) {
        // The format readers' fuzz corpus: the byte that picks AIFF among the formats
        // other than WAV (the first), then the file's start.
        Bytes seed(1, static_cast<std::uint8_t>(format - FormatTable().data() - 1));
        const Bytes bytes = ReadBytes(file);
        seed.insert(seed.end(), bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 3000));
        WriteBytes(JoinPath(seeds, std::string("aiff-") + c.name), seed);
      }
    }
  }
}

// ---- Header values, bounds and damaged files ------------------------------------------

TEST_F(AiffTest, RatesAreExactAndOutOfRangeHeadersAreRefused) {
  EXPECT_EQ(RateBytes(44100), (Bytes{0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(RateBytes(8000), (Bytes{0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0}));
  for (std::uint32_t rate : {1u, 2u, 3u, 6000u, 8000u, 11025u, 22050u, 44100u, 48000u, 196000u, 0xFFFFFFFFu})
    EXPECT_EQ(AiffRateFromBytes(RateBytes(rate).data()), rate) << rate;
  // The bit shifted out last rounds half up; exponents whose shift leaves 0..31, a
  // negative sign and an empty mantissa give no rate.
  EXPECT_EQ(AiffRateFromBytes(Bytes{0x40, 0x0E, 0xAC, 0x44, 0x80, 0, 0, 0, 0, 0}.data()), 44101u);
  EXPECT_EQ(AiffRateFromBytes(Bytes{0x40, 0x0E, 0xAC, 0x44, 0x7F, 0xFF, 0, 0, 0, 0}.data()), 44100u);
  const Bytes bad_rates[] = {Bytes{0x40, 0x1F, 0x80, 0, 0, 0, 0, 0, 0, 0}, Bytes{0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0},
                             Bytes{0xC0, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, Bytes{0x00, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0},
                             Bytes(10, 0), Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}};
  for (const Bytes& bad : bad_rates) EXPECT_EQ(AiffRateFromBytes(bad.data()), 0u);

  const Bytes samples = {0x12, 0x34, 0xFF, 0xFE, 0x80, 0x00};  // three 16-bit frames
  const Bytes ssnd = Chunk("SSND", Cat(Bytes(8, 0), samples));
  const Bytes comm = Comm(1, 16, RateBytes(8000));
  const std::vector<std::int32_t> all = {0x1234 * 16, -2 * 16, -32768 * 16};
  const std::vector<std::int32_t> none;
  struct Case {
    const char* what;
    Bytes file;
    std::uint8_t status;
    std::vector<std::int32_t> sound;
  };
  const Case cases[] = {
      // SSND ahead of COMM after an odd chunk with its pad byte.
      {"any order", Form("AIFF", Cat(Chunk("ANNO", Bytes(1, 'x')), ssnd, comm)), kStatusOk, all},
      {"channels 0", Form("AIFF", Cat(Comm(0, 16, RateBytes(8000)), ssnd)), kStatusCorrupt, none},
      {"channels 256", Form("AIFF", Cat(Comm(256, 16, RateBytes(8000)), ssnd)), kStatusCorrupt, none},
      {"rate 196001", Form("AIFF", Cat(Comm(1, 16, RateBytes(196001)), ssnd)), kStatusCorrupt, none},
      {"rate 2^32", Form("AIFF", Cat(Comm(1, 16, Cat(Be16(0x401F), Be32Bytes(0x80000000), Bytes(4, 0))), ssnd)),
       kStatusCorrupt, none},
      {"rate 0", Form("AIFF", Cat(Comm(1, 16, Bytes(10, 0)), ssnd)), kStatusCorrupt, none},
      {"0 bits", Form("AIFF", Cat(Comm(1, 0, RateBytes(8000)), ssnd)), kStatusCorrupt, none},
      {"40 bits", Form("AIFF", Cat(Comm(1, 40, RateBytes(8000)), ssnd)), kStatusCodecMissing, none},
      {"ulaw", Form("AIFC", Cat(Comm(1, 16, RateBytes(8000), "ulaw"), ssnd)), kStatusCodecMissing, none},
      {"short COMM", Form("AIFF", Cat(Chunk("COMM", Bytes(16, 1)), ssnd)), kStatusCorrupt, none},
      {"AIFC without type", Form("AIFC", Cat(comm, ssnd)), kStatusCorrupt, none},
      {"no SSND", Form("AIFF", comm), kStatusCorrupt, none},
      {"not a FORM", Cat(Text("RIFF"), Bytes(8, 0), comm, ssnd), kStatusCorrupt, none},
      // The offset word skips bytes within the chunk; beyond it nothing is left.
      {"offset 2", Form("AIFF", Cat(comm, Chunk("SSND", Cat(Be32Bytes(2), Be32Bytes(0), samples)))), kStatusOk,
       {-2 * 16, -32768 * 16}},
      {"offset beyond", Form("AIFF", Cat(comm, Chunk("SSND", Cat(Be32Bytes(0x7FFFFFF0), Be32Bytes(0), samples)))),
       kStatusOk, none},
      // A size claiming more than the file holds: what is there, whole frames.
      {"cut", Form("AIFF", Cat(comm, Text("SSND"), Be32Bytes(0x40000000), Bytes(8, 0), samples, Bytes(1, 9))),
       kStatusOk, all},
      // Left open by a writer that never finished: to the end of the file.
      {"unfinished", Form("AIFF", Cat(comm, Text("SSND"), Be32Bytes(0xFFFFFFFF), Bytes(8, 0), samples)), kStatusOk, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SourceRef reader = OpenAiffReader(MemoryBytes(c.file));
    EXPECT_EQ(reader->status, c.status);
    EXPECT_EQ(reader->Length(), static_cast<std::int32_t>(c.sound.size()));
    EXPECT_EQ(Drain(*reader), c.sound);
  }
  EXPECT_EQ(OpenAiffReader(nullptr)->status, kStatusCannotOpen);
  EXPECT_EQ(OpenFormatReader(Path("missing.aiff"))->status, kStatusCannotOpen);
  // A coding we do not read is shown as a corrupt file.
  EXPECT_EQ(OpenErrorText(Path("x.aifc"), kStatusCodecMissing), OpenErrorText(Path("x.aifc"), kStatusCorrupt));
}

// ---- Writing ---------------------------------------------------------------------------

TEST_F(AiffTest, TheHeaderIsProvisionalUntilFinishedAndNeverWraps) {
  const std::string file = Path("empty.aiff");
  const Bytes start = Cat(Text("FORM"), Be32Bytes(46), Text("AIFF"), Text("COMM"), Be32Bytes(18), Be16(2), Be32Bytes(0), Be16(16),
                          RateBytes(44100), Text("SSND"));
  {
    SinkRef writer = CreateAiffWriter(44100, 2, file);
    ASSERT_EQ(writer->status, kStatusOk);
    EXPECT_EQ(ReadBytes(file), Cat(start, Be32Bytes(0xFFFFFFFF), Bytes(8, 0)));
    // A provisional file reads to its end.
    const std::int32_t frames[4] = {16, -16, 32, -32};
    writer->Write(frames, 2);
    SourceRef reader = OpenFormatReader(file);
    EXPECT_EQ(reader->Length(), 2);
    EXPECT_EQ(Drain(*reader), std::vector<std::int32_t>(frames, frames + 4));
    writer->Seek(0);
  }
  EXPECT_EQ(ReadBytes(file), Cat(start, Be32Bytes(8), Bytes(8, 0)));

  // The largest data the 32-bit fields describe: FORM 0xFFFFFFFE; one frame more fails.
  std::uint8_t header[kAiffHeaderSize];
  ASSERT_TRUE(AiffHeader(header, 1, 8000, 2147483624, false));
  const Bytes largest(header, header + kAiffHeaderSize);
  EXPECT_EQ(Be32(largest, 4), 0xFFFFFFFEu);
  EXPECT_EQ(Be32(largest, 22), 2147483624u);
  EXPECT_EQ(Be32(largest, 42), 0xFFFFFFD8u);
  EXPECT_FALSE(AiffHeader(header, 1, 8000, 2147483625, false));
  EXPECT_FALSE(AiffHeader(header, 2, 8000, 1073741813, false));
  EXPECT_FALSE(AiffHeader(header, 1, 0, 0, true));
  EXPECT_EQ(CreateAiffWriter(0, 1, Path("rate0.aiff"))->status & kSinkUnusable, kSinkUnusable);
  EXPECT_EQ(CreateAiffWriter(8000, 1, Path("no-folder/x.aiff"))->status & kSinkUnusable, kSinkUnusable);
}

TEST_F(AiffTest, FilesWeWriteReadBackHereAndInSoxSampleForSample) {
  // Every 16-bit rounding case at the edges (6 frames), then 20001 frames of noise: an odd
  // frame count.
  std::vector<std::int32_t> samples = {0, 7, 8, -8, -9, -24, kFullScale, -kFullScale, kFullScale + 100, -0x80000, 24, 1};
  for (std::uint32_t i = 0; i < 2 * 20001; ++i)
    samples.push_back(static_cast<std::int32_t>(std::int64_t{(i * 2654435761u) % 1048545u} - 524272));
  const std::int32_t frames = static_cast<std::int32_t>(samples.size() / 2);
  const std::vector<std::int32_t> junk(1000, 12345);
  for (const char* name : {"ours.aiff", "ours.aif", "ours.aifc"}) {
    SCOPED_TRACE(name);
    const std::string file = Path(name);
    {
      const FileFormat* format = FormatForPath(file);
      ASSERT_NE(format, nullptr);
      SinkRef writer = format->create(DefaultFormat(48000, 2), file, OpenOptions{});
      writer->Write(samples.data(), 500);
      writer->Write(junk.data(), 500);
      writer->Seek(500);  // cut back: writing continues at frame 500
      writer->Write(samples.data() + 1000, frames - 500);
      writer->Seek(frames + 1);  // beyond the end: nothing happens
      EXPECT_EQ(writer->position, frames);
      EXPECT_EQ(writer->status, kStatusOk);
    }
    const Bytes bytes = ReadBytes(file);
    ASSERT_EQ(bytes.size(), 54u + 4u * frames);
    EXPECT_EQ(Be32(bytes, 4), 46u + 4u * frames);
    EXPECT_EQ(Be32(bytes, 22), static_cast<std::uint32_t>(frames));
    EXPECT_EQ(Be32(bytes, 42), 8u + 4u * frames);

    SourceRef reader = OpenFormatReader(file);
    ASSERT_EQ(reader->status, kStatusOk);
    EXPECT_EQ(reader->rate, 48000);
    EXPECT_EQ(reader->Length(), frames);  // the frame count round trip
    const std::vector<std::int32_t> back = Drain(*reader);
    const std::string raw = Path("sox.raw");
    Sox("-D " + Quote(file) + " -t raw -e signed -b 16 -L " + Quote(raw));
    const std::vector<std::int64_t> sox = RawSamples(raw, 2);
    ASSERT_EQ(back.size(), samples.size());
    ASSERT_EQ(sox.size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const std::int64_t f = std::clamp<std::int64_t>((std::int64_t{samples[i]} + 8) >> 4, -32768, 32767);
      ASSERT_EQ(sox[i], f) << "sample " << i;
      ASSERT_EQ(back[i], f * 16) << "sample " << i;
    }
  }
}

}  // namespace
}  // namespace sonavel
