#include "document/edit_commands.h"
#include "document/file_commands.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>

#include "document_fixture.h"
#include "formats/pump.h"
#include "formats/wav_reader.h"
#include "formats/wave_format.h"
#include "platform/file.h"
#include "platform/setting_keys.h"
#include "store/time.h"

namespace sonavel {
namespace {

using testing::DocumentTest;
using testing::ReadAll;
using testing::WriteSound;
using Samples = std::vector<std::int32_t>;

// value(i) for i in [0, frames), interleaved over `channels` with channel c adding c × 16.
Samples Make(std::int32_t frames, int channels, const std::function<std::int32_t(std::int32_t)>& value) {
  Samples samples;
  for (std::int32_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) samples.push_back(value(i) + c * 16);
  return samples;
}

Samples Ramp(std::int32_t frames, std::int32_t base = 1000) {
  return Make(frames, 1, [base](std::int32_t i) { return base + i; });
}

Samples Slice(const Samples& samples, std::size_t from, std::size_t to) {
  return Samples(samples.begin() + static_cast<std::ptrdiff_t>(from), samples.begin() + static_cast<std::ptrdiff_t>(to));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A progress window whose Cancel is pressed at once.
// Cancelled at its first message pump, or after `pumps_before` pumps.
class CancelledProgress final : public Progress {
 public:
  explicit CancelledProgress(int pumps_before = 0) : left_(pumps_before) {}
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override { return left_-- <= 0; }

 private:
  int left_;
};

// ScriptedUi, except that progress windows named `cancelled_title` are cancelled.
class CancellingUi final : public Ui {
 public:
  CancellingUi(ScriptedUi& inner, std::string cancelled_title, int pumps_before = 0)
      : inner_(inner), title_(std::move(cancelled_title)), pumps_before_(pumps_before) {}
  MessageAnswer ShowMessage(const Message& message) override { return inner_.ShowMessage(message); }
  bool AskSampleFormat(std::string_view title, int& rate, int& channels) override {
    return inner_.AskSampleFormat(title, rate, channels);
  }
  std::unique_ptr<Progress> OpenProgress(std::string_view title) override {
    if (title == title_) return std::make_unique<CancelledProgress>(pumps_before_);
    return inner_.OpenProgress(title);
  }
  std::optional<std::string> ChooseOpenFile(std::string_view t, std::string_view f, std::string_view d) override {
    return inner_.ChooseOpenFile(t, f, d);
  }
  std::optional<std::string> ChooseSaveFile(std::string_view t, std::string_view f, std::string_view s) override {
    return inner_.ChooseSaveFile(t, f, s);
  }
  std::optional<std::string> ChooseFolder(std::string_view t, std::string_view d) override {
    return inner_.ChooseFolder(t, d);
  }
  bool AskEffectParameters(EffectDialog& dialog) override { return inner_.AskEffectParameters(dialog); }
  bool AskRawSettings(RawDialog& dialog) override { return inner_.AskRawSettings(dialog); }
  bool ChooseWavFormat(WavFormatDialog& dialog) override { return inner_.ChooseWavFormat(dialog); }
  bool AskEncoderSettings(EncoderDialog& dialog) override { return inner_.AskEncoderSettings(dialog); }
  bool AskPublishingSettings(PublishingDialog& dialog) override { return inner_.AskPublishingSettings(dialog); }
  bool AskTags(TagDialog& dialog) override { return inner_.AskTags(dialog); }
  bool AskExportRegions(ExportRegionsDialog& dialog) override { return inner_.AskExportRegions(dialog); }
  bool AskJoinRegions(JoinRegionsDialog& dialog) override { return inner_.AskJoinRegions(dialog); }
  std::optional<std::string> PromptText(std::string_view t, std::string_view l, std::string_view x) override {
    return inner_.PromptText(t, l, x);
  }
  std::optional<int> ChooseFromList(std::string_view t, const std::vector<std::string>& items) override {
    return inner_.ChooseFromList(t, items);
  }

 private:
  ScriptedUi& inner_;
  std::string title_;
  int pumps_before_;
};

class EditCommandsTest : public DocumentTest {
 protected:
  void SetUp() override {
    DocumentTest::SetUp();
    settings_->WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  }
  void TearDown() override {
    document_.Reset();
    clipboard_.sound = Sound(44100, 1);
    opened_.clear();
    DocumentTest::TearDown();
  }

  void Load(const Samples& samples, int channels = 1, std::int32_t rate = 8000) {
    document_->sound = WriteSound(samples, static_cast<std::uint8_t>(channels), rate);
    document_->state.view_end = SoundLength(document_->sound);
  }

  bool Run(int id, Ui* ui = nullptr) {
    DocumentServices services{ui != nullptr ? *ui : ui_, *settings_, playback_};
    EditContext context{*document_, services, *settings_, clipboard_, &system_,
                        [this](Sound sound) { opened_.push_back(std::move(sound)); },
                        [this] { return playing_; }};
    return RunEditCommand(id, context);
  }

  void Answer(std::map<std::string, std::string> values) {
    ui_.QueueEffectAnswer(ScriptedUi::EffectAnswer{std::move(values), {}});
  }

  std::string UndoName() const { return UndoMenuState(*document_).undo_text; }

  // Undo brings back exactly the samples and format of `before`.
  void ExpectUndoRestores(const Samples& before, int channels = 1, std::int32_t rate = 8000) {
    ASSERT_TRUE(Undo(*document_));
    EXPECT_EQ(ReadAll(document_->sound), before);
    EXPECT_EQ(document_->sound.channels, channels);
    EXPECT_EQ(document_->sound.rate, rate);
  }

  // A WAV file of `samples` (multiples of 16 survive the 16-bit file exactly).
  std::string WriteWav(const std::string& name, const Samples& samples, int channels, std::int32_t rate) {
    const std::string path = JoinPath(folder_, name);
    Sound sound = WriteSound(samples, static_cast<std::uint8_t>(channels), rate);
    SilentProgress progress;
    EXPECT_EQ(SaveSoundAsWav(sound, DefaultFormat(static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(channels)),
                             path, progress),
              kDone);
    return path;
  }

  Samples ReadWav(const std::string& path) {
    SourceRef reader = OpenWavReader(path);
    EXPECT_EQ(reader->status, kStatusOk);
    return testing::ReadFrames(*reader, reader->Length());
  }

  DocumentRef document_ = MakeCounted<AudioDocument>(8000, 1, "Unbenannt 1");
  EditClipboard clipboard_;
  MemoryClipboard system_;
  std::vector<Sound> opened_;
  bool playing_ = false;
};

TEST_F(EditCommandsTest, CutTakesTheSelectionOrEverythingIntoTheClipboard) {
  const Samples original = Ramp(1000);
  Load(original);
  SetSelection(*document_, 100, 300, 100);
  ASSERT_TRUE(Run(2002));
  Samples expected = Slice(original, 0, 100);
  const Samples tail = Slice(original, 300, 1000);
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(ReadAll(document_->sound), expected);
  EXPECT_EQ(ReadAll(clipboard_.sound), Slice(original, 100, 300));
  EXPECT_EQ(clipboard_.sound.rate, 8000);
  EXPECT_TRUE(clipboard_.HasAudio());
  EXPECT_EQ(document_->state.selection_start, 100);
  EXPECT_EQ(document_->state.selection_end, 100);
  EXPECT_EQ(UndoName(), "Rückgängig Schneiden\tCtrl+Z");
  EXPECT_EQ(playback_.calls, (std::vector<std::string>{"stop"}));
  EXPECT_FALSE(system_.offered());  // Cut does not announce the system clipboard
  ExpectUndoRestores(original);

  // Nothing selected: the whole sound goes, the document is left empty.
  SetSelection(*document_, 40, 40, 40);
  ASSERT_TRUE(Run(2002));
  EXPECT_EQ(SoundLength(document_->sound), 0);
  EXPECT_EQ(ReadAll(clipboard_.sound), original);
  EXPECT_EQ(document_->state.selection_end, 0);
  ExpectUndoRestores(original);
}

TEST_F(EditCommandsTest, PasteInsertsOrReplacesAndSelectsExactlyThePastedAudio) {
  const Samples original = Ramp(1000);
  const Samples clip = Ramp(50, 50000);
  Load(original);
  EXPECT_FALSE(Run(2004));  // an empty clipboard pastes nothing and records no step
  EXPECT_EQ(UndoName(), "Rückgängig \tCtrl+Z");
  clipboard_.sound = WriteSound(clip, 1, 8000);

  SetSelection(*document_, 200, 200, 200);
  ASSERT_TRUE(Run(2004));
  Samples expected = Slice(original, 0, 200);
  expected.insert(expected.end(), clip.begin(), clip.end());
  Samples rest = Slice(original, 200, 1000);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(ReadAll(document_->sound), expected);
  EXPECT_EQ(document_->state.selection_start, 200);
  EXPECT_EQ(document_->state.selection_end, 250);
  EXPECT_EQ(UndoName(), "Rückgängig Einfügen\tCtrl+Z");
  ExpectUndoRestores(original);

  SetSelection(*document_, 100, 400, 100);
  ASSERT_TRUE(Run(2004));
  expected = Slice(original, 0, 100);
  expected.insert(expected.end(), clip.begin(), clip.end());
  rest = Slice(original, 400, 1000);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(ReadAll(document_->sound), expected);
  EXPECT_EQ(document_->state.selection_start, 100);
  EXPECT_EQ(document_->state.selection_end, 150);
  ExpectUndoRestores(original);
}

TEST_F(EditCommandsTest, PasteConvertsAMonoClipOfHalfTheRateIntoAStereoDocument) {
  const Samples original = Make(4410, 2, [](std::int32_t i) { return (i % 100) * 16; });
  Load(original, 2, 44100);
  clipboard_.sound = WriteSound(Make(1000, 1, [](std::int32_t i) { return (i % 50) * 320 - 8000; }), 1, 22050);
  SetSelection(*document_, 1000, 1000, 1000);
  ASSERT_TRUE(Run(2004));
  EXPECT_EQ(document_->sound.rate, 44100);
  EXPECT_EQ(document_->sound.channels, 2);
  EXPECT_EQ(document_->state.selection_start, 1000);
  EXPECT_EQ(document_->state.selection_end, 3000);
  EXPECT_EQ(SoundLength(document_->sound), 4410 + 2000);
  const Samples after = ReadAll(document_->sound);
  bool some_sound = false;
  for (std::size_t frame = 1000; frame < 3000; ++frame) {
    ASSERT_EQ(after[2 * frame], after[2 * frame + 1]) << frame;  // the mono clip on both channels
    some_sound = some_sound || after[2 * frame] != 0;
  }
  EXPECT_TRUE(some_sound);
  EXPECT_EQ(Slice(after, 2 * 3000, after.size()), Slice(original, 2 * 1000, original.size()));
  const std::vector<std::string>& requests = ui_.requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "progress Einfügen"), requests.end());
  ExpectUndoRestores(original, 2, 44100);
}

// A 3-second clip into a 1-second selection at 8000 Hz.
class EditPasteMixTest : public EditCommandsTest {
 protected:
  void SetUp() override {
    EditCommandsTest::SetUp();
    Load(original_);
    clipboard_.sound = WriteSound(clip_, 1, 8000);
    SetSelection(*document_, 8000, 16000, 8000);
  }
  const Samples original_ = Ramp(40000);
  const Samples clip_ = Make(24000, 1, [](std::int32_t i) { return (i % 700) * 16 - 5000; });
};

TEST_F(EditPasteMixTest, InsertingSilenceMovesTheRestAndMixesAllOfTheClip) {
  Answer({{"LongerSelection", "0"}, {"FadeOutTime", "999"}});
  ASSERT_TRUE(Run(2005));
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 56000u);
  EXPECT_EQ(Slice(after, 0, 8000), Slice(original_, 0, 8000));
  for (std::int32_t i = 0; i < 24000; ++i) {
    const std::int32_t existing = i < 8000 ? original_[8000 + i] : 0;
    ASSERT_EQ(after[8000 + i], existing + clip_[i]) << i;
  }
  EXPECT_EQ(Slice(after, 32000, 56000), Slice(original_, 16000, 40000));
  EXPECT_EQ(document_->state.selection_start, 8000);
  EXPECT_EQ(document_->state.selection_end, 32000);
  EXPECT_EQ(document_->state.view_end, 56000);
  EXPECT_EQ(UndoName(), "Rückgängig Mix einfügen\tCtrl+Z");
  // The dialog: the mix kind with the stored defaults; the fade time is stored only with
  // "Mix ausblenden".
  ASSERT_EQ(ui_.effect_dialogs().size(), 1u);
  const EffectDialog& shown = ui_.effect_dialogs()[0];
  EXPECT_EQ(shown.title, "Mix einfügen");
  EXPECT_EQ(shown.kind, EffectDialogKind::kMix);
  ASSERT_EQ(shown.fields.size(), 6u);
  EXPECT_EQ(shown.fields[0].name, "PasteMixVolume");
  EXPECT_EQ(shown.fields[0].value, "100");
  EXPECT_EQ(shown.fields[1].value, "50");
  EXPECT_EQ(shown.fields[2].choices,
            (std::vector<std::string>{"Stille einfügen", "Markierung anpassen", "Mix ausblenden"}));
  EXPECT_EQ(shown.fields[2].value, "0");
  EXPECT_EQ(shown.fields[3].value, "250");
  EXPECT_EQ(shown.fields[4].value, "0");  // mono: the balance is disabled
  EXPECT_EQ(shown.fields[5].value, "0");  // a selection: choice and fade enabled
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "LongerSelection", -1), 0);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "FadeOutTime", -1), -1);
  ExpectUndoRestores(original_);
}

