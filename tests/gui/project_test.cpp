// Projects through the frame's commands with a scripted Ui: saved, closed and opened again
// whole; playable and savable without their source files; a failed load changing nothing.

#include <gtest/gtest.h>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "app/command_ids.h"
#include "devices/capture_output.h"
#include "document/bookmark_file.h"
#include "document/project_file.h"
#include "document/working_folder.h"
#include "formats/wav_reader.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/paths.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

using testing::TestSettings;
using testing::WriteTone;

constexpr char kSaveQuestion[] = "Änderungen im aktuellen Projekt speichern?";
constexpr char kLoadFailed[] =
    "Sonavel Kann Projekt nicht laden. Das Projekt könnte unlesbar oder beschädigt sein. Bitte versuchen sie es "
    "noch einmal.";

std::vector<std::int32_t> Samples(const Sound& sound) {
  SourceRef reader = OpenSoundReader(sound);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(reader->Length()) * reader->channels);
  reader->Read(samples.data(), reader->Length());
  return samples;
}

using BookmarkFields = std::tuple<std::string, std::string, std::int32_t, std::uint8_t, std::uint32_t>;

// What a document is made of that a project keeps.
struct Kept {
  std::string path;
  EditState state;
  std::vector<BookmarkFields> bookmarks;
  std::vector<std::int32_t> samples;
  bool operator==(const Kept&) const = default;
};

