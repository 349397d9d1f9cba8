// Tags in files: the ID3v1.1 block and the RIFF INFO and DISP chunks, byte by byte, the
// save writing them into its file, and ffmpeg, ffprobe and id3v2 as the peers that write
// and read the same tags.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/pump.h"
#include "formats/tag_files.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "store/segment_reader.h"
#include "wav_fixture.h"

namespace sonavel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(std::string_view text) { return Bytes(text.begin(), text.end()); }
std::string Text(const Bytes& bytes, std::size_t at, std::size_t size) {
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
}

// The fuzz target's seeds: a first byte 0 for ID3v1, 1 for INFO, then the file.
void SaveTagsSeed(const std::string& name, std::uint8_t kind, const Bytes& file) {
  const char* corpus = std::getenv("SONAVEL_TAGS_FUZZ_SEEDS");
  if (corpus == nullptr || *corpus == '\0') return;
  Bytes seed = file;
  seed.insert(seed.begin(), kind);
  WriteBytes(JoinPath(corpus, name), seed);
}

TagList Tags(std::initializer_list<std::pair<const char*, std::string>> pairs) {
  TagList tags;
  for (const auto& [name, text] : pairs) tags.Set(name, text);
  return tags;
}

TagList ReadBack(Bytes file, bool id3) {
  TagList tags;
  std::unique_ptr<EditableBytes> bytes = EditableMemory(file);
  if (id3)
    ReadId3v1(*bytes, tags);
  else
    ReadInfo(*bytes, tags, true);
  return tags;
}

TagWrite Write(Bytes& file, const TagList& tags, bool id3) {
  std::unique_ptr<EditableBytes> bytes = EditableMemory(file);
  return id3 ? WriteId3v1(*bytes, tags) : WriteInfo(*bytes, tags);
}

TEST(TagsTest, Id3v1BlockFieldByField) {
  const Bytes frames(200, 0x55);
  Bytes file = frames;
  const std::string title35 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678";
  const std::string comment30 = "comment-comment-comment-commen";
  ASSERT_EQ(Write(file, Tags({{"TITLE", title35}, {"ARTIST", "Mädchen €"}, {"DATE", "19995"}, {"COMMENT", comment30},
                              {"TRACKNUMBER", "7"}, {"GENRE", "Pop"}}), true),
            TagWrite::kWritten);
  // An untagged file gains the block; its frames stay.
  ASSERT_EQ(file.size(), 328u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 200), frames);
  const std::size_t block = 200;
  EXPECT_EQ(Text(file, block, 3), "TAG");
  EXPECT_EQ(Text(file, block + 3, 30), title35.substr(0, 29) + std::string(1, '\0'));
  EXPECT_EQ(Text(file, block + 33, 30), "M\xE4" "dchen \x80" + std::string(21, '\0'));
  EXPECT_EQ(Text(file, block + 93, 4), "1999");
  EXPECT_EQ(Text(file, block + 97, 28), comment30.substr(0, 28));
  EXPECT_EQ(file[block + 125], 0);
  EXPECT_EQ(file[block + 126], 7);
  EXPECT_EQ(file[block + 127], 13);
  TagList read = ReadBack(file, true);
  EXPECT_EQ(read.Get("TITLE"), title35.substr(0, 29));
  EXPECT_EQ(read.Get("ARTIST"), "Mädchen €");
  EXPECT_EQ(read.Get("DATE"), "1999");
  EXPECT_EQ(read.Get("COMMENT"), comment30.substr(0, 28));
  EXPECT_EQ(read.Get("TRACKNUMBER"), "7");
  EXPECT_EQ(read.Get("GENRE"), "Pop");
  SaveTagsSeed("id3v1.mp3", 0, file);

  // A tagged file is rewritten in place; empty values keep their fields, a number is a
  // genre byte (low 8 bits), a name is matched without case, an unknown name keeps it.
  ASSERT_EQ(Write(file, Tags({{"GENRE", "300"}}), true), TagWrite::kWritten);
  ASSERT_EQ(file.size(), 328u);
  EXPECT_EQ(file[block + 127], 44);
  EXPECT_EQ(file[block + 126], 7);
  EXPECT_EQ(ReadBack(file, true).Get("TITLE"), title35.substr(0, 29));
  ASSERT_EQ(Write(file, Tags({{"GENRE", "synthPOP"}}), true), TagWrite::kWritten);
  EXPECT_EQ(file[block + 127], 147);
  ASSERT_EQ(Write(file, Tags({{"GENRE", "Polka-Dub"}}), true), TagWrite::kWritten);
  EXPECT_EQ(file[block + 127], 147);

  // Byte 125 not zero: no track, a comment of 29 characters.
  file[block + 125] = 'z';
  read = ReadBack(file, true);
  EXPECT_EQ(read.Get("COMMENT"), comment30.substr(0, 28) + "z");
  EXPECT_EQ(read.Get("TRACKNUMBER"), "");
  // Valid UTF-8 on the disk is taken as it is, other bytes as Windows-1252.
  const Bytes utf8 = Of(std::string("\xC3\x9C" "ber\0", 6));
  std::copy(utf8.begin(), utf8.end(), file.begin() + block + 3);
  EXPECT_EQ(ReadBack(file, true).Get("TITLE"), "Über");

  // A file shorter than a block gains one; an untagged file and an empty list stay alone.
  Bytes tiny(10, 0x11);
  ASSERT_EQ(Write(tiny, Tags({{"ARTIST", "x"}}), true), TagWrite::kWritten);
  EXPECT_EQ(tiny.size(), 138u);
  EXPECT_EQ(ReadBack(tiny, true).Get("ARTIST"), "x");
  Bytes untouched = frames;
  EXPECT_EQ(Write(untouched, Tags({{"TITLE", ""}}), true), TagWrite::kSkipped);
  EXPECT_EQ(untouched, frames);
  // 29 characters that take two bytes each in UTF-8 are 29 bytes on the disk.
  std::string umlauts;
  for (int i = 0; i < 35; ++i) umlauts += "ä";
  Bytes wide = frames;
  Write(wide, Tags({{"TITLE", umlauts}}), true);
  EXPECT_EQ(Text(wide, block + 3, 30), std::string(29, '\xE4') + std::string(1, '\0'));
}