TEST_F(EditPasteMixTest, AdaptingTheSelectionMixesOverTheFollowingAudio) {
  Answer({{"LongerSelection", "1"}});
  ASSERT_TRUE(Run(2005));
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 40000u);
  for (std::int32_t i = 0; i < 24000; ++i) ASSERT_EQ(after[8000 + i], original_[8000 + i] + clip_[i]) << i;
  EXPECT_EQ(Slice(after, 32000, 40000), Slice(original_, 32000, 40000));
  EXPECT_EQ(document_->state.selection_end, 32000);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "LongerSelection", -1), 1);
  ExpectUndoRestores(original_);
}

TEST_F(EditPasteMixTest, FadingOutMixesOnlyTheSelectionAndFadesItsLastFrames) {
  clipboard_.sound = WriteSound(Samples(24000, 1600), 1, 8000);
  Answer({{"LongerSelection", "2"}, {"FadeOutTime", "400"}});
  ASSERT_TRUE(Run(2005));
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 40000u);
  for (std::int32_t i = 8000; i < 15600; ++i) ASSERT_EQ(after[i], original_[i] + 1600) << i;
  // Gain 2^24 falling by 2^24 / 400 = 41943 per frame.
  EXPECT_EQ(after[15600] - original_[15600], 1600);
  EXPECT_EQ(after[15601] - original_[15601], 1596);
  EXPECT_EQ(after[15800] - original_[15800], 800);
  EXPECT_EQ(after[15999] - original_[15999], 4);
  EXPECT_EQ(Slice(after, 16000, 40000), Slice(original_, 16000, 40000));
  EXPECT_EQ(document_->state.selection_end, 16000);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "LongerSelection", -1), 2);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "FadeOutTime", -1), 400);
  ExpectUndoRestores(original_);
}