std::vector<Kept> KeptOf(MainWindow& window) {
  std::vector<Kept> kept;
  for (const DocumentRef& document : window.document_list().documents()) {
    Kept& one = kept.emplace_back(Kept{document->path, document->state, {}, Samples(document->sound)});
    for (const Bookmark& mark : document->bookmarks.bookmarks())
      one.bookmarks.emplace_back(mark.name, mark.source_title, mark.position, mark.use_count, mark.last_used);
  }
  return kept;
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

class ProjectFrameTest : public ::testing::Test {
 protected:
  ProjectFrameTest() { SetWorkingFolder(test_.folder); }
  ~ProjectFrameTest() override {
    window_.reset();
    SetWorkingFolder("");
  }

  std::string Path(const std::string& name) const { return JoinPath(test_.folder, name); }
  std::string Title() const { return window_->windowTitle().toStdString(); }
  const Message& LastMessage() const { return ui_.shown().back(); }

  TestSettings test_;
  testing::ScopedDataFolder data_{test_.folder};  // a save stores the chosen WAV format
  ScriptedUi ui_;
  std::unique_ptr<MainWindow> window_ = std::make_unique<MainWindow>(test_.settings, &ui_);
};

TEST_F(ProjectFrameTest, SavedClosedAndOpenedAgainWithPositionsBookmarksSamplesAndRegions) {
  MainWindow& window = *window_;
  window.show();
  ASSERT_TRUE(window.OpenDocument(WriteTone(test_.folder, "stereo.wav", 2, 30000)));
  AudioDocument& stereo = *window.ActiveDocument();
  SetSelection(stereo, 5000, 1000, 3000);
  SetView(stereo, 20000, 500);
  ASSERT_FALSE(AddBookmark(stereo, "Zwei", 1700000000));
  SetSelection(stereo, 1000, 5000, 2205);
  ASSERT_FALSE(AddBookmark(stereo, "Eins", 1700000001));
  ASSERT_TRUE(window.OpenDocument(WriteTone(test_.folder, "mono.wav", 1, 9000)));
  AudioDocument& mono = *window.ActiveDocument();
  SetSelection(mono, 2205, 4410, 4410);
  window.regions().Append(MakeRegion(mono, "Mitte"));
  ASSERT_NE(stereo.state.modified, 0);  // the bookmarks changed it
  std::vector<Kept> before = KeptOf(window);
  const std::vector<std::int32_t> region_samples = Samples(window.regions().regions()[0].audio);
  ASSERT_EQ(region_samples.size(), 2205u);

  // Without a path, Save becomes Save As; a name without extension gets ".snp".
  ui_.QueueChoice(Path("sitzung"));
  ASSERT_TRUE(window.Dispatch(command_id::kSaveProject));
  const std::string project = Path("sitzung.snp");
  EXPECT_EQ(Title(), "Sonavel - sitzung.snp");
  EXPECT_EQ(test_.settings.ReadText("Settings", "SaveProjectAsDir", ""), test_.folder);
  EXPECT_EQ(stereo.state.modified, 0);
  before[0].state.modified = 0;  // the only change the save makes
  EXPECT_EQ(KeptOf(window), before);
  EXPECT_TRUE(ui_.shown().empty());
  EXPECT_EQ(std::vector<std::string>(ui_.requests().end() - 2, ui_.requests().end()),
            (std::vector<std::string>{"save Speichere Projekt als", "progress Speichere Projekt"}));
  // Version, two documents, the stereo one's path and its five positions as they were.
  const std::vector<std::uint8_t> bytes = FileBytes(project);
  ASSERT_GT(bytes.size(), 30000u * 8 + 9000u * 4 + 2205u * 4);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[1], 2);

  // A save that fails keeps the documents' changes and says why; the path is taken anyway.
  stereo.state.modified = 1;
  ui_.QueueChoice(Path("fehlt/kaputt.snp"));
  EXPECT_FALSE(window.Dispatch(command_id::kSaveProjectAs));
  EXPECT_EQ(LastMessage().text, "Sonavel could not save the project.\n\nKann Dateien zum Beschreiben \"" +
                                    Path("fehlt/kaputt.snp") + "\" nicht öffnen.");
  EXPECT_NE(stereo.state.modified, 0);
  EXPECT_EQ(Title(), "Sonavel - kaputt.snp");

  // Closing asks about the project; No leaves nothing open and the title bare. An open
  // region list follows the frame's regions.
  ASSERT_TRUE(window.Dispatch(command_id::kRegionList));
  QWidget* region_list = window.findChild<QWidget*>("RegionList");
  ASSERT_NE(region_list, nullptr);
  auto* region_rows = region_list->findChild<QTreeWidget*>();
  ASSERT_NE(region_rows, nullptr);
  EXPECT_EQ(region_rows->topLevelItemCount(), 1);
  ui_.QueueAnswer(MessageAnswer::kNo);
  ASSERT_TRUE(window.Dispatch(command_id::kCloseProject));
  EXPECT_EQ(region_rows->topLevelItemCount(), 0);
  EXPECT_EQ(LastMessage().text, kSaveQuestion);
  EXPECT_EQ(LastMessage().buttons, MessageButtons::kYesNoCancel);
  EXPECT_TRUE(window.document_list().documents().empty());
  EXPECT_TRUE(window.documents()->subWindowList().isEmpty());
  EXPECT_TRUE(window.regions().regions().empty());
  EXPECT_EQ(Title(), "Sonavel");

  // Opening it into the empty frame asks nothing and brings everything back.
  const std::size_t messages = ui_.shown().size();
  test_.settings.WriteUserValue("StoreValues", "OpenProjectDir", "/nirgendwo");
  ui_.QueueChoice(project);
  ASSERT_TRUE(window.Dispatch(command_id::kOpenProject));
  EXPECT_EQ(ui_.shown().size(), messages);
  EXPECT_EQ(test_.settings.ReadText("StoreValues", "OpenProjectDir", ""), test_.folder);
  EXPECT_EQ(std::vector<std::string>(ui_.requests().end() - 2, ui_.requests().end()),
            (std::vector<std::string>{"open Projekt öffnen", "progress Lade Projekt"}));
  EXPECT_EQ(KeptOf(window), before);
  EXPECT_EQ(window.documents()->subWindowList().size(), 2);
  window.resize(900, 600);
  window.documents()->tileSubWindows();
  QTest::qWait(50);
  testing::SaveScreenshot(window, "main_window_project_opened");
  const std::vector<Bookmark>& marks = window.document_list().documents()[0]->bookmarks.bookmarks();
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[0].name, "Eins");
  EXPECT_EQ(marks[0].position, 100);  // ms at 22050 Hz
  EXPECT_EQ(marks[1].position, 136);
  ASSERT_EQ(window.regions().regions().size(), 1u);
  const Region& region = window.regions().regions()[0];
  EXPECT_EQ(region.name, "Mitte");
  EXPECT_EQ(region.source_title, "mono.wav");
  EXPECT_EQ(region.start, 100);
  EXPECT_EQ(region.end, 200);
  EXPECT_EQ(region_rows->topLevelItemCount(), 1);
  EXPECT_EQ(Samples(region.audio), region_samples);
  EXPECT_EQ(Title(), "Sonavel - sitzung.snp");
  for (const DocumentRef& document : window.document_list().documents()) EXPECT_EQ(document->state.modified, 0);

  // The same project again does nothing, not even the question.
  EXPECT_FALSE(window.LoadProject(project));
  EXPECT_EQ(ui_.shown().size(), messages);

  // Save As onto an existing project asks; No shows the chooser again.
  ui_.QueueChoice(project);
  ui_.QueueAnswer(MessageAnswer::kNo);
  ui_.QueueChoice(Path("zweite.snp"));
  ASSERT_TRUE(window.Dispatch(command_id::kSaveProjectAs));
  EXPECT_EQ(LastMessage().text,
            "Es existiert bereits ein anderes Projekt mit dem selben Namen. Möchten sie dieses erstezen?");
  EXPECT_EQ(Title(), "Sonavel - zweite.snp");
  EXPECT_EQ(FileBytes(Path("zweite.snp")), bytes);
  window.close();
}

