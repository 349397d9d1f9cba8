// The bookmark model and its ".wbm" sidecar: exact bytes, the reader's refusals, the
// sidecar following a document through open and save, and the names and jumps.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "document/bookmark_file.h"
#include "document/file_commands.h"
#include "document_fixture.h"
#include "formats/wav_writer.h"
#include "platform/paths.h"
#include "store/segment_reader.h"
#include "store/time.h"

namespace sonavel {
namespace {

using BookmarkTest = testing::DocumentTest;
using Bytes = std::vector<std::uint8_t>;

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The sidecar's edge cases side by side: a name cut from 300 to 259 bytes (long length
// form), one of 254 bytes (the longest one-byte length), an empty title, a negative
// position, a last-used time past 2038 and two bookmarks at one position in the order
// they were added.
BookmarkList EdgeList() {
  BookmarkList list;
  list.Add({std::string(300, 'a'), "t.wav", 500, 3, 0xF0000000u});
  list.Add({std::string(254, 'b'), "", -20, 255, 0});
  list.Add({"first", "x", 500, 1, 7});
  return list;
}

Bytes Text(std::size_t length, char c, bool long_form) {
  Bytes out;
  if (long_form)
    out = {255, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8), 0, 0};
  else
    out = {static_cast<std::uint8_t>(length)};
  out.insert(out.end(), length, static_cast<std::uint8_t>(c));
  return out;
}

Bytes EdgeBytes() {
  Bytes b = {2, 3};
  auto add = [&](const Bytes& part) { b.insert(b.end(), part.begin(), part.end()); };
  add(Text(254, 'b', false));
  add({0, 0xEC, 0xFF, 0xFF, 0xFF, 255, 0, 0, 0, 0});
  add(Text(259, 'a', true));
  add({5, 't', '.', 'w', 'a', 'v', 0xF4, 0x01, 0, 0, 3, 0, 0, 0, 0xF0});
  add({5, 'f', 'i', 'r', 's', 't', 1, 'x', 0xF4, 0x01, 0, 0, 1, 7, 0, 0, 0});
  return b;
}

void ExpectSameList(const BookmarkList& a, const BookmarkList& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    const Bookmark& x = a.bookmarks()[i];
    const Bookmark& y = b.bookmarks()[i];
    EXPECT_EQ(x.name, y.name.substr(0, kMaxBookmarkName));
    EXPECT_EQ(x.source_title, y.source_title);
    EXPECT_EQ(x.position, y.position);
    EXPECT_EQ(x.use_count, y.use_count);
    EXPECT_EQ(x.last_used, y.last_used);
  }
}

TEST(BookmarkFileTest, TheSidecarsBytesAreExactAndReadBackWhole) {
  const BookmarkList list = EdgeList();
  EXPECT_EQ(list.bookmarks()[2].name, "first");  // after the earlier one at 500 ms
  const std::optional<Bytes> bytes = BookmarkFileBytes(list);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, EdgeBytes());

  if (const char* seeds = std::getenv("SONAVEL_SIDECAR_FUZZ_SEEDS"))
    WriteBytes(JoinPath(seeds, "edge"), *bytes);

  BookmarkList read;
  EXPECT_EQ(ReadBookmarks(*MemoryBytes(*bytes), read), BookmarkRead::kRead);
  ExpectSameList(read, EdgeList());
  EXPECT_EQ(read.bookmarks()[1].last_used, 0xF0000000u);

  // A file listed out of order is read sorted.
  Bytes reversed = {2, 2, 1,   'l', 0,    0x10, 0, 0, 0, 1, 0, 0, 0,
                    0, 1, 'e', 0,   0x01, 0,    0, 0, 1, 0, 0, 0, 0};
  BookmarkList sorted;
  EXPECT_EQ(ReadBookmarks(*MemoryBytes(reversed), sorted), BookmarkRead::kRead);
  ASSERT_EQ(sorted.size(), 2u);
  EXPECT_EQ(sorted.bookmarks()[0].name, "e");
}

