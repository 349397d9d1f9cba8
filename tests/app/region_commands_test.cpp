// The region commands through a scripted frame: regions keep their audio, choosing finds
// the document by its title, joins have exact lengths and samples, and exports match what
// sox reads back.

#include "app/region_commands.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "document/document_fixture.h"
#include "effects/resampler.h"
#include "formats/sox_peer.h"
#include "platform/setting_keys.h"
#include "store/time.h"

namespace sonavel {
namespace {

using testing::ReadAll;
using testing::WriteSound;

class PreviewRecorder final : public PlaybackControl {
 public:
  void Stop() override {}
  void PlayFrom(AudioDocument&, std::int32_t) override {}
  bool Preview(SourceRef source) override {
    previewed.push_back(source->Length());
    return true;
  }
  void StopPreview() override { ++stops; }
  std::vector<std::int32_t> previewed;
  int stops = 0;
};

class RegionCommandsTest : public testing::DocumentTest {
 protected:
  RegionFrame Frame() {
    return {ui_,
            *settings_,
            documents_,
            regions_,
            previews_,
            [this] { return active_; },
            [this](AudioDocument& document) { active_ = &document; },
            [this] {
              ++plays_;
              return true;
            },
            [this](Sound sound) { documents_.DocumentFromSound(std::move(sound)); },
            [this](bool open) { list_opened_ += open; }};
  }
  // An open document named `path` holding `samples`, made active.
  AudioDocument& Open(const std::string& path, const std::vector<std::int32_t>& samples,
                      std::int32_t rate, std::uint8_t channels = 1) {
    DocumentRef document = MakeCounted<AudioDocument>(rate, channels, path);
    document->sound = WriteSound(samples, channels, rate);
    documents_.Add(document);
    active_ = document.get();
    return *document;
  }
  const std::vector<Message>& Shown() const { return ui_.shown(); }

  DocumentList documents_;
  RegionList regions_;
  PreviewRecorder previews_;
  AudioDocument* active_ = nullptr;
  int plays_ = 0;
  int list_opened_ = 0;
};

std::vector<std::int32_t> Ramp(std::int32_t count, std::int32_t base, std::int32_t step = 16) {
  std::vector<std::int32_t> samples(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) samples[static_cast<std::size_t>(i)] = base + i * step;
  return samples;
}

std::vector<std::int32_t> Slice(const std::vector<std::int32_t>& samples, std::size_t from,
                                std::size_t to) {
  return {samples.begin() + static_cast<std::ptrdiff_t>(from),
          samples.begin() + static_cast<std::ptrdiff_t>(to)};
}

// A region outlives the edit of its source; the name question, replacing, renaming and
// choosing work on the right document and frames.
TEST_F(RegionCommandsTest, RegionKeepsItsAudioAndChoosingSelectsItInTheTitledDocument) {
  const std::vector<std::int32_t> samples = Ramp(8000, -40000);
  AudioDocument& source = Open("/music/Song.wav", samples, 8000);
  SetSelection(source, 1000, 3000, 1000);
  RegionFrame frame = Frame();

  ui_.QueueChoice("Refrain");
  ASSERT_TRUE(AddRegionCommand(frame));
  ASSERT_EQ(ui_.requests().back(), "prompt Bereich hinzufügen");
  ASSERT_EQ(regions_.regions().size(), 1u);
  const Region& region = regions_.regions()[0];
  EXPECT_EQ(region.start, 125);
  EXPECT_EQ(region.end, 375);
  EXPECT_EQ(RegionRow(region),
            (std::array<std::string, 3>{"Refrain", "0:00:00.13-0:00:00.38", "Song.wav"}));
  EXPECT_EQ(list_opened_, 1);

  // The selection leaves the document; the region still plays the samples it was made of.
  DeleteRange(source.sound, 1000, 3000);
  EXPECT_EQ(ReadAll(region.audio), Slice(samples, 1000, 3000));
  ASSERT_TRUE(PlayRegion(frame, 0));
  EXPECT_EQ(previews_.previewed, std::vector<std::int32_t>{2000});

  // The same name (any case): No asks again, Yes replaces, so one region stays.
  SetSelection(source, 0, 800, 0);
  ui_.QueueChoice("REFRAIN");
  ui_.QueueAnswer(MessageAnswer::kNo);
  ui_.QueueChoice("refrain");
  ui_.QueueAnswer(MessageAnswer::kYes);
  ASSERT_TRUE(AddRegionCommand(frame));
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[0].text,
            "Ein anderer Bereich mit diesem Namen existiert bereits. Möchten sie ihn ersetzen?");
  EXPECT_EQ(Shown()[0].caption, "Sonavel");
  EXPECT_EQ(Shown()[0].buttons, MessageButtons::kYesNoCancel);
  ASSERT_EQ(regions_.regions().size(), 1u);
  EXPECT_EQ(regions_.regions()[0].name, "refrain");
  EXPECT_EQ(regions_.regions()[0].end, 100);