TEST_F(ProjectFrameTest, PlaysAndSavesWithoutItsSourceFiles) {
  MainWindow& window = *window_;
  window.show();
  const std::string folder = Path("quelle");
  std::filesystem::create_directory(folder);
  const std::string source = WriteTone(folder, "ton.wav", 2, 11025);
  ASSERT_TRUE(window.OpenDocument(source));
  const std::vector<std::int32_t> samples = Samples(window.ActiveDocument()->sound);
  ui_.QueueChoice(Path("p.snp"));
  ASSERT_TRUE(window.Dispatch(command_id::kSaveProjectAs));
  ui_.QueueAnswer(MessageAnswer::kNo);
  ASSERT_TRUE(window.Dispatch(command_id::kCloseProject));
  ASSERT_TRUE(std::filesystem::remove(source));

  // Opened from the command line with "PlayWhenOpen" on, it plays its own audio.
  auto device = std::make_shared<CaptureOutput>();
  window.engine().SetOutputFactory([device](int) { return device; });
  test_.settings.WriteUserValue("Settings", "PlayWhenOpen", 1);
  ASSERT_TRUE(window.LoadProject(Path("p.snp")));
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.engine().State() == 0; }, 5000));
  std::vector<std::int16_t> expected;
  for (std::int32_t sample : samples) expected.push_back(StoreTo16(sample));
  EXPECT_EQ(device->Samples(), expected);

  // Saving writes the stored path again, with the same samples.
  AudioDocument& document = *window.ActiveDocument();
  EXPECT_EQ(document.path, source);
  SetSelection(document, 0, 0, 0);
  document.state.modified = 1;
  ui_.QueueWavFormatAnswer("");
  ASSERT_TRUE(window.Dispatch(command_id::kSave));
  SourceRef reader = OpenWavReader(source);
  ASSERT_EQ(reader->Length(), 11025);
  std::vector<std::int32_t> written(samples.size());
  reader->Read(written.data(), 11025);
  EXPECT_EQ(written, samples);

  // With its folder gone the save says so and names the file.
  reader.Reset();
  std::filesystem::remove_all(folder);
  document.state.modified = 1;
  const std::size_t messages = ui_.shown().size();
  ui_.QueueWavFormatAnswer("");
  EXPECT_FALSE(window.Dispatch(command_id::kSave));
  ASSERT_GT(ui_.shown().size(), messages);
  EXPECT_NE(LastMessage().text.find(source), std::string::npos) << LastMessage().text;
  EXPECT_EQ(LastMessage().icon, MessageIcon::kError);
  EXPECT_NE(document.state.modified, 0);

  // A path from another system keeps only its file name: saving asks where to.
  Project foreign;
  for (const char* path : {"C:\\Musik\\alt.wav", "unter/neu.wav"}) {
    ProjectDocument& stored = foreign.documents.emplace_back();
    stored.path = path;
    stored.audio = Sound(8000, 1);
  }
  SilentProgress progress;
  std::string error;
  ASSERT_EQ(SaveProject(foreign, Path("fremd.snp"), progress, error), kDone) << error;
  ui_.QueueAnswer(MessageAnswer::kNo);
  ASSERT_TRUE(window.LoadProject(Path("fremd.snp")));
  ASSERT_EQ(window.document_list().documents().size(), 2u);
  EXPECT_EQ(window.document_list().documents()[0]->path, "alt.wav");
  EXPECT_EQ(window.document_list().documents()[1]->path, "neu.wav");
  EXPECT_FALSE(window.Dispatch(command_id::kSave));
  EXPECT_EQ(ui_.requests().back(), "save Audiodatei speichern als");
  window.close();
}