TEST_F(EditPasteMixTest, AFadeAcrossChunksStillEndsInSilence) {
  clipboard_.sound = WriteSound(Samples(24000, 1600), 1, 8000);
  SetSelection(*document_, 8000, 18000, 8000);
  Answer({{"LongerSelection", "2"}, {"FadeOutTime", "4000"}});
  ASSERT_TRUE(Run(2005));
  const Samples after = ReadAll(document_->sound);
  auto added = [&](std::int32_t frame) { return after[8000 + frame] - original_[8000 + frame]; };
  EXPECT_EQ(added(5999), 1600);
  EXPECT_EQ(added(6000), 1600);
  EXPECT_EQ(added(6001), 1599);
  // The second chunk takes its step from the gain and the frames left at its start.
  EXPECT_EQ(added(8192), 723);
  EXPECT_EQ(added(9999), 0);
  EXPECT_EQ(after[18000], original_[18000]);
}

TEST_F(EditPasteMixTest, AnEmptySystemClipboardMixesNothing) {
  SetSelection(*document_, 300, 500, 300);
  Answer({});
  ASSERT_TRUE(Run(2026));
  EXPECT_EQ(ReadAll(document_->sound), original_);
  EXPECT_EQ(document_->state.selection_start, 300);
  EXPECT_EQ(document_->state.selection_end, 300);
  SetSelection(*document_, 300, 300, 300);
  Answer({});
  ASSERT_TRUE(Run(2026));
  EXPECT_EQ(ReadAll(document_->sound), original_);  // not even one frame is added
}