  // Renaming sanitises, and refuses a name that is left empty or belongs to another region.
  SetSelection(source, 100, 200, 100);
  ui_.QueueChoice("Strophe");
  ASSERT_TRUE(AddRegionCommand(frame));
  EXPECT_FALSE(RenameRegion(frame, 1, "..."));
  EXPECT_FALSE(RenameRegion(frame, 1, "Ref.rain"));
  EXPECT_EQ(Shown().back().caption, "Bereichsname existiert");
  ASSERT_TRUE(RenameRegion(frame, 1, "Vers: 1?"));
  EXPECT_EQ(regions_.regions()[1].name, "Vers 1");

  // Choosing: another document with the region's title in other case and rate (shorter
  // than the region's end) becomes active with the milliseconds converted at its rate.
  settings_->Write(setting::kPlayRegion, true);
  regions_.regions()[0].start = 125;
  regions_.regions()[0].end = 375;
  AudioDocument& other = Open("/other/SONG.WAV", Ramp(5000, 0), 22050);
  Open("/x/unrelated.wav", Ramp(100, 0), 8000);
  documents_.Remove(&source);
  ASSERT_TRUE(ChooseRegion(frame, 0));
  EXPECT_EQ(active_, &other);
  EXPECT_EQ(other.state.selection_start, 2756);  // 22050 × 125 / 1000
  EXPECT_EQ(other.state.selection_end, 5000);    // 8268 lies beyond the sound
  EXPECT_EQ(other.state.cursor, 2756);
  EXPECT_EQ(plays_, 1);
  documents_.Remove(&other);
  EXPECT_FALSE(ChooseRegion(frame, 0));
  EXPECT_EQ(plays_, 1);

  // A copy to a new document holds the region's audio, untitled and modified.
  ASSERT_TRUE(CopyRegionToNew(frame, 1));
  const AudioDocument& copy = *documents_.documents().back();
  EXPECT_EQ(DisplayTitle(copy), "Unbenannt 1");
  EXPECT_EQ(copy.state.modified, 1);
  EXPECT_EQ(ReadAll(copy.sound), Slice(samples, 100, 200));