// A record cut short is dropped with what follows, a length beyond the file too; version
// 0 or 1 and an empty file read nothing; a string of more than 519 bytes keeps 259
// characters and the next field is found after it.
TEST(BookmarkFileTest, TheReaderDropsWhatIsCutShortAndOldVersions) {
  const Bytes whole = EdgeBytes();
  for (const std::size_t cut : {whole.size() - 1, whole.size() - 17}) {
    BookmarkList read;
    EXPECT_EQ(ReadBookmarks(*MemoryBytes(Bytes(whole.begin(), whole.begin() + cut)), read),
              BookmarkRead::kTruncated);
    EXPECT_EQ(read.size(), 2u) << cut;
  }
  BookmarkList none;
  EXPECT_EQ(ReadBookmarks(*MemoryBytes({2, 1, 255, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 0}), none),
            BookmarkRead::kTruncated);
  EXPECT_EQ(ReadBookmarks(*MemoryBytes({1, 1, 0, 0}), none), BookmarkRead::kOldVersion);
  EXPECT_EQ(ReadBookmarks(*MemoryBytes({}), none), BookmarkRead::kOldVersion);
  EXPECT_EQ(none.size(), 0u);

  Bytes huge = {2, 1, 255, 0x58, 0x02, 0, 0};  // 600 bytes
  huge.insert(huge.end(), 600, 'z');
  huge.insert(huge.end(), {1, 'q', 9, 0, 0, 0, 4, 1, 0, 0, 0});
  BookmarkList read;
  EXPECT_EQ(ReadBookmarks(*MemoryBytes(huge), read), BookmarkRead::kRead);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read.bookmarks()[0].name, std::string(259, 'z'));
  EXPECT_EQ(read.bookmarks()[0].source_title, "q");
  EXPECT_EQ(read.bookmarks()[0].position, 9);
}

TEST(BookmarkFileTest, TheSidecarReplacesTheLastExtension) {
  EXPECT_EQ(BookmarkSidecarPath("/m/song.mp3"), "/m/song.wbm");
  EXPECT_EQ(BookmarkSidecarPath("/m/a.b/song"), "/m/a.b/song");
  EXPECT_EQ(BookmarkSidecarPath("C:\\a.b\\song"), "C:\\a.b\\song");
  EXPECT_EQ(BookmarkSidecarPath("x.tar.gz"), "x.tar.wbm");
  EXPECT_EQ(BookmarkSidecarPath(".wav"), ".wav");
  EXPECT_EQ(BookmarkSidecarPath("/" + std::string(300, 'p') + ".wav"), "/" + std::string(258, 'p'));
}

// Names: sanitised on rename, compared ignoring case, refused when empty or taken; the
// 256th bookmark is refused; a jump raises the use count (wrapping) and lands inside the
// sound; the default names and both time forms.
TEST_F(BookmarkTest, NamesJumpsAndLimits) {
  AudioDocument document(1000, 1, "/f/ton.wav");
  document.sound = testing::RampSound(3000);
  document.sound.rate = 1000;
  document.state.cursor = 1234;
  EXPECT_EQ(DefaultBookmarkName(document), "ton.wav@0:00:01.23");
  EXPECT_FALSE(AddBookmark(document, "Eins", 99));
  EXPECT_EQ(document.state.modified, 1);
  EXPECT_EQ(document.bookmarks.bookmarks()[0].position, 1234);
  EXPECT_EQ(document.bookmarks.bookmarks()[0].source_title, "ton.wav");
  EXPECT_TRUE(HasBookmark(document, "EINS"));

  AudioDocument other(1000, 1, "/f/b.wav");
  other.bookmarks.Add({"zwei", "", 0, 1, 0});
  const std::vector<const AudioDocument*> open = {&document, &other};
  EXPECT_EQ(NewBookmarkNameProblem(open, "...")->text, "The name must contain text.");
  EXPECT_EQ(NewBookmarkNameProblem(open, "Z:wei")->caption, "Bookmark Name Exists");
  EXPECT_FALSE(NewBookmarkNameProblem(open, "a:b"));
  EXPECT_TRUE(RenameBookmark(document, "eins", "a:b\x01\xc3\xa4?"));
  EXPECT_EQ(document.bookmarks.bookmarks()[0].name, "ab");
  EXPECT_EQ(SanitiseName(std::string(300, 'n')).size(), 259u);

  document.bookmarks.bookmarks()[0].position = 99999;  // the sound got shorter
  document.bookmarks.bookmarks()[0].use_count = 255;
  EXPECT_TRUE(GoToBookmark(document, "AB", 4000000000u));
  EXPECT_EQ(document.bookmarks.bookmarks()[0].use_count, 0);
  EXPECT_EQ(document.bookmarks.bookmarks()[0].last_used, 4000000000u);
  EXPECT_EQ(document.state.cursor, 3000);
  EXPECT_FALSE(GoToBookmark(document, "eins", 1));

  // 3 000 000 000 frames at 48 kHz are 62 500 000 ms: no 32-bit overflow on the way.
  AudioDocument big(48000, 1, "x");
  EXPECT_EQ(FrameToBookmarkMs(big, 3000000000LL), 62500000);
  EXPECT_EQ(FormatTimeSeconds(3599500), "1:00:00");
  EXPECT_EQ(FormatTimeSeconds(-1499), "-0:00:01");
  EXPECT_EQ(FormatTimeHundredths(-1234), "-0:00:01.23");

  for (int i = 1; i < 255; ++i) EXPECT_FALSE(AddBookmark(document, std::to_string(i) + "n", 0));
  const std::optional<Message> refused = AddBookmark(document, "zu viel", 0);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->text, "Ein Dokument kann höchstens 255 Lesezeichen haben.");
  EXPECT_EQ(BookmarkCount(document), 255u);
  EXPECT_TRUE(RemoveAllBookmarks(document));
  EXPECT_FALSE(RemoveAllBookmarks(document));
}

