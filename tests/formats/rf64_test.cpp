// RF64 and BW64 files: WAV with 64-bit sizes in a "ds64" chunk, read by the WAV reader.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/format_table.h"
#include "formats/pump.h"
#include "formats/wav_reader.h"
#include "platform/progress.h"
#include "sox_peer.h"
#include "wav_fixture.h"

namespace sonavel {
namespace {

using testing::Drain;
using testing::Le16;
using testing::ParseWav;
using testing::Quote;
using testing::ReadBytes;
using testing::RiffBuilder;
using testing::Samples16;
using testing::SoxPeerTest;
using testing::WriteBytes;

class Rf64Test : public SoxPeerTest {};

// Stereo 16-bit frames, ramps apart in both channels (no -32768, which the save limits).
std::vector<std::int16_t> TestSamples(int frames) {
  std::vector<std::int16_t> samples;
  for (int i = 0; i < frames; ++i) {
    samples.push_back(static_cast<std::int16_t>(i * 37 - 30000));
    samples.push_back(static_cast<std::int16_t>(32767 - i * 101));
  }
  return samples;
}

std::vector<std::int32_t> StoreScale(const std::vector<std::int16_t>& samples) {
  std::vector<std::int32_t> out;
  for (std::int16_t s : samples) out.push_back(s * 16);
  return out;
}

TEST_F(Rf64Test, DataSizeComesFromDs64AndSoxReadsTheSameSamples) {
  const std::vector<std::int16_t> samples = TestSamples(500);
  const std::vector<std::uint8_t> data = Le16(samples);
  // The data chunk says 0xFFFFFFFF; a chunk after it must not be read as audio.
  const RiffBuilder body = RiffBuilder()
                               .Format(PcmFormat(22050, 2, 16))
                               .Text("data").U32(0xFFFFFFFF).Raw(data)
                               .Chunk("LIST", {'I', 'N', 'F', 'O', 1, 2, 3, 4});
  for (const char* form : {"RF64", "BW64"}) {
    SCOPED_TRACE(form);
    const std::vector<std::uint8_t> bytes = body.Wide(form, data.size(), samples.size() / 2);
    SourceRef reader = OpenWavReader(MemoryBytes(bytes));
    ASSERT_EQ(reader->status, kStatusOk);
    EXPECT_EQ(reader->rate, 22050);
    EXPECT_EQ(reader->channels, 2);
    EXPECT_EQ(reader->Length(), 500);
    EXPECT_EQ(AsWavReader(reader.get())->Form(), form);
    EXPECT_EQ(AsWavReader(reader.get())->ClaimedDataBytes(), 2000);
    EXPECT_EQ(Drain(*reader), StoreScale(samples));
    // A seek lands on the exact frame.
    reader->Seek(321);
    std::vector<std::int32_t> two(4);
    reader->Read(two.data(), 2);
    EXPECT_EQ(two, StoreScale({samples.begin() + 642, samples.begin() + 646}));

    // sox reads the RF64 form (not BW64) by its ds64 size too.
    if (std::string(form) == "RF64") {
      WriteBytes(Path("peer.wav"), bytes);
      EXPECT_EQ(SoxDecode(Path("peer.wav")), samples);
    }
  }
}

TEST_F(Rf64Test, ConvertedToWavItEqualsTheSameSamplesWrittenAsWavBySox) {
  const std::vector<std::int16_t> samples = TestSamples(3001);
  const std::vector<std::uint8_t> data = Le16(samples);
  const std::string rf64 = Path("in.rf64");
  WriteBytes(rf64, RiffBuilder().Format(PcmFormat(44100, 2, 16)).Text("data").U32(0xFFFFFFFF).Raw(data).Wide("RF64", data.size()));
  // Through the format table by the extension, as open and convert do.
  SourceRef reader = OpenFormatReader(rf64);
  ASSERT_EQ(reader->status, kStatusOk);
  SilentProgress progress;
  ASSERT_EQ(SaveSource(reader, PcmFormat(44100, 2, 16), Path("ours.wav"), progress), kDone);

  WriteBytes(Path("samples.raw"), data);
  Sox("-t raw -r 44100 -c 2 -e signed -b 16 -L " + Quote(Path("samples.raw")) + " " + Quote(Path("sox.wav")));
  const testing::WavParts ours = ParseWav(ReadBytes(Path("ours.wav")));
  const testing::WavParts theirs = ParseWav(ReadBytes(Path("sox.wav")));
  ASSERT_TRUE(ours.complete);
  ASSERT_TRUE(theirs.complete);
  EXPECT_EQ(ours.format, theirs.format);
  EXPECT_EQ(Samples16(ours.data), Samples16(theirs.data));
  EXPECT_EQ(ours.data.size(), data.size());
}

TEST_F(Rf64Test, SizesThatDisagreeOrAreMissing) {
  const std::vector<std::uint8_t> data = Le16({10, 20, 30, 40, 50});
  const RiffBuilder body = RiffBuilder().Format(PcmFormat(8000, 1, 16)).Text("data").U32(0xFFFFFFFF).Raw(data);
  auto open = [](const std::vector<std::uint8_t>& bytes) { return OpenWavReader(MemoryBytes(bytes)); };

  // A claim of 5 GB over 5 frames: the length is what the file holds, the claim stays known.
  SourceRef reader = open(body.Wide("RF64", 5'000'000'000));
  ASSERT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(reader->Length(), 5);
  EXPECT_EQ(AsWavReader(reader.get())->ClaimedDataBytes(), 5'000'000'000);
  EXPECT_EQ(AsWavReader(reader.get())->PresentDataBytes(), 10);
  // A claim smaller than the file: only the claimed frames.
  reader = open(body.Wide("RF64", 6));
  EXPECT_EQ(Drain(*reader), (std::vector<std::int32_t>{160, 320, 480}));
  // A writer that never filled in the ds64 size (0 or all ones): to the end of the file.
  for (std::uint64_t unset : {std::uint64_t{0}, ~std::uint64_t{0}}) {
    reader = open(body.Wide("RF64", unset));
    ASSERT_EQ(reader->status, kStatusOk);
    EXPECT_EQ(reader->Length(), 5) << unset;
  }
  // A data size that fits 32 bits is taken from the data chunk itself.
  reader = open(RiffBuilder().Format(PcmFormat(8000, 1, 16)).Chunk("data", Le16({7, 8})).Wide("BW64", 1000));
  EXPECT_EQ(Drain(*reader), (std::vector<std::int32_t>{112, 128}));

  // A chunk before "fmt " whose size the ds64 table holds (odd, so padded); a table length
  // claiming more entries than the chunk holds reads only those it holds.
  std::vector<std::uint8_t> table_file = RiffBuilder()
                                             .Text("bext").U32(0xFFFFFFFF).Raw({1, 2, 3, 0})
                                             .Format(PcmFormat(8000, 1, 16))
                                             .Text("data").U32(0xFFFFFFFF).Raw(data)
                                             .Wide("RF64", 4, 0, {{"bext", 3}});
  reader = open(table_file);
  ASSERT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(Drain(*reader), (std::vector<std::int32_t>{160, 320}));
  table_file[12 + 8 + 27] = 0xFF;  // the table length's high byte: 4278190081 entries
  reader = open(table_file);
  EXPECT_EQ(reader->status, kStatusOk);
  EXPECT_EQ(reader->Length(), 2);

  // Corrupt: no ds64 first, a ds64 too short for its three sizes, a 0xFFFFFFFF chunk the
  // table does not hold, a table size beyond the file, a data size beyond 2^63.
  std::vector<std::uint8_t> no_ds64 = body.Wide("RF64", 10);
  no_ds64.erase(no_ds64.begin() + 12, no_ds64.begin() + 12 + 8 + 28);
  EXPECT_EQ(open(no_ds64)->status, kStatusCorrupt);
  std::vector<std::uint8_t> short_ds64 = RiffBuilder().Text("RF64").U32(0xFFFFFFFF).Text("WAVE")
                                             .Chunk("ds64", std::vector<std::uint8_t>(26, 0)).Raw(body.bytes()).bytes();
  EXPECT_EQ(open(short_ds64)->status, kStatusCorrupt);
  const RiffBuilder unknown = RiffBuilder().Text("bext").U32(0xFFFFFFFF).Raw({1, 2, 3, 0}).Raw(body.bytes());
  EXPECT_EQ(open(unknown.Wide("RF64", 10))->status, kStatusCorrupt);
  EXPECT_EQ(open(unknown.Wide("RF64", 10, 0, {{"bext", 1ull << 40}}))->status, kStatusCorrupt);
  EXPECT_EQ(open(body.Wide("RF64", 1ull << 63))->status, kStatusCorrupt);
  // A plain RIFF file keeps its meaning of 0xFFFFFFFF as a size: no table.
  EXPECT_EQ(open(unknown.Wave())->status, kStatusCorrupt);
}

}  // namespace
}  // namespace sonavel