// A small WAV file: 8-bit mono, three samples, then `tail` as built.
Bytes Wav(const RiffBuilder& tail = {}) {
  RiffBuilder wav;
  wav.Format(PcmFormat(8000, 1, 8)).Chunk("data", {1, 2, 3}).Raw(tail.bytes());
  return wav.Wave();
}
Bytes InfoList(std::initializer_list<std::pair<const char*, std::string>> subs) {
  RiffBuilder list;
  list.Text("INFO");
  for (const auto& [id, data] : subs) list.Chunk(id, Of(data));
  return list.bytes();
}
std::size_t Find(const Bytes& bytes, std::string_view text) {
  return static_cast<std::size_t>(std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) - bytes.begin());
}
std::uint32_t U32At(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

TEST(TagsTest, InfoRewritesInPlaceWhereSizesAllowAndAppendsTheRest) {
  RiffBuilder tail;
  tail.Chunk("LIST", InfoList({{"IART", std::string("Abcde", 6)}, {"ICMT", std::string("keep", 5)}}));
  Bytes file = Wav(tail);
  SaveTagsSeed("info.wav", 1, file);
  const std::size_t length = file.size();
  const std::size_t iart = Find(file, "IART");
  const std::size_t data = Find(file, "data");
  ASSERT_LT(data, iart);

  // Same length: in place; the file's own comment stays.
  ASSERT_EQ(Write(file, Tags({{"ARTIST", "Vwxyz"}}), false), TagWrite::kWritten);
  EXPECT_EQ(file.size(), length);
  EXPECT_EQ(Text(file, iart, 14), std::string("IART\6\0\0\0Vwxyz\0", 14));
  // Three letters: the old one is blanked and a new list of 24 bytes follows.
  ASSERT_EQ(Write(file, Tags({{"ARTIST", "Bob"}}), false), TagWrite::kWritten);
  ASSERT_EQ(file.size(), length + 24);
  EXPECT_EQ(Text(file, iart, 4), "    ");
  EXPECT_EQ(Text(file, length, 24), std::string("LIST\x10\0\0\0INFOIART\4\0\0\0Bob\0", 24));
  EXPECT_EQ(U32At(file, 4), file.size() - 8);
  TagList read = ReadBack(file, false);
  EXPECT_EQ(read.Get("ARTIST"), "Bob");
  EXPECT_EQ(read.Get("COMMENT"), "keep");
  // Unchanged values keep the length.
  ASSERT_EQ(Write(file, read, false), TagWrite::kWritten);
  EXPECT_EQ(file.size(), length + 24);

  // The title goes into a DISP chunk: type 1, text, zero, pad; the size counts the pad.
  ASSERT_EQ(Write(file, Tags({{"TITLE", "Hello"}}), false), TagWrite::kWritten);
  ASSERT_EQ(file.size(), length + 24 + 18);
  EXPECT_EQ(Text(file, length + 24, 18), std::string("DISP\x0a\0\0\0\1\0\0\0Hello\0", 18));
  ASSERT_EQ(Write(file, Tags({{"TITLE", "World"}}), false), TagWrite::kWritten);
  EXPECT_EQ(file.size(), length + 24 + 18);
  read = ReadBack(file, false);
  EXPECT_EQ(read.Get("TITLE"), "World");
  EXPECT_EQ(read.Get("ARTIST"), "Bob");
  EXPECT_EQ(U32At(file, 4), file.size() - 8);
  // The samples never moved.
  EXPECT_EQ(Text(file, data, 12), std::string("data\3\0\0\0\1\2\3\0", 12));

  // After an odd last chunk that lacks its pad byte, the pad comes first.
  Bytes odd = Wav();
  odd.pop_back();
  odd[4] = static_cast<std::uint8_t>(odd.size() - 8);
  ASSERT_EQ(Write(odd, Tags({{"GENRE", "Pop"}}), false), TagWrite::kWritten);
  EXPECT_EQ(odd.size(), data + 12 + 24);
  EXPECT_EQ(Text(odd, data + 11, 5), std::string("\0LIST", 5));
  EXPECT_EQ(ReadBack(odd, false).Get("GENRE"), "Pop");
}

TEST(TagsTest, TheLaterOfIprdAndDispIsTheTitle) {
  RiffBuilder disp;
  disp.Chunk("DISP", Of(std::string("\1\0\0\0Disp\0", 9)));
  RiffBuilder iprd;
  iprd.Chunk("LIST", InfoList({{"IPRD", std::string("Product", 8)}}));
  RiffBuilder iprd_then_disp = iprd;
  iprd_then_disp.Raw(disp.bytes());
  RiffBuilder disp_then_iprd = disp;
  disp_then_iprd.Raw(iprd.bytes());
  EXPECT_EQ(ReadBack(Wav(iprd_then_disp), false).Get("TITLE"), "Disp");
  EXPECT_EQ(ReadBack(Wav(disp_then_iprd), false).Get("TITLE"), "Product");
  // A DISP of type 0 holds no title; a sub-chunk reaching beyond its list is not read.
  RiffBuilder other;
  other.Chunk("DISP", Of(std::string("\0\0\0\0Bitmap", 10)));
  RiffBuilder beyond;
  beyond.Chunk("LIST", Of(std::string("INFOIART\x40\0\0\0Bob\0", 16)));
  TagList read = ReadBack(Wav(other), false);
  EXPECT_EQ(read.Get("TITLE"), "");
  EXPECT_EQ(ReadBack(Wav(beyond), false).Get("ARTIST"), "");
  SaveTagsSeed("iprd-disp.wav", 1, Wav(iprd_then_disp));
  SaveTagsSeed("beyond.wav", 1, Wav(beyond));
}

class TagFilesTest : public FormatTest {};

TEST_F(TagFilesTest, WritersLeaveAloneWhatTheyMustNot) {
  const TagList tags = Tags({{"ARTIST", "Bob"}, {"TITLE", "T"}});
  // Never created.
  EXPECT_EQ(WriteTags(tags, Path("missing.wav")), TagWrite::kFailed);
  EXPECT_EQ(WriteTags(tags, Path("missing.mp3")), TagWrite::kFailed);
  EXPECT_FALSE(std::filesystem::exists(Path("missing.wav")));
  EXPECT_FALSE(std::filesystem::exists(Path("missing.mp3")));
  // No RIFF/WAVE form, the 64-bit form, a data chunk of unknown size, a cut file.
  RiffBuilder unknown;
  unknown.Format(PcmFormat(8000, 1, 8)).Text("data").U32(0xFFFFFFFF).Raw({1, 2});
  Bytes cut = Wav();
  cut.resize(cut.size() - 2);
  for (const Bytes& bytes : {Of("not a wave file at all"), RiffBuilder().Chunk("data", {1, 2}).Wide("RF64", 2),
                             unknown.Wave(), cut}) {
    Bytes copy = bytes;
    EXPECT_EQ(Write(copy, tags, false), TagWrite::kSkipped);
    EXPECT_EQ(copy, bytes);
  }
  // A file whose length would no longer fit the 32-bit RIFF size (sparse, 4 GB).
  const std::string big = Path("big.wav");
  {
    RiffBuilder header;
    const std::uint32_t data = 0xFFFFFFFF - 36 - 20;
    header.Format(PcmFormat(8000, 1, 8)).Text("data").U32(data);
    Bytes start = header.Wave();
    start[4] = start[5] = start[6] = 0xFF;
    start[7] = 0xFF;
    File file(big, File::Mode::kCreate);
    ASSERT_TRUE(file.Write(start.data(), start.size()));
    ASSERT_TRUE(file.Truncate(static_cast<std::int64_t>(start.size()) + data));
  }
  const auto size = std::filesystem::file_size(big);
  EXPECT_EQ(WriteTags(tags, big), TagWrite::kSkipped);
  EXPECT_EQ(std::filesystem::file_size(big), size);
  std::filesystem::remove(big);
  // Other extensions carry no tags.
  WriteBytes(Path("a.aiff"), Wav());
  EXPECT_EQ(WriteTags(tags, Path("a.aiff")), TagWrite::kSkipped);
  EXPECT_EQ(ReadBytes(Path("a.aiff")), Wav());
}

TEST_F(TagFilesTest, SavesWriteTheTagsIntoTheFinishedFile) {
  Sound sound(8000, 1);
  {
    SinkRef writer = CreateBlockWriter(sound, 8000, 1);
    std::vector<std::int32_t> samples(800, 16 * 1000);
    writer->Write(samples.data(), 800);
  }
  const TagList tags = Tags({{"TITLE", "Über"}, {"ARTIST", "Bob"}, {"GENRE", "Pop"}});
  OpenOptions options;
  options.tags = &tags;
  ScriptedUi ui;
  const std::string path = Path("saved.wav");
  ASSERT_EQ(SaveSource(OpenSoundReader(sound), PcmFormat(8000, 1, 16), path,
                       *ui.OpenProgress(""), options),
            kDone);
  TagList read;
  ReadTags(read, path);
  EXPECT_EQ(read.Get("TITLE"), "Über");
  EXPECT_EQ(read.Get("ARTIST"), "Bob");
  EXPECT_EQ(read.Get("GENRE"), "Pop");
  const Bytes bytes = ReadBytes(path);
  EXPECT_EQ(U32At(bytes, 4), bytes.size() - 8);
  // sox still reads the 800 samples.
  ASSERT_EQ(RunCommand("sox " + Quote(path) + " -t raw " + Quote(Path("saved.raw")) + " 2>/dev/null"), 0);
  EXPECT_EQ(ReadBytes(Path("saved.raw")).size(), 1600u);
}

// The peers: ffmpeg writes tags we read; ffprobe and id3v2 read the ones we write.
class TagPeerTest : public FormatTest {
 protected:
  std::string Output(const std::string& command) {
    const std::string out = Path("peer.txt");
    EXPECT_EQ(RunCommand(command + " >" + Quote(out) + " 2>/dev/null"), 0) << command;
    const Bytes bytes = ReadBytes(out);
    return std::string(bytes.begin(), bytes.end());
  }
  std::string Probe(const std::string& path) {
    // Bytes that are no UTF-8 come as they are, not replaced.
    return Output("ffprobe -v error -show_entries format_tags -of default=nw=1:sv=ignore " + Quote(path));
  }
  void Ffmpeg(const std::string& arguments, const std::string& out) {
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=d=0.5 " + arguments + " " + Quote(out)), 0);
  }
};

TEST_F(TagPeerTest, WeReadWhatFfmpegWrites) {
  const std::string metadata =
      "-metadata artist=Ärzte -metadata title=Name -metadata album=Product -metadata genre=Pop -metadata comment=C "
      "-metadata copyright=2001 -metadata track=7 -metadata date=1999";
  Ffmpeg(metadata, Path("ffmpeg.wav"));
  TagList wav;
  ReadTags(wav, Path("ffmpeg.wav"));
  // ffmpeg's title is INAM and its album IPRD, which we read as album and title.
  EXPECT_EQ(wav.Get("ARTIST"), "Ärzte");
  EXPECT_EQ(wav.Get("ALBUM"), "Name");
  EXPECT_EQ(wav.Get("TITLE"), "Product");
  EXPECT_EQ(wav.Get("GENRE"), "Pop");
  EXPECT_EQ(wav.Get("COMMENT"), "C");
  EXPECT_EQ(wav.Get("DATE"), "2001");
  SaveTagsSeed("ffmpeg.wav", 1, ReadBytes(Path("ffmpeg.wav")));

  Ffmpeg("-write_id3v1 1 " + metadata, Path("ffmpeg.mp3"));
  TagList mp3;
  ReadTags(mp3, Path("ffmpeg.mp3"));
  EXPECT_EQ(mp3.Get("ARTIST"), "Ärzte");
  EXPECT_EQ(mp3.Get("TITLE"), "Name");
  EXPECT_EQ(mp3.Get("ALBUM"), "Product");
  EXPECT_EQ(mp3.Get("GENRE"), "Pop");
  EXPECT_EQ(mp3.Get("COMMENT"), "C");
  EXPECT_EQ(mp3.Get("TRACKNUMBER"), "7");
  EXPECT_EQ(mp3.Get("DATE"), "1999");
}

TEST_F(TagPeerTest, FfprobeAndId3v2ReadWhatWeWrite) {
  const TagList tags = Tags({{"TITLE", "Mädchen"}, {"ARTIST", "Bob"}, {"ALBUM", "Platte"}, {"GENRE", "Pop"},
                             {"TRACKNUMBER", "7"}, {"DATE", "2001"}, {"COMMENT", "hi"}});
  const std::string mp3 = Path("ours.mp3");
  Ffmpeg("-c:a libmp3lame -id3v2_version 0", mp3);  // no ID3v2 tag, which ffprobe would prefer
  ASSERT_EQ(WriteTags(tags, mp3), TagWrite::kWritten);
  // Both print the Windows-1252 bytes as they are.
  const std::string probed = Probe(mp3);
  for (const char* line : {"TAG:title=M\xE4" "dchen\n", "TAG:artist=Bob\n", "TAG:album=Platte\n", "TAG:genre=Pop\n",
                           "TAG:track=7\n", "TAG:date=2001\n", "TAG:comment=hi\n"})
    EXPECT_NE(probed.find(line), std::string::npos) << line << " in " << probed;
  const std::string listed = Output("id3v2 -l " + Quote(mp3));
  for (const char* part : {"Title  : M\xE4" "dchen ", "Artist: Bob", "Genre: Pop (13)", "Track: 7", "Year: 2001"})
    EXPECT_NE(listed.find(part), std::string::npos) << part << " in " << listed;

  const std::string wav = Path("ours.wav");
  Ffmpeg("-c:a pcm_s16le -fflags +bitexact", wav);
  ASSERT_EQ(WriteTags(tags, wav), TagWrite::kWritten);
  const std::string info = Probe(wav);
  for (const char* line : {"TAG:artist=Bob\n", "TAG:title=Platte\n", "TAG:genre=Pop\n", "TAG:comment=hi\n",
                           "TAG:copyright=2001\n"})
    EXPECT_NE(info.find(line), std::string::npos) << line << " in " << info;
}


}  // namespace
}  // namespace sonavel::testing