TEST_F(EditPasteMixTest, EmptySelectionMixesTheWholeClipAndStoresAdaptTheSelection) {
  settings_->WriteUserValue("StoredValues", "LongerSelection", 2);
  SetSelection(*document_, 1000, 1000, 1000);
  Answer({{"LongerSelection", "0"}});  // the choice is disabled: the answer cannot change it
  ASSERT_TRUE(Run(2005));
  const EffectDialog& shown = ui_.effect_dialogs().at(0);
  EXPECT_EQ(shown.fields[2].value, "1");
  EXPECT_EQ(shown.fields[5].value, "1");
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 40000u);
  for (std::int32_t i = 0; i < 24000; ++i) ASSERT_EQ(after[1000 + i], original_[1000 + i] + clip_[i]) << i;
  EXPECT_EQ(Slice(after, 25000, 40000), Slice(original_, 25000, 40000));
  EXPECT_EQ(document_->state.selection_start, 1000);
  EXPECT_EQ(document_->state.selection_end, 25000);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "LongerSelection", -1), 1);
}

TEST_F(EditPasteMixTest, VolumeAboveOneHundredIsRefusedAndALowerVolumeScalesTheClip) {
  clipboard_.sound = WriteSound(Samples(8000, 1600), 1, 8000);
  // A stored fade time below 0 starts at the default instead.
  settings_->WriteUserValue("StoredValues", "FadeOutTime", -5);
  Answer({{"PasteMixVolume", "150"}});
  Answer({{"PasteMixVolume", "8o"}});
  Answer({{"PasteMixVolume", "80"}, {"FadeOutTime", "-1"}});
  Answer({{"FadeOutTime", "250"}});
  ASSERT_TRUE(Run(2005));
  EXPECT_EQ(ui_.effect_dialogs().at(0).fields.at(3).value, "250");
  ASSERT_EQ(ui_.shown().size(), 3u);
  EXPECT_EQ(ui_.shown()[0].text, "Mix Lautstärke muss unter 100% liegen. Bitte noch einmal versuchen.");
  EXPECT_EQ(ui_.shown()[0].caption, "Ungültiger Wert");
  EXPECT_EQ(ui_.shown()[1].text, "Bitte geben Sie für \"Lautstärke (%)\" eine ganze Zahl von 0 bis 100 ein.");
  EXPECT_EQ(ui_.shown()[2].text, "Bitte geben Sie für \"Ausblendzeit\" eine ganze Zahl von 0 bis 2147483647 ein.");
  // gL = 80 × 2^24 / 100 = 13421772; (1600 × (gL >> 15)) >> 9 = (1600 × 409) >> 9 = 1278.
  const Samples after = ReadAll(document_->sound);
  EXPECT_EQ(after[8000] - original_[8000], 1278);
  EXPECT_EQ(after[15999] - original_[15999], 1278);
  EXPECT_EQ(after[16000], original_[16000]);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "PasteMixVolume", -1), 80);
}

TEST_F(EditPasteMixTest, CancellingKeepsTheRecordedStep) {
  // The dialog: the step is recorded before it, so undo gives the same state.
  ui_.QueueEffectAnswer(std::nullopt);
  EXPECT_FALSE(Run(2005));
  EXPECT_EQ(UndoName(), "Rückgängig Mix einfügen\tCtrl+Z");
  EXPECT_EQ(ReadAll(document_->sound), original_);
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "PasteMixVolume", -1), -1);

  // The mix job: the inserted silence stays until undone.
  CancellingUi cancelling(ui_, "Füge Mix ein");
  Answer({{"LongerSelection", "0"}});
  EXPECT_FALSE(Run(2005, &cancelling));
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 56000u);
  EXPECT_EQ(Slice(after, 0, 16000), Slice(original_, 0, 16000));
  EXPECT_EQ(Slice(after, 16000, 32000), Samples(16000, 0));
  ExpectUndoRestores(original_);
}

TEST_F(EditCommandsTest, MixBalanceSplitsTheClipBetweenTheChannels) {
  const Samples original = Make(2000, 2, [](std::int32_t i) { return i * 16; });
  const Samples clip = Make(500, 2, [](std::int32_t i) { return 3200 - i * 16; });
  Load(original, 2);
  clipboard_.sound = WriteSound(clip, 2, 8000);

  SetSelection(*document_, 100, 600, 100);
  Answer({});
  ASSERT_TRUE(Run(2005));
  EXPECT_EQ(ui_.effect_dialogs().at(0).fields[4].value, "1");  // stereo: the balance is enabled
  Samples after = ReadAll(document_->sound);
  for (std::size_t i = 0; i < clip.size(); ++i) ASSERT_EQ(after[200 + i], original[200 + i] + clip[i]) << i;
  EXPECT_EQ(Slice(after, 1200, 4000), Slice(original, 1200, 4000));
  ExpectUndoRestores(original, 2);

  SetSelection(*document_, 100, 600, 100);
  Answer({{"Balance", "0"}});
  ASSERT_TRUE(Run(2005));
  after = ReadAll(document_->sound);
  for (std::size_t frame = 0; frame < 500; ++frame) {
    ASSERT_EQ(after[200 + 2 * frame], original[200 + 2 * frame] + 2 * clip[2 * frame]) << frame;
    ASSERT_EQ(after[201 + 2 * frame], original[201 + 2 * frame]) << frame;
  }
  ExpectUndoRestores(original, 2);
}