TEST_F(ProjectFrameTest, AFailedLoadLeavesTheFrameAsItWas) {
  MainWindow& window = *window_;
  window.show();
  ASSERT_TRUE(window.OpenDocument(WriteTone(test_.folder, "a.wav", 1, 5000)));
  window.regions().Append(MakeRegion(*window.ActiveDocument(), "ganz"));
  ui_.QueueChoice(Path("p.snp"));
  ASSERT_TRUE(window.Dispatch(command_id::kSaveProjectAs));
  ASSERT_TRUE(window.OpenDocument(WriteTone(test_.folder, "b.wav", 2, 7000)));
  SetSelection(*window.ActiveDocument(), 10, 20, 15);
  const std::vector<Kept> before = KeptOf(window);

  // Cut short by one byte: the last region cannot be whole.
  std::vector<std::uint8_t> bytes = FileBytes(Path("p.snp"));
  std::ofstream(Path("cut.snp"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                           static_cast<std::streamsize>(bytes.size() - 1));
  bytes[0] = 3;
  std::ofstream(Path("v3.snp"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
  for (const char* name : {"cut.snp", "v3.snp"}) {
    ui_.QueueAnswer(MessageAnswer::kNo);
    EXPECT_FALSE(window.LoadProject(Path(name)));
    EXPECT_EQ(ui_.shown()[ui_.shown().size() - 2].text, kSaveQuestion);
    EXPECT_EQ(LastMessage().text.rfind(kLoadFailed, 0), 0u) << LastMessage().text;
    EXPECT_EQ(LastMessage().icon, MessageIcon::kError);
    EXPECT_EQ(KeptOf(window), before) << name;
    EXPECT_EQ(window.documents()->subWindowList().size(), 2);
    ASSERT_EQ(window.regions().regions().size(), 1u);
    EXPECT_EQ(window.regions().regions()[0].name, "ganz");
    EXPECT_EQ(Title(), "Sonavel - p.snp");
  }
  EXPECT_NE(LastMessage().text.find("Diese Datei passt nicht zur aktuellen Sonavel Version"), std::string::npos);

  // Cancel at the question keeps everything too; a dropped project opens as a project.
  ui_.QueueAnswer(MessageAnswer::kCancel);
  EXPECT_FALSE(window.LoadProject(Path("zweite.snp")));
  EXPECT_EQ(KeptOf(window), before);
  std::filesystem::copy_file(Path("p.snp"), Path("zweite.snp"));
  ui_.QueueAnswer(MessageAnswer::kNo);
  window.OpenDroppedFiles({QUrl::fromLocalFile(QString::fromStdString(Path("zweite.snp")))});
  EXPECT_EQ(Title(), "Sonavel - zweite.snp");
  ASSERT_EQ(window.document_list().documents().size(), 1u);
  EXPECT_EQ(KeptOf(window)[0], before[0]);
  window.close();
}

}  // namespace
}  // namespace sonavel