  // Deleting asks first; No keeps the regions.
  ui_.QueueAnswer(MessageAnswer::kNo);
  EXPECT_FALSE(DeleteRegions(frame, {0}));
  EXPECT_EQ(Shown().back().text, "Markierte(n) Bereich(e) löschen?");
  ui_.QueueAnswer(MessageAnswer::kYes);
  ASSERT_TRUE(DeleteRegions(frame, {1, 0, 1}));
  EXPECT_TRUE(regions_.regions().empty());
}

// Joining through the dialog: the first entry, 300 ms of silence, the second converted
// from stereo to mono (its left channel), silence, the third converted from 22050 Hz.
TEST_F(RegionCommandsTest, JoinHasTheGapsAndConvertedEntries) {
  const std::vector<std::int32_t> first = Ramp(1000, 5000);
  std::vector<std::int32_t> stereo(1200);
  for (std::size_t i = 0; i < 600; ++i) {
    stereo[2 * i] = -3000 - static_cast<std::int32_t>(i) * 7;
    stereo[2 * i + 1] = 90000;
  }
  const std::vector<std::int32_t> low = Ramp(441, -20000, 48);
  regions_.Append({WriteSound(first, 1, 44100), "a", "a.wav", 0, 22});
  regions_.Append({WriteSound(stereo, 2, 44100), "b", "b.wav", 0, 13});
  regions_.Append({WriteSound(low, 1, 22050), "c", "c.wav", 0, 20});
  RegionFrame frame = Frame();

  ui_.QueueJoinAnswer(ScriptedUi::JoinAnswer{{0, 1, 2}, std::pair{true, 300}});
  ASSERT_TRUE(JoinRegionsCommand(frame));
  ASSERT_EQ(ui_.join_dialogs().size(), 1u);
  EXPECT_EQ(ui_.join_dialogs()[0].regions[1],
            (std::array<std::string, 3>{"b", "0:00:00.00-0:00:00.01", "b.wav"}));
  EXPECT_EQ(settings_->Read(setting::kAutoGapTime), 300);
  ASSERT_EQ(documents_.documents().size(), 1u);
  const AudioDocument& joined = *documents_.documents()[0];
  EXPECT_EQ(joined.state.modified, 1);
  EXPECT_EQ(joined.sound.rate, 44100);
  EXPECT_EQ(joined.sound.channels, 1);

  ASSERT_EQ(ConvertFormat(OpenSoundReader(regions_.regions()[2].audio), 44100, 1)->Length(), 882);
  std::vector<std::int32_t> expected = first;
  expected.insert(expected.end(), 13230, 0);  // 300 ms at 44.1 kHz
  for (std::size_t i = 0; i < 600; ++i) expected.push_back(stereo[2 * i]);
  expected.insert(expected.end(), 13230, 0);
  const std::vector<std::int32_t> all = ReadAll(joined.sound);
  ASSERT_EQ(all.size(), expected.size() + 882);
  EXPECT_EQ(Slice(all, 0, expected.size()), expected);
  // The converted tail follows the low entry's ramp of 96 per output frame.
  const std::vector<std::int32_t> tail = Slice(all, expected.size(), all.size());
  EXPECT_NEAR(tail[400], -20000 + 200 * 48, 300);

  // A negative stored gap counts as none; AutoGap off as well.
  std::vector<const Sound*> entries{&regions_.regions()[0].audio, &regions_.regions()[0].audio};
  Sound tight;
  ASSERT_TRUE(JoinRegionAudio(entries, -250, ui_, tight));
  EXPECT_EQ(SoundLength(tight), 2000);
  ui_.QueueJoinAnswer(ScriptedUi::JoinAnswer{{0, 0}, std::pair{false, 300}});
  ASSERT_TRUE(JoinRegionsCommand(frame));
  EXPECT_EQ(SoundLength(documents_.documents()[1]->sound), 2000);
  EXPECT_FALSE(settings_->Read(setting::kAutoGap));
  // An empty join list cannot be accepted.
  ui_.QueueJoinAnswer(ScriptedUi::JoinAnswer{{}, std::nullopt});
  EXPECT_FALSE(JoinRegionsCommand(frame));
  EXPECT_EQ(documents_.documents().size(), 2u);
}

// Export writes each region under its sanitised name; sox reads back the region's
// samples. An invalid name stops the export with its message, after the regions before it.
TEST_F(RegionCommandsTest, ExportWritesWhatSoxReadsAndStopsAtAnInvalidName) {
  const std::vector<std::int32_t> mono = Ramp(3000, -30000, 20);
  std::vector<std::int32_t> stereo(4000);
  for (std::size_t i = 0; i < stereo.size(); ++i)
    stereo[i] = static_cast<std::int32_t>((i * 7919) % 60000) * 16 - 480000;
  regions_.Append({WriteSound(mono, 1, 8000), "Teil: eins", "x.wav", 0, 375});
  regions_.Append({WriteSound(stereo, 2, 22050), "zwei", "x.wav", 0, 90});
  regions_.Append({WriteSound(mono, 1, 8000), "...", "x.wav", 0, 375});
  regions_.Append({WriteSound(mono, 1, 8000), "vier", "x.wav", 0, 375});
  const std::string out = JoinPath(folder_, "export");
  std::filesystem::create_directory(out);
  RegionFrame frame = Frame();

  // A format index outside the list is refused before anything is written.
  ui_.QueueExportAnswer(ScriptedUi::ExportAnswer{out, 16});
  EXPECT_FALSE(ExportRegions(frame, {0}));
  EXPECT_EQ(Shown().back().caption, "Nach Ordner exportieren");
  EXPECT_TRUE(std::filesystem::is_empty(out));

  ui_.QueueExportAnswer(ScriptedUi::ExportAnswer{out, 0});
  EXPECT_FALSE(ExportRegions(frame, {3, 2, 1, 0}));
  ASSERT_EQ(ui_.export_dialogs().size(), 2u);
  EXPECT_EQ(ui_.export_dialogs()[1].regions[1],
            (std::pair<std::string, std::string>{"zwei", "0:00:00"}));
  EXPECT_EQ(Shown().back().text,
            "Der Name des Bereiches \"...\" enthält ungültige Zeichen für einen Dateinamen. Bitte "
            "benennen sie ihn um "
            "und versuchen es noch einmal. Der neue Name sollte nur Text enthalten");
  EXPECT_EQ(Shown().back().caption, "Ungültiger Dateiname");
  EXPECT_EQ(settings_->Read(setting::kExportRegionFolder), out);
  EXPECT_FALSE(std::filesystem::exists(JoinPath(out, "vier.wav")));

  auto sox_samples = [&](const std::string& file) {
    const std::string raw = JoinPath(folder_, "sox.raw");
    EXPECT_EQ(testing::RunCommand("sox -D " + testing::Quote(file) + " -t raw -e signed -b 16 -L " +
                                  testing::Quote(raw) + " 2>/dev/null"),
              0);
    return testing::Samples16(testing::ReadBytes(raw));
  };
  auto as16 = [](const std::vector<std::int32_t>& samples) {
    std::vector<std::int16_t> out16;
    for (std::int32_t sample : samples) out16.push_back(StoreTo16(sample));
    return out16;
  };
  EXPECT_EQ(sox_samples(JoinPath(out, "Teil eins.wav")), as16(mono));
  EXPECT_EQ(sox_samples(JoinPath(out, "zwei.wav")), as16(stereo));

  // An existing file asks; No stops before writing it. AU is written at the region's rate.
  ui_.QueueExportAnswer(ScriptedUi::ExportAnswer{out, 0});
  ui_.QueueAnswer(MessageAnswer::kNo);
  EXPECT_FALSE(ExportRegions(frame, {1}));
  EXPECT_EQ(
      Shown().back().text,
      "Dieser Bereich \"zwei\" existiert bereits in diesem Ordner. Möchten sie ihn ersetzen?");
  ui_.QueueExportAnswer(ScriptedUi::ExportAnswer{out, 2});
  ASSERT_TRUE(ExportRegions(frame, {1}));
  EXPECT_EQ(sox_samples(JoinPath(out, "zwei.au")), as16(stereo));
  EXPECT_EQ(settings_->Read(setting::kExportRegionFormat), 2);

  // Saving one region: the dialog in "SaveRegionDir", ".wav" added to a bare name, and the
  // question before replacing a file.
  settings_->Write(setting::kSaveRegionDir, out);
  ui_.QueueChoice(JoinPath(out, "zwei"));
  ui_.QueueAnswer(MessageAnswer::kYes);
  ui_.QueueWavFormatAnswer("");
  ASSERT_TRUE(SaveRegionCommand(frame, 0));
  EXPECT_EQ(ui_.save_suggestions().back(), JoinPath(out, "Teil eins.wav"));
  EXPECT_EQ(
      Shown().back().text,
      "Es existiert bereits eine andere Datei mit dem selben Namen. Möchten sie diese erstezen?");
  EXPECT_EQ(sox_samples(JoinPath(out, "zwei.wav")), as16(mono));
}

}  // namespace
}  // namespace sonavel