TEST_F(EditCommandsTest, InsertSilenceConvertsMillisecondsAtTheDocumentRate) {
  const Samples original = Ramp(100);
  Load(original, 1, 44100);
  SetSelection(*document_, 40, 40, 40);
  ui_.QueueEffectAnswer(std::nullopt);
  EXPECT_FALSE(Run(2016));  // cancelled: no step, playback untouched
  EXPECT_EQ(UndoName(), "Rückgängig \tCtrl+Z");
  EXPECT_TRUE(playback_.calls.empty());

  Answer({{"SilenceTimes", "1500"}});
  ASSERT_TRUE(Run(2016));
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 100u + 66150u);
  EXPECT_EQ(Slice(after, 0, 40), Slice(original, 0, 40));
  EXPECT_EQ(Slice(after, 40, 40 + 66150), Samples(66150, 0));
  EXPECT_EQ(Slice(after, 66190, 66250), Slice(original, 40, 100));
  EXPECT_EQ(UndoName(), "Rückgängig Stille in der aktuellen Position einfügen\tCtrl+Z");
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "SilenceTimes", -1), 1500);
  ExpectUndoRestores(original, 1, 44100);

  Answer({});  // the stored 1500 ms again, at the end this time
  ASSERT_TRUE(Run(2017));
  EXPECT_EQ(SoundLength(document_->sound), 100 + 66150);
  EXPECT_EQ(Slice(ReadAll(document_->sound), 0, 100), original);
}

TEST_F(EditCommandsTest, RepeatLoopLeavesThreeCopiesWithTheFirstSelected) {
  const Samples original = Ramp(20000);
  Load(original);
  SetSelection(*document_, 8000, 16000, 9000);
  Answer({{"RepeatNumTimes", "2"}});
  ASSERT_TRUE(Run(2009));
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 36000u);
  const Samples loop = Slice(original, 8000, 16000);
  EXPECT_EQ(Slice(after, 8000, 16000), loop);
  EXPECT_EQ(Slice(after, 16000, 24000), loop);
  EXPECT_EQ(Slice(after, 24000, 32000), loop);
  EXPECT_EQ(Slice(after, 32000, 36000), Slice(original, 16000, 20000));
  EXPECT_EQ(document_->state.selection_start, 8000);
  EXPECT_EQ(document_->state.selection_end, 16000);
  EXPECT_EQ(document_->state.view_end, 36000);
  EXPECT_EQ(UndoName(), "Rückgängig Loop wiederholen\tCtrl+Z");
  EXPECT_EQ(settings_->ReadUserInt("StoredValues", "RepeatNumTimes", -1), 2);
  ExpectUndoRestores(original);
}

TEST_F(EditCommandsTest, SplitKeepsTheStartAndOpensTheRestAsANewDocument) {
  const Samples original = Ramp(1000);
  Load(original);
  document_->state.modified = 0;
  SetSelection(*document_, 300, 300, 300);
  ASSERT_TRUE(Run(2029));
  EXPECT_EQ(ReadAll(document_->sound), Slice(original, 0, 300));
  EXPECT_EQ(document_->state.modified, 1);
  EXPECT_EQ(document_->state.view_end, 300);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(ReadAll(opened_[0]), Slice(original, 300, 1000));
  EXPECT_EQ(opened_[0].rate, 8000);
  EXPECT_EQ(UndoName(), "Rückgängig Splitte Dateien an diesem Punkt\tCtrl+Z");
  ExpectUndoRestores(original);
}

TEST_F(EditCommandsTest, CopyToNewNeedsASelectionAndLeavesTheDocument) {
  const Samples original = Ramp(1000);
  Load(original);
  EXPECT_FALSE(Run(2021));
  EXPECT_TRUE(opened_.empty());
  SetSelection(*document_, 100, 250, 100);
  ASSERT_TRUE(Run(2021));
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(ReadAll(opened_[0]), Slice(original, 100, 250));
  EXPECT_EQ(ReadAll(document_->sound), original);
  EXPECT_EQ(UndoName(), "Rückgängig \tCtrl+Z");
}

