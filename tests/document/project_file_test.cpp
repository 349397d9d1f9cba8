// The project file: exact bytes, a bit-exact round trip, fixtures written by an
// independent script, and the refusal of damaged or oversized input.

#include "document/project_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/paths.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using testing::ReadAll;
using testing::WriteSound;

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

// With SONAVEL_PROJECT_FUZZ_SEEDS naming a folder, the files of these tests become the
// project fuzz target's seeds.
void KeepSeed(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const char* seeds = std::getenv("SONAVEL_PROJECT_FUZZ_SEEDS");
  if (seeds == nullptr || *seeds == '\0') return;
  std::ofstream(JoinPath(seeds, name), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class CancelAfter final : public Progress {
 public:
  explicit CancelAfter(int pumps) : pumps_(pumps) {}
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override { return --pumps_ < 0; }

 private:
  int pumps_;
};

class ProjectFileTest : public testing::StoreTest {
 protected:
  std::string PathFor(const std::string& name) { return JoinPath(folder_, name); }

  std::vector<std::uint8_t> Saved(const Project& project) {
    const std::string path = PathFor("saved.snp");
    std::string error;
    EXPECT_EQ(SaveProject(project, path, silent_, error), kDone) << error;
    return FileBytes(path);
  }

  Result Load(std::vector<std::uint8_t> bytes, Project& project, std::string& error) {
    auto source = MemoryBytes(std::move(bytes));
    return LoadProject(*source, project, silent_, error);
  }

  SilentProgress silent_;
};

TEST_F(ProjectFileTest, ExactBytesOfEmptyStereoAndStringForms) {
  EXPECT_EQ(Saved(Project{}), (std::vector<std::uint8_t>{2, 0, 0}));
  {
    Project stereo;
    stereo.documents.emplace_back();
    ProjectDocument& document = stereo.documents.back();
    document.path = "x";
    document.cursor = -1;
    std::vector<std::int32_t> samples(20);
    for (int i = 0; i < 20; ++i) samples[i] = (i - 10) * 0x123457;
    document.audio = WriteSound(samples, 2, 48000);
    const auto bytes = Saved(stereo);
    // version, count, "x", five positions, no bookmarks, a 9-byte audio header (rate,
    // channels, frames) and 80 bytes of samples, no regions.
    ASSERT_EQ(bytes.size(), 1u + 1 + 2 + 20 + 1 + 9 + 80 + 1);
    EXPECT_EQ(Le32(bytes, 4), 0xFFFFFFFFu);
    const std::size_t audio = 25;
    EXPECT_EQ(Le32(bytes, audio), 48000u);
    EXPECT_EQ(bytes[audio + 4], 2);
    EXPECT_EQ(Le32(bytes, audio + 5), 10u);
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(static_cast<std::int32_t>(Le32(bytes, audio + 9 + 4 * i)), samples[i]);
  }

  // Up to 254 bytes the length takes one byte; from 255 on, 255 and a 32-bit length; a
  // longer text is cut to 259 bytes at a character boundary (258 for two-byte letters).
  struct Form {
    std::string path;
    std::size_t stored;
  };
  std::string umlauts;
  for (int i = 0; i < 150; ++i) umlauts += "ä";
  for (const Form& form : {Form{std::string(254, 'a'), 254}, Form{std::string(255, 'b'), 255},
                           Form{std::string(400, 'c'), 259}, Form{umlauts, 258}}) {
    Project named;
    named.documents.emplace_back();
    named.documents.back().path = form.path;
    const auto saved = Saved(named);
    std::size_t text = 3;
    if (form.stored < 255) {
      EXPECT_EQ(saved[2], form.stored);
    } else {
      EXPECT_EQ(saved[2], 255);
      EXPECT_EQ(Le32(saved, 3), form.stored);
      text = 7;
    }
    EXPECT_EQ(std::string(saved.begin() + text, saved.begin() + text + form.stored),
              form.path.substr(0, form.stored));
    Project loaded;
    std::string error;
    ASSERT_EQ(Load(saved, loaded, error), kDone) << error;
    EXPECT_EQ(loaded.documents.at(0).path, form.path.substr(0, form.stored));
  }
  ExpectNoLeak();
}

TEST_F(ProjectFileTest, RoundTripIsBitExact) {
  {
    Project project;
    project.documents.resize(2);
    project.documents[0].path = "/musik/Lied.wav";
    project.documents[0].cursor = 5;
    project.documents[0].selection_start = 3;
    project.documents[0].selection_end = 9;
    project.documents[0].view_start = -2;
    project.documents[0].view_end = 11;
    project.documents[0].bookmarks = {{"Anfang", "Lied.wav", 0, 1, 0},
                                      {"Refrain ü", "Lied.wav", 123456, 255, 1700000000}};
    project.documents[0].audio =
        WriteSound({INT32_MIN, INT32_MAX, 0, -1, 0x7FFF0, -0x7FFF0}, 3, 196000);
    std::vector<std::int32_t> ramp(20000);  // more than two chunks
    for (int i = 0; i < 20000; ++i) ramp[i] = i * 97 - 900000;
    project.documents[1].path = "Unbenannt 1";
    project.documents[1].audio = WriteSound(ramp, 1, 8000);
    project.regions.resize(1);
    project.regions[0].name = "Stück";
    project.regions[0].source_title = "Lied.wav";
    project.regions[0].start = 10;
    project.regions[0].end = 2500;
    CopyRange(project.documents[1].audio, project.regions[0].audio, 100, 10100);
    const auto first = Saved(project);

    Project loaded;
    std::string error;
    ASSERT_EQ(Load(first, loaded, error), kDone) << error;
    ASSERT_EQ(loaded.documents.size(), 2u);
    ASSERT_EQ(loaded.regions.size(), 1u);
    for (int i = 0; i < 2; ++i) {
      const ProjectDocument& a = project.documents[i];
      const ProjectDocument& b = loaded.documents[i];
      EXPECT_EQ(a.path, b.path);
      EXPECT_EQ(std::vector<std::int32_t>(
                    {a.cursor, a.selection_start, a.selection_end, a.view_start, a.view_end}),
                std::vector<std::int32_t>(
                    {b.cursor, b.selection_start, b.selection_end, b.view_start, b.view_end}));
      ASSERT_EQ(a.bookmarks.size(), b.bookmarks.size());
      for (std::size_t k = 0; k < a.bookmarks.size(); ++k) {
        EXPECT_EQ(a.bookmarks[k].name, b.bookmarks[k].name);
        EXPECT_EQ(a.bookmarks[k].source_title, b.bookmarks[k].source_title);
        EXPECT_EQ(a.bookmarks[k].position, b.bookmarks[k].position);
        EXPECT_EQ(a.bookmarks[k].use_count, b.bookmarks[k].use_count);
        EXPECT_EQ(a.bookmarks[k].last_used, b.bookmarks[k].last_used);
      }
      EXPECT_EQ(a.audio.rate, b.audio.rate);
      EXPECT_EQ(a.audio.channels, b.audio.channels);
      EXPECT_EQ(ReadAll(a.audio), ReadAll(b.audio));
      EXPECT_EQ(SegmentCount(b.audio), 1);
    }
    EXPECT_EQ(loaded.regions[0].name, "Stück");
    EXPECT_EQ(loaded.regions[0].start, 10);
    EXPECT_EQ(loaded.regions[0].end, 2500);
    EXPECT_EQ(ReadAll(loaded.regions[0].audio), ReadAll(project.regions[0].audio));
    EXPECT_EQ(Saved(loaded), first);
    KeepSeed("round-trip.snp", first);
  }
  ExpectNoLeak();
}

// Both versions written by an independent script from the layout alone.
TEST_F(ProjectFileTest, ReadsScriptWrittenVersionOneAndTwo) {
  const std::string script = PathFor("write.py");
  std::ofstream(script) << R"(import struct, sys
def s(t):
    b = t.encode('utf-8')
    return (struct.pack('<B', len(b)) if len(b) < 255 else struct.pack('<BI', 255, len(b))) + b
def fixed(t):
    b = t.encode('cp1252')
    return b + bytes(260 - len(b))
def audio(rate, ch, samples):
    return struct.pack('<iBi', rate, ch, len(samples) // ch) + struct.pack('<%di' % len(samples), *samples)
two = bytes([2, 1]) + s('/a/Eins.wav') + struct.pack('<5i', 7, 1, 4, 0, 9)
two += bytes([1]) + s('Marke') + s('Eins.wav') + struct.pack('<iBi', 250, 3, 86400)
two += audio(22050, 2, [1, -2, 3, -4, 2147483647, -2147483648])
two += bytes([1]) + s('Teil') + s('Eins.wav') + struct.pack('<ii', 0, 45) + audio(11025, 1, [9, 8])
open(sys.argv[1], 'wb').write(two)
one = bytes([1, 2])
for name in ('C:\\Töne\\Eins.wav', 'Unbenannt 2'):
    one += fixed(name) + fixed('ignored') + struct.pack('<5i', 1, 2, 3, 4, 5) + audio(44100, 1, [5, 6, 7])
one += bytes([0, 2]) + fixed('Gross') + fixed('eins.WAV') + struct.pack('<iBi', 100, 1, 0)
one += fixed('Niemand') + fixed('fehlt.wav') + struct.pack('<iBi', 5, 1, 0)
one += bytes([1]) + fixed('Alt') + fixed('C:\\Töne\\Eins.wav') + struct.pack('<ii', 1, 2) + audio(8000, 1, [])
open(sys.argv[2], 'wb').write(one)
)";
  const std::string two = PathFor("two.snp");
  const std::string one = PathFor("one.snp");
  ASSERT_EQ(std::system(("python3 " + script + " " + two + " " + one).c_str()), 0);
  KeepSeed("version2.snp", FileBytes(two));
  KeepSeed("version1.snp", FileBytes(one));
  {
    Project project;
    std::string error;
    ASSERT_EQ(LoadProjectFile(two, project, silent_, error), kDone) << error;
    ASSERT_EQ(project.documents.size(), 1u);
    const ProjectDocument& document = project.documents[0];
    EXPECT_EQ(document.path, "/a/Eins.wav");
    EXPECT_EQ(
        std::vector<std::int32_t>({document.cursor, document.selection_start,
                                   document.selection_end, document.view_start, document.view_end}),
        std::vector<std::int32_t>({7, 1, 4, 0, 9}));
    ASSERT_EQ(document.bookmarks.size(), 1u);
    EXPECT_EQ(document.bookmarks[0].name, "Marke");
    EXPECT_EQ(document.bookmarks[0].position, 250);
    EXPECT_EQ(document.bookmarks[0].use_count, 3);
    EXPECT_EQ(document.bookmarks[0].last_used, 86400);
    EXPECT_EQ(document.audio.rate, 22050);
    EXPECT_EQ(ReadAll(document.audio),
              (std::vector<std::int32_t>{1, -2, 3, -4, INT32_MAX, INT32_MIN}));
    ASSERT_EQ(project.regions.size(), 1u);
    EXPECT_EQ(project.regions[0].name, "Teil");
    EXPECT_EQ(project.regions[0].end, 45);
    EXPECT_EQ(ReadAll(project.regions[0].audio), (std::vector<std::int32_t>{9, 8}));
  }
  {
    Project project;
    std::string error;
    ASSERT_EQ(LoadProjectFile(one, project, silent_, error), kDone) << error;
    ASSERT_EQ(project.documents.size(), 2u);
    EXPECT_EQ(project.documents[0].path, "C:\\Töne\\Eins.wav");
    EXPECT_EQ(project.documents[1].path, "Unbenannt 2");
    EXPECT_EQ(project.documents[1].view_end, 5);
    EXPECT_EQ(ReadAll(project.documents[1].audio), (std::vector<std::int32_t>{5, 6, 7}));
    // The record goes to the document titled like it, ignoring case; the other is dropped.
    ASSERT_EQ(project.documents[0].bookmarks.size(), 1u);
    EXPECT_EQ(project.documents[0].bookmarks[0].name, "Gross");
    EXPECT_TRUE(project.documents[1].bookmarks.empty());
    ASSERT_EQ(project.regions.size(), 1u);
    EXPECT_EQ(project.regions[0].source_title, "Eins.wav");
    EXPECT_EQ(project.regions[0].audio.rate, 8000);
  }
  ExpectNoLeak();
}

TEST_F(ProjectFileTest, RefusesDamagedInputAndKeepsTheOldFileOnFailedSaves) {
  {
    Project project;
    project.documents.resize(1);
    project.documents[0].path = "a";
    project.documents[0].bookmarks = {{"m", "a", 1, 1, 1}};
    project.documents[0].audio = WriteSound({1, 2, 3, 4}, 2, 44100);
    project.regions.resize(1);
    project.regions[0].audio = WriteSound({5}, 1, 44100);
    const auto good = Saved(project);
    KeepSeed("small.snp", good);
    std::string error;

    // Every cut of the file fails; what was complete before the cut stays.
    for (std::size_t size = 0; size < good.size(); ++size) {
      Project loaded;
      error.clear();
      EXPECT_EQ(Load({good.begin(), good.begin() + size}, loaded, error), kFailed) << size;
      EXPECT_FALSE(error.empty());
      EXPECT_EQ(loaded.documents.size(), size >= good.size() - 24 ? 1u : 0u) << size;
      EXPECT_TRUE(loaded.regions.empty());
    }
    auto patched = [&](std::size_t at, std::vector<std::uint8_t> bytes) {
      auto copy = good;
      std::copy(bytes.begin(), bytes.end(), copy.begin() + at);
      Project loaded;
      return Load(copy, loaded, error);
    };
    EXPECT_EQ(patched(0, {3}), kFailed);
    EXPECT_EQ(error,
              "Diese Datei passt nicht zur aktuellen Sonavel Version oder sie ist beschädigt.");
    const std::size_t audio = 2 + 2 + 20 + 1 + 13;
    ASSERT_EQ(Le32(good, audio), 44100u);
    EXPECT_EQ(patched(audio, {0, 0, 0, 0}), kFailed);           // rate 0
    EXPECT_EQ(patched(audio, {0xA1, 0xFD, 0x02, 0}), kFailed);  // 196001 Hz
    EXPECT_EQ(patched(audio, {0xA0, 0xFD, 0x02, 0}), kDone);    // 196000 Hz
    EXPECT_EQ(patched(audio + 4, {0}), kFailed);                // no channels
    EXPECT_EQ(patched(audio + 5, {0xFF, 0xFF, 0xFF, 0x7F}), kFailed);
    EXPECT_EQ(patched(2, {255, 0xFF, 0xFF, 0xFF, 0xFF}), kFailed);  // a string longer than the file

    // A refused or cancelled save leaves the old file as it was.
    const std::string path = PathFor("saved.snp");
    Project crowded;
    crowded.regions.resize(256);
    EXPECT_EQ(SaveProject(crowded, path, silent_, error), kFailed);
    EXPECT_EQ(error, "Ein Projekt kann höchstens 255 Bereiche enthalten.");
    CancelAfter cancel(0);
    EXPECT_EQ(SaveProject(project, path, cancel, error), kCancelled);
    EXPECT_EQ(FileBytes(path), good);
    Project cancelled;
    CancelAfter cancel_load(0);
    auto source = MemoryBytes(good);
    EXPECT_EQ(LoadProject(*source, cancelled, cancel_load, error), kCancelled);
    EXPECT_TRUE(cancelled.documents.empty());
  }
  ExpectNoLeak();
}

}  // namespace
}  // namespace sonavel