// A region keeps its own audio after the selection is deleted from the document.
TEST_F(BookmarkTest, ARegionKeepsItsAudio) {
  AudioDocument document(1000, 1, "/f/ton.wav");
  document.sound = testing::RampSound(3000);
  document.sound.rate = 1000;
  SetSelection(document, 1000, 1500, 1000);
  EXPECT_EQ(DefaultRegionName(document), "ton.wav@0:00:01.00-0:00:01.50");
  RegionList regions;
  regions.Append(MakeRegion(document, "r"));
  DeleteRange(document.sound, 1000, 1500);
  const Region& region = *regions.Find("R");
  EXPECT_EQ(region.start, 1000);
  EXPECT_EQ(region.end, 1500);
  SourceRef reader = OpenSoundReader(region.audio);
  EXPECT_EQ(testing::ReadFrames(*reader, 2), (std::vector<std::int32_t>{2000, 2001}));
  EXPECT_TRUE(regions.Remove("r"));
}

// Saving writes the sidecar beside the file, opening reads it; a save without bookmarks
// deletes it, unless it existed but could not be read; a sidecar that cannot be written
// is reported and the save itself stands.
TEST_F(BookmarkTest, TheSidecarFollowsOpenAndSave) {
  const std::string path = JoinPath(folder_, "ton.wav");
  const std::string sidecar = JoinPath(folder_, "ton.wbm");
  DocumentRef document = MakeCounted<AudioDocument>(1000, 1, path);
  document->sound = testing::RampSound(3000);
  document->sound.rate = 1000;
  document->bookmarks = EdgeList();
  ASSERT_TRUE(SaveDocumentTo(*document, path, ui_));
  EXPECT_EQ(FileBytes(sidecar), EdgeBytes());

  DocumentList list;
  DocumentRef opened = OpenDocumentFile(list, path, ui_);
  ASSERT_TRUE(opened);
  ExpectSameList(opened->bookmarks, EdgeList());
  EXPECT_EQ(opened->state.modified, 0);

  opened->bookmarks.Clear();
  ASSERT_TRUE(SaveDocumentTo(*opened, path, ui_));
  EXPECT_FALSE(std::filesystem::exists(sidecar));

  WriteBytes(sidecar, {1, 0});
  DocumentRef old = OpenDocumentFile(list, path, ui_);
  ASSERT_TRUE(old);
  EXPECT_EQ(old->bookmarks.size(), 0u);
  ASSERT_TRUE(SaveDocumentTo(*old, path, ui_));
  EXPECT_EQ(FileBytes(sidecar), (Bytes{1, 0}));

  std::filesystem::remove(sidecar);
  std::filesystem::create_directory(sidecar);
  old->bookmarks.Add({"x", "", 0, 1, 0});
  const std::size_t before = ui_.shown().size();
  EXPECT_TRUE(SaveDocumentTo(*old, path, ui_));
  ASSERT_EQ(ui_.shown().size(), before + 1);
  EXPECT_EQ(ui_.shown().back().text,
            "Die Lesezeichen konnten nicht in \"" + sidecar + "\" gespeichert werden.");
}

}  // namespace
}  // namespace sonavel