TEST_F(EditCommandsTest, DeleteTrimsAndSilenceChangeTheRangesTheyName) {
  const Samples original = Ramp(1000);
  Load(original);
  EXPECT_FALSE(Run(2006));  // Delete without a selection does nothing
  EXPECT_EQ(UndoName(), "Rückgängig \tCtrl+Z");

  SetSelection(*document_, 200, 500, 200);
  ASSERT_TRUE(Run(2006));
  Samples expected = Slice(original, 0, 200);
  Samples rest = Slice(original, 500, 1000);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(ReadAll(document_->sound), expected);
  EXPECT_EQ(UndoName(), "Rückgängig Löschen\tCtrl+Z");
  ExpectUndoRestores(original);

  SetSelection(*document_, 200, 500, 200);
  ASSERT_TRUE(Run(2010));
  EXPECT_EQ(ReadAll(document_->sound), Slice(original, 200, 500));
  EXPECT_EQ(document_->state.selection_end, 0);
  EXPECT_EQ(document_->state.cursor, 0);
  EXPECT_EQ(UndoName(), "Rückgängig Trimmem\tCtrl+Z");
  ExpectUndoRestores(original);

  SetSelection(*document_, 200, 500, 200);
  ASSERT_TRUE(Run(2011));
  EXPECT_EQ(ReadAll(document_->sound), Slice(original, 200, 1000));
  EXPECT_EQ(UndoName(), "Rückgängig Anfang trimmen\tCtrl+Z");
  ExpectUndoRestores(original);

  SetSelection(*document_, 200, 500, 200);
  ASSERT_TRUE(Run(2012));
  EXPECT_EQ(ReadAll(document_->sound), Slice(original, 0, 500));
  EXPECT_EQ(UndoName(), "Rückgängig Ende trimmen\tCtrl+Z");
  ExpectUndoRestores(original);

  SetSelection(*document_, 200, 500, 200);
  ASSERT_TRUE(Run(2014));
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 1000u);
  EXPECT_EQ(Slice(after, 200, 500), Samples(300, 0));
  EXPECT_EQ(Slice(after, 500, 1000), Slice(original, 500, 1000));
  EXPECT_EQ(UndoName(), "Rückgängig Stille bearbeiten\tCtrl+Z");
  ExpectUndoRestores(original);
}

TEST_F(EditCommandsTest, TypedTimesReadAsMilliseconds) {
  EXPECT_EQ(ParseTypedTime("1:02:03.45"), 3723450);
  EXPECT_EQ(ParseTypedTime("90"), 90000);
  EXPECT_EQ(ParseTypedTime("-1:30"), -90000);
  EXPECT_EQ(ParseTypedTime("1:3-0"), -90000);  // a "-" anywhere
  EXPECT_EQ(ParseTypedTime("2.34567"), 2345);   // digits after the third are ignored
  EXPECT_EQ(ParseTypedTime("s1x.5"), 1500);     // other characters are skipped
  EXPECT_EQ(ParseTypedTime(""), 0);
  EXPECT_EQ(TypedTimeText(3723450), "1:02:03.45");
  EXPECT_EQ(TypedTimeText(1996), "0:00:02.00");  // + 5 ms, then hundredths
}

TEST_F(EditCommandsTest, SelectCommandsSetTheSelectionAndTheRangeDialogReadsTypedTimes) {
  Load(Ramp(16000));
  SetSelection(*document_, 8000, 12000, 5000);
  Answer({{"Start", "0.5"}, {"Ende", "1:00"}});
  ASSERT_TRUE(Run(2027));
  const EffectDialog& shown = ui_.effect_dialogs().at(0);
  ASSERT_EQ(shown.fields.size(), 2u);
  EXPECT_EQ(shown.fields[0].name, "Start");
  EXPECT_EQ(shown.fields[0].value, "0:00:01.00");
  EXPECT_EQ(shown.fields[1].name, "Ende");
  EXPECT_EQ(shown.fields[1].value, "0:00:01.50");
  EXPECT_EQ(document_->state.selection_start, 4000);
  EXPECT_EQ(document_->state.selection_end, 16000);  // 60 s lies past the end
  EXPECT_EQ(document_->state.cursor, 5000);

  // Text that is no time is refused, not read as 0; the next answer is taken.
  Answer({{"Start", "anfang"}, {"Ende", "1.25"}});
  Answer({{"Start", "-3"}, {"Ende", "1.25"}});
  ASSERT_TRUE(Run(2027));
  EXPECT_EQ(document_->state.selection_start, 0);
  EXPECT_EQ(document_->state.selection_end, 10000);
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].caption, "Ungültiger Wert");
  EXPECT_EQ(ui_.shown()[0].text,
            "Bitte geben Sie für \"Start\" eine Zeit wie 1:02:03.45 ein (Stunden:Minuten:Sekunden).");

  ASSERT_TRUE(Run(2022));
  EXPECT_EQ(document_->state.selection_start, 0);
  EXPECT_EQ(document_->state.selection_end, 5000);
  ASSERT_TRUE(Run(2023));
  EXPECT_EQ(document_->state.selection_start, 5000);
  EXPECT_EQ(document_->state.selection_end, 16000);
  document_->state.view_start = 100;
  ASSERT_TRUE(Run(2007));
  EXPECT_EQ(document_->state.selection_start, 0);
  EXPECT_EQ(document_->state.selection_end, 16000);
  EXPECT_EQ(document_->state.view_start, 0);
  EXPECT_EQ(document_->state.cursor, 5000);
  EXPECT_EQ(UndoName(), "Rückgängig \tCtrl+Z");
}

TEST_F(EditCommandsTest, MarksSelectBetweenThemAndRestartPlayback) {
  Load(Ramp(1000));
  SetSelection(*document_, 0, 0, 300);
  ASSERT_TRUE(Run(2031));
  SetSelection(*document_, 0, 0, 100);
  ASSERT_TRUE(Run(2030));
  EXPECT_EQ(document_->state.selection_start, 100);
  EXPECT_EQ(document_->state.selection_end, 300);
  EXPECT_EQ(document_->state.cursor, 100);
  EXPECT_TRUE(playback_.calls.empty());
  SetSelection(*document_, 0, 0, 700);
  playing_ = true;
  ASSERT_TRUE(Run(2032));
  EXPECT_EQ(document_->state.selection_start, 100);
  EXPECT_EQ(document_->state.selection_end, 300);
  EXPECT_EQ(playback_.calls, (std::vector<std::string>{"stop", "play 100"}));
}

TEST_F(EditCommandsTest, CopyOffersAWavOfTheCopiedAudioAndTheSystemPasteReadsOne) {
  const Samples original = Make(200, 2, [](std::int32_t i) { return (i - 100) * 160; });
  Load(original, 2);
  document_->state.modified = 0;
  SetSelection(*document_, 10, 60, 10);
  ASSERT_TRUE(Run(2003));
  EXPECT_TRUE(system_.offered());
  EXPECT_EQ(document_->state.modified, 0);
  EXPECT_EQ(UndoName(), "Rückgängig \tCtrl+Z");
  std::optional<std::vector<std::uint8_t>> offered = system_.FetchWav();
  ASSERT_TRUE(offered.has_value());
  ASSERT_FALSE(offered->empty());
  EXPECT_FALSE(std::filesystem::exists(JoinPath(data_, "_clipboard.wav")));
  const std::vector<std::string>& requests = ui_.requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "progress Speichere in Zwischenablage"), requests.end());
  const std::string copy = JoinPath(folder_, "offered.wav");
  {
    File file(copy, File::Mode::kCreate);
    ASSERT_TRUE(file.Write(offered->data(), offered->size()));
  }
  EXPECT_EQ(ReadWav(copy), Slice(original, 20, 120));

  // Another program's WAV replaces the selection, written unchanged to "clipboard.wav".
  const Samples theirs = Make(30, 2, [](std::int32_t i) { return i * 32 + 4800; });
  const std::vector<std::uint8_t> bytes = ReadBytes(WriteWav("theirs.wav", theirs, 2, 8000));
  system_.Put(bytes);
  SetSelection(*document_, 5, 10, 5);
  ASSERT_TRUE(Run(2025));
  Samples expected = Slice(original, 0, 10);
  expected.insert(expected.end(), theirs.begin(), theirs.end());
  const Samples rest = Slice(original, 20, 400);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(ReadAll(document_->sound), expected);
  EXPECT_EQ(document_->state.selection_end, 35);
  EXPECT_EQ(ReadBytes(JoinPath(data_, "clipboard.wav")), bytes);
  ExpectUndoRestores(original, 2);

  // Without audio on the clipboard the selection is replaced with nothing.
  MemoryClipboard empty;
  system_ = empty;
  SetSelection(*document_, 5, 10, 5);
  ASSERT_TRUE(Run(2025));
  expected = Slice(original, 0, 10);
  const Samples after_gap = Slice(original, 20, 400);
  expected.insert(expected.end(), after_gap.begin(), after_gap.end());
  EXPECT_EQ(ReadAll(document_->sound), expected);
  ExpectUndoRestores(original, 2);
}

// A playlist or feed also replaces the MP3 beside it, so an MP3 there asks the same
// question: no shows the dialog again, cancel ends, and nothing is written.
TEST_F(EditCommandsTest, SavingAFeedAsksBeforeReplacingTheMp3BesideIt) {
  Load(Make(400, 1, [](std::int32_t i) { return i * 16; }));
  const std::string mp3 = JoinPath(folder_, "talk.mp3");
  std::ofstream(mp3) << "keep me";
  ui_.QueueChoice(JoinPath(folder_, "talk.rss"));
  ui_.QueueAnswer(MessageAnswer::kNo);
  ui_.QueueChoice(JoinPath(folder_, "talk.m3u"));
  ui_.QueueAnswer(MessageAnswer::kCancel);
  EXPECT_FALSE(Run(2028));
  ASSERT_EQ(ui_.shown().size(), 2u);
  for (const Message& shown : ui_.shown()) {
    EXPECT_EQ(shown.text, "Es existiert bereits eine andere Datei mit dem selben Namen. Möchten sie diese erstezen?");
    EXPECT_EQ(shown.buttons, MessageButtons::kYesNoCancel);
  }
  EXPECT_EQ(ReadBytes(mp3).size(), 7u);
  EXPECT_FALSE(std::filesystem::exists(JoinPath(folder_, "talk.rss")));
  EXPECT_FALSE(std::filesystem::exists(JoinPath(folder_, "talk.m3u")));
}

TEST_F(EditCommandsTest, SaveSelectionAsAsksBeforeReplacingAFile) {
  const Samples original = Make(400, 1, [](std::int32_t i) { return i * 16; });
  Load(original);
  const std::string existing = JoinPath(folder_, "old.wav");
  {
    std::ofstream(existing) << "keep me";
  }
  const std::string fresh = JoinPath(folder_, "new");
  SetSelection(*document_, 100, 150, 100);
  ui_.QueueChoice(existing);
  ui_.QueueAnswer(MessageAnswer::kNo);
  ui_.QueueChoice(fresh);
  ui_.QueueWavFormatAnswer("");  // the chooser's opening line, 16-bit PCM at the sound's rate
  ASSERT_TRUE(Run(2028));
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text,
            "Es existiert bereits eine andere Datei mit dem selben Namen. Möchten sie diese erstezen?");
  EXPECT_EQ(ui_.shown()[0].caption, "Sonavel");
  EXPECT_EQ(ui_.shown()[0].buttons, MessageButtons::kYesNoCancel);
  EXPECT_EQ(ReadWav(fresh + ".wav"), Slice(original, 100, 150));
  EXPECT_EQ(settings_->ReadText("Settings", "SaveAsDir", ""), folder_ + "/");
  EXPECT_EQ(ReadBytes(existing), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  const std::vector<std::string>& requests = ui_.requests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "save Audiodatei speichern als"), 2);
  // The format chooser comes before the progress window.
  const auto chooser = std::find(requests.begin(), requests.end(), "Wave Dateiformat wählen");
  EXPECT_LT(chooser, std::find(requests.begin(), requests.end(), "progress Speichere..."));
  EXPECT_NE(std::find(requests.begin(), requests.end(), "progress Speichere..."), requests.end());

  ui_.QueueChoice(existing);
  ui_.QueueAnswer(MessageAnswer::kCancel);
  EXPECT_FALSE(Run(2028));
  EXPECT_EQ(ReadBytes(existing).size(), 7u);

  ui_.QueueChoice(existing);
  ui_.QueueAnswer(MessageAnswer::kYes);
  ui_.QueueWavFormatAnswer("");
  ASSERT_TRUE(Run(2028));
  EXPECT_EQ(ReadWav(existing), Slice(original, 100, 150));
  EXPECT_EQ(ReadAll(document_->sound), original);
  EXPECT_EQ(UndoName(), "Rückgängig \tCtrl+Z");
}

// Cancelling the progress window half way through a save ends it with result 1; the file
// that was there stays byte for byte and no temporary file is left beside it.
TEST_F(EditCommandsTest, ACancelledSaveLeavesTheOldFileAsItWas) {
  Load(Ramp(100000), 2, 44100);
  const std::string existing = WriteWav("alt.wav", Make(300, 1, [](std::int32_t i) { return i * 32; }), 1, 8000);
  const std::vector<std::uint8_t> before = ReadBytes(existing);
  CancellingUi cancelling(ui_, "Speichere...", 3);  // three pieces of 8192 frames get written
  const Result result = SaveSoundFile(OpenSoundReader(document_->sound), PcmFormat(44100, 2, 16), existing, cancelling);
  EXPECT_EQ(result, kCancelled);
  EXPECT_EQ(ReadBytes(existing), before);
  EXPECT_TRUE(ui_.shown().empty());
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(existing).parent_path()))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& name) { return name.find("alt") != std::string::npos; }), 1);
}

TEST_F(EditCommandsTest, InsertFileAndMixFileLoadTheChosenFile) {
  const Samples original = Ramp(1000);
  Load(original);
  const Samples theirs = Make(100, 1, [](std::int32_t i) { return i * 48; });
  const std::string path = WriteWav("part.wav", theirs, 1, 8000);

  ui_.QueueChoice(JoinPath(folder_, "missing.wav"));
  EXPECT_FALSE(Run(2018));  // a failed load records no step
  EXPECT_EQ(UndoName(), "Rückgängig \tCtrl+Z");

  SetSelection(*document_, 0, 0, 250);
  ui_.QueueChoice(path);
  ASSERT_TRUE(Run(2019));
  Samples expected = Slice(original, 0, 250);
  expected.insert(expected.end(), theirs.begin(), theirs.end());
  const Samples rest = Slice(original, 250, 1000);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(ReadAll(document_->sound), expected);
  EXPECT_EQ(UndoName(), "Rückgängig Datei an aktueller Position einfügen\tCtrl+Z");
  EXPECT_EQ(settings_->ReadText("Settings", "InsertFileDir", ""), folder_ + "/");
  const std::vector<std::string>& requests = ui_.requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "open Öffne Audiodateien"), requests.end());
  EXPECT_NE(std::find(requests.begin(), requests.end(), "progress Lade Ursprung der Audiodatei"), requests.end());
  EXPECT_NE(std::find(requests.begin(), requests.end(), "progress Datei einfügen"), requests.end());
  ExpectUndoRestores(original);

  SetSelection(*document_, 500, 700, 500);
  ui_.QueueChoice(path);
  Answer({});
  ASSERT_TRUE(Run(2008));
  EXPECT_EQ(ui_.effect_dialogs().back().title, "Datei Mixen");
  const Samples after = ReadAll(document_->sound);
  ASSERT_EQ(after.size(), 1000u);
  for (std::size_t i = 0; i < 100; ++i) ASSERT_EQ(after[500 + i], original[500 + i] + theirs[i]) << i;
  EXPECT_EQ(Slice(after, 600, 1000), Slice(original, 600, 1000));
  EXPECT_EQ(document_->state.selection_end, 600);
  EXPECT_EQ(UndoName(), "Rückgängig Datei Mixen\tCtrl+Z");
  EXPECT_EQ(settings_->ReadText("Settings", "MixFileDir", ""), folder_ + "/");
  ExpectUndoRestores(original);

  // A headerless file opens as the frame's open does: the raw settings dialog first, whose
  // values are stored and read; cancelling it loads nothing.
  const std::string raw = JoinPath(folder_, "part.raw");
  {
    std::ofstream out(raw, std::ios::binary);
    for (std::int32_t sample : theirs)
      out.put(static_cast<char>(sample / 16)).put(static_cast<char>((sample / 16) >> 8));
  }
  const std::string loading = "progress Lade Ursprung der Audiodatei";
  const auto progress_windows = std::count(requests.begin(), requests.end(), loading);
  ui_.QueueChoice(raw);
  EXPECT_FALSE(Run(2018));
  EXPECT_EQ(std::count(requests.begin(), requests.end(), loading), progress_windows);
  SetSelection(*document_, 0, 0, 0);
  ui_.QueueChoice(raw);
  ui_.QueueRawAnswer(ScriptedUi::RawAnswer{3, "8000", 1});
  ASSERT_TRUE(Run(2018));
  ASSERT_EQ(ui_.raw_dialogs().size(), 2u);
  EXPECT_EQ(Slice(ReadAll(document_->sound), 0, 100), theirs);
  EXPECT_EQ(settings_->Read(setting::kRawAudioSampleRate), 8000);
}

}  // namespace
}  // namespace sonavel
