#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "document_fixture.h"
#include "document/file_commands.h"
#include "formats/format_table.h"
#include "formats/raw_settings.h"
#include "formats/stored_format.h"
#include "formats/tag_files.h"
#include "formats/wav_reader.h"
#include "store/block_table.h"
#include "formats/wav_writer.h"
#include "formats/wave_format.h"
#include "document/working_folder.h"
#include "platform/setting_keys.h"

namespace sonavel {
namespace {

using testing::DocumentTest;
using testing::RampSound;

class DocumentListTest : public DocumentTest {};

TEST_F(DocumentListTest, UntitledNumbersAreTheLowestFreeOnes) {
  settings_->WriteUserValue("Settings", "PromptSampleAndChannels", "0");
  DocumentList list;
  DocumentRef one = NewDocumentCommand(list, ui_, *settings_);
  DocumentRef two = NewDocumentCommand(list, ui_, *settings_);
  DocumentRef three = NewDocumentCommand(list, ui_, *settings_);
  EXPECT_EQ(one->path, "Unbenannt 1");
  EXPECT_EQ(two->path, "Unbenannt 2");
  EXPECT_EQ(three->path, "Unbenannt 3");
  list.Remove(two.get());
  EXPECT_EQ(NewDocumentCommand(list, ui_, *settings_)->path, "Unbenannt 2");
  // Titles are compared without regard to case; with 1 … 19 taken, 1 is used again.
  one->path = "UNBENANNT 1";
  EXPECT_EQ(list.UntitledNumber(), 4);
  for (int n = 4; n <= 19; ++n) NewDocumentCommand(list, ui_, *settings_);
  EXPECT_EQ(list.UntitledNumber(), 1);
  EXPECT_EQ(list.documents().size(), 19u);
  EXPECT_EQ(one->reference_count(), 2u);  // the test's reference and the list's
}

TEST_F(DocumentListTest, ASoundBecomesANewModifiedUntitledDocument) {
  DocumentList list;
  list.Add(MakeCounted<AudioDocument>(44100, 1, "Unbenannt 1"));
  Sound part = testing::WriteSound({1, 2, 3, 4, 5, 6}, 2, 22050);
  DocumentRef made = list.DocumentFromSound(std::move(part));
  EXPECT_EQ(made->path, "Unbenannt 2");
  EXPECT_EQ(made->sound.rate, 22050);
  EXPECT_EQ(made->sound.channels, 2);
  EXPECT_EQ(SoundLength(made->sound), 3);
  EXPECT_EQ(made->state.modified, 1);
  EXPECT_EQ(made->state.view_start, 0);
  EXPECT_EQ(made->state.view_end, 3);
  EXPECT_EQ(list.documents().size(), 2u);
}

TEST_F(DocumentListTest, TheNewFileDialogChecksTheRateAndStoresItsChoice) {
  DocumentList list;
  ui_.QueueFormat({true, 5999, 2});   // refused: the dialog comes again
  ui_.QueueFormat({true, 48000, 2});
  DocumentRef document = NewDocumentCommand(list, ui_, *settings_);
  ASSERT_TRUE(document);
  EXPECT_EQ(document->sound.rate, 48000);
  EXPECT_EQ(document->sound.channels, 2);
  EXPECT_EQ(document->state.modified, 0);
  EXPECT_EQ(document->state.view_end, 48000);  // an empty sound shows one second
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, "Samplerate muss zwischen 6000 und 96000 Samples pro Sekunde liegen.");
  EXPECT_EQ(ui_.shown()[0].icon, MessageIcon::kError);
  EXPECT_EQ(ui_.format_dialogs(), (std::vector<std::string>{"Neue Datei 44100 1", "Neue Datei 5999 2"}));
  EXPECT_EQ(settings_->ReadInt("Settings", "SelectedSampleRate", 0), 48000);
  EXPECT_EQ(settings_->ReadInt("Settings", "SelectedChannels", 0), 2);

  ui_.Clear();
  EXPECT_FALSE(NewDocumentCommand(list, ui_, *settings_));  // cancelled
  EXPECT_EQ(ui_.format_dialogs(), (std::vector<std::string>{"Neue Datei 48000 2"}));

  // The defaults, set from the options, are used when the program does not ask.
  ui_.QueueFormat({true, 96000, 1});
  ASSERT_TRUE(RunNewFileDialog(ui_, *settings_, true));
  EXPECT_EQ(ui_.format_dialogs().back(), "Voreinstellungen setzen 44100 1");
  settings_->WriteUserValue("Settings", "PromptSampleAndChannels", "0");
  document = NewDocumentCommand(list, ui_, *settings_);
  EXPECT_EQ(document->sound.rate, 96000);
  EXPECT_EQ(document->sound.channels, 1);
  ui_.QueueFormat({true, 96001, 1});
  ui_.QueueFormat({true, 6000, 2});
  EXPECT_TRUE(RunNewFileDialog(ui_, *settings_, true));
  EXPECT_EQ(settings_->ReadInt("Settings", "DefaultSampleRate", 0), 6000);
}

TEST_F(DocumentListTest, OpeningLoadsTheFileOrLeavesNoDocument) {
  const std::string path = JoinPath(folder_, "tone.wav");
  {
    SinkRef writer = CreateWavWriter(PcmFormat(22050, 2, 16), path);
    std::vector<std::int32_t> samples(2 * 1000, 1600);
    writer->Write(samples.data(), 1000);
  }
  DocumentList list;
  SilentProgress progress;
  DocumentRef document = OpenDocumentFile(list, path, ui_);
  ASSERT_TRUE(document);
  EXPECT_EQ(document->path, path);
  EXPECT_EQ(DisplayTitle(*document), "tone.wav");
  EXPECT_FALSE(IsUntitled(*document));
  EXPECT_EQ(document->state.modified, 0);
  EXPECT_EQ(SoundLength(document->sound), 1000);
  EXPECT_EQ(document->sound.rate, 22050);
  EXPECT_EQ(document->sound.channels, 2);
  EXPECT_EQ(list.documents().size(), 1u);

  EXPECT_FALSE(OpenDocumentFile(list, JoinPath(folder_, "missing.wav"), ui_));
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text,
            "Cannot open the file \"" + JoinPath(folder_, "missing.wav") + "\". Check it exists and you have read access.");
  EXPECT_EQ(list.documents().size(), 1u);
}

// "Speichern" opens the format chooser on the file's own format and writes it again; the
// accepted format is stored and opens the chooser of "Speichern Als", which suggests the
// name without a second extension; the next Speichern keeps what was written.
TEST_F(DocumentListTest, SaveKeepsTheFilesOwnFormatAndSaveAsTheStoredOne) {
  const std::string path = JoinPath(folder_, "t.wav");
  std::vector<std::int32_t> samples(2 * 500);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int32_t>(i * 1021 % 1048544) - 524272;
  {
    SinkRef writer = CreateWavWriter(PcmFormat(22050, 2, 24), path);
    writer->Write(samples.data(), 500);
  }
  auto file_bits = [](const std::string& file) {
    SourceRef reader = OpenWavReader(file);
    return AsWavReader(reader.get())->format().bits;
  };
  auto file_samples = [](const std::string& file) {
    SourceRef reader = OpenWavReader(file);
    std::vector<std::int32_t> read(static_cast<std::size_t>(reader->Length()) * reader->channels);
    reader->Read(read.data(), reader->Length());
    return read;
  };
  DocumentList list;
  DocumentRef document = OpenDocumentFile(list, path, ui_);
  ASSERT_TRUE(document);
  document->state.modified = 1;
  ui_.QueueWavFormatAnswer("");  // the chooser opens on the file's own format
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, false));
  ASSERT_EQ(ui_.wav_format_dialogs().size(), 1u);
  const WavFormatDialog& chooser = ui_.wav_format_dialogs()[0];
  EXPECT_EQ(chooser.choices[static_cast<std::size_t>(chooser.selected)], "PCM, 22050 Hz, 24 Bit, Stereo");
  EXPECT_EQ(file_bits(path), 24);
  EXPECT_EQ(file_samples(path), samples);  // 24 bits hold every store sample exactly
  EXPECT_EQ(document->state.modified, 0);

  // The chooser's choice was stored and opens the next one; another line is taken.
  ui_.QueueChoice(JoinPath(folder_, "kopie"));
  ui_.QueueWavFormatAnswer("PCM, 22050 Hz, 16 Bit, Stereo");
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, true));
  ASSERT_EQ(ui_.wav_format_dialogs().size(), 2u);
  EXPECT_EQ(ui_.wav_format_dialogs()[1].choices[static_cast<std::size_t>(ui_.wav_format_dialogs()[1].selected)],
            "PCM, 22050 Hz, 24 Bit, Stereo");
  ASSERT_EQ(ui_.save_suggestions().size(), 1u);
  EXPECT_EQ(ui_.save_suggestions()[0], "t.wav");
  const std::string copy = JoinPath(folder_, "kopie.wav");
  EXPECT_EQ(document->path, copy);
  EXPECT_EQ(file_bits(copy), 16);
  document->state.modified = 1;
  ui_.QueueWavFormatAnswer("");
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, false));
  EXPECT_EQ(file_bits(copy), 16);
  EXPECT_EQ(file_bits(path), 24);
  EXPECT_TRUE(ui_.shown().empty());

  // Without 3 MB free on the working folder's disk nothing is written and the changes stay.
  SetFreeSpaceProbe([](const std::string&) { return std::uint32_t{1024}; });
  document->state.modified = 1;
  EXPECT_FALSE(SaveDocumentCommand(*document, ui_, *settings_, false));
  SetFreeSpaceProbe({});
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].caption, "Geringer freier Speicher");
  EXPECT_EQ(ui_.shown()[0].text.rfind("Kann die Datei nicht speichern, \"" + copy + "\"", 0), 0u);
  EXPECT_EQ(document->state.modified, 1);
}

// One second of a 1 kHz tone at 44100 Hz, stereo, the channels in opposite phase.
DocumentRef ToneDocument(const std::string& path) {
  std::vector<std::int32_t> samples;
  for (int i = 0; i < 44100; ++i) {
    const auto value = static_cast<std::int32_t>(std::lround(200000.0 * std::sin(2 * M_PI * 1000.0 * i / 44100.0)));
    samples.push_back(value);
    samples.push_back(-value);
  }
  DocumentRef document = MakeCounted<AudioDocument>(44100, 2, path);
  document->sound = testing::WriteSound(samples, 2, 44100);
  return document;
}

// The tone's frequency in a file as read back: rising zero crossings of the first channel
// per second. A file written without converting the rate would show another pitch.
double FileToneHz(const std::string& path) {
  SourceRef reader = OpenFormatReader(path);
  const std::vector<std::int32_t> samples = testing::ReadFrames(*reader, reader->Length());
  int rising = 0;
  for (std::size_t i = reader->channels; i < samples.size(); i += reader->channels)
    if (samples[i - reader->channels] < 0 && samples[i] >= 0) ++rising;
  return rising * static_cast<double>(reader->rate) / reader->Length();
}

// The writer of the extension decides the file, the sound is converted to it: GSM is
// 8000 Hz mono; a WAV file takes the stored format whole ("WavCodec.wff", 8-bit 22050 Hz
// mono) unless the format options ran, whose chooser opens on it at the document's rate
// and channels. A stored format the codec table cannot write is offered, refused with
// "Format nicht verfügbar" and the chooser comes back. An extension no format writes
// tells "Kann Datei nicht erstellen" and leaves nothing behind.
TEST_F(DocumentListTest, TheWriterOfTheExtensionDecidesTheFilesFormat) {
  DocumentRef document = ToneDocument(JoinPath(folder_, "ton.wav"));

  const std::string gsm = JoinPath(folder_, "ton.gsm");
  ASSERT_TRUE(SaveDocumentTo(*document, gsm, ui_));
  EXPECT_EQ(std::filesystem::file_size(gsm), 50u * 33u);  // 8000 frames: 50 blocks of 160
  {
    SourceRef reader = OpenFormatReader(gsm);
    EXPECT_EQ(reader->rate, 8000);
    EXPECT_EQ(reader->channels, 1);
  }
  EXPECT_NEAR(FileToneHz(gsm), 1000.0, 10.0);

  ASSERT_TRUE(SaveStoredWavFormat(ToBuffer(PcmFormat(22050, 1, 8))));
  const std::string wav = JoinPath(folder_, "ton.wav");
  ASSERT_TRUE(SaveDocumentTo(*document, wav, ui_));
  {
    SourceRef reader = OpenWavReader(wav);
    EXPECT_EQ(AsWavReader(reader.get())->format(), PcmFormat(22050, 1, 8));
    EXPECT_EQ(reader->Length(), 22050);
  }
  EXPECT_NEAR(FileToneHz(wav), 1000.0, 10.0);
  EXPECT_TRUE(ui_.wav_format_dialogs().empty());

  // With the options: the chooser opens on the stored kind at the document's rate and
  // channels, and OK writes that.
  const std::string chosen = JoinPath(folder_, "gewählt.wav");
  ui_.QueueChoice(chosen);
  ui_.QueueWavFormatAnswer("");
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, true));
  ASSERT_EQ(ui_.wav_format_dialogs().size(), 1u);
  const WavFormatDialog& shown = ui_.wav_format_dialogs()[0];
  EXPECT_EQ(shown.title, "Wave Dateiformat wählen");
  EXPECT_EQ(shown.choices[static_cast<std::size_t>(shown.selected)], "PCM, 44100 Hz, 8 Bit, Stereo");
  EXPECT_EQ(shown.choices.front(), "PCM, 8000 Hz, 8 Bit, Mono");
  EXPECT_NE(std::find(shown.choices.begin(), shown.choices.end(), "IMA ADPCM, 22050 Hz, 4 Bit, Stereo"),
            shown.choices.end());
  EXPECT_NE(std::find(shown.choices.begin(), shown.choices.end(), "GSM 6.10, 8000 Hz, Mono"), shown.choices.end());
  EXPECT_EQ(AsWavReader(OpenWavReader(chosen).get())->format(), PcmFormat(44100, 2, 8));

  // A stored MPEG Layer-3 format: the table cannot write it, so choosing it is refused.
  WaveFormat mp3 = PcmFormat(44100, 2, 0);
  mp3.tag = kTagMpegLayer3;
  ASSERT_TRUE(SaveStoredWavFormat(ToBuffer(mp3)));
  const std::size_t messages = ui_.shown().size();
  ui_.QueueChoice(wav);
  ui_.QueueAnswer(MessageAnswer::kYes);  // replace the 22050 Hz file
  ui_.QueueWavFormatAnswer("");
  ui_.QueueWavFormatAnswer("µ-Law, 8000 Hz, 8 Bit, Mono");
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, true));
  ASSERT_EQ(ui_.wav_format_dialogs().size(), 3u);
  EXPECT_EQ(ui_.wav_format_dialogs()[1].choices.front(), "MPEG Layer-3, 44100 Hz, Stereo");
  EXPECT_EQ(ui_.wav_format_dialogs()[1].selected, 0);
  ASSERT_EQ(ui_.shown().size(), messages + 2);
  EXPECT_EQ(ui_.shown()[messages + 1].caption, "Format nicht verfügbar");
  EXPECT_EQ(ui_.shown()[messages + 1].icon, MessageIcon::kError);
  EXPECT_EQ(ui_.shown()[messages].buttons, MessageButtons::kYesNoCancel);
  EXPECT_EQ(AsWavReader(OpenWavReader(wav).get())->format().tag, kTagMuLaw);
  EXPECT_EQ(OpenWavReader(wav)->rate, 8000);
  EXPECT_NEAR(FileToneHz(wav), 1000.0, 10.0);
  FormatBuffer stored{};
  ASSERT_TRUE(LoadStoredWavFormat(stored));
  EXPECT_EQ(FromBuffer(stored).tag, kTagMuLaw);  // the accepted format was stored back

  // Unknown extension: the message, no file and no temporary file.
  const std::string xyz = JoinPath(folder_, "ton.xyz");
  const auto before = std::distance(std::filesystem::directory_iterator(folder_), {});
  EXPECT_FALSE(SaveDocumentTo(*document, xyz, ui_));
  ASSERT_EQ(ui_.shown().size(), messages + 3);
  EXPECT_EQ(ui_.shown().back().text, "Kann Datei nicht erstellen\"" + xyz + "\"zum Speichern.");
  EXPECT_EQ(ui_.shown().back().icon, MessageIcon::kError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), before);
  // A feed shows its publishing dialog; cancelling it writes neither the feed nor its MP3.
  const std::size_t messages_before_feed = ui_.shown().size();
  ui_.QueueChoice(JoinPath(folder_, "ton.rss"));
  EXPECT_FALSE(SaveDocumentCommand(*document, ui_, *settings_, true));
  EXPECT_EQ(ui_.shown().size(), messages_before_feed);
  ASSERT_EQ(ui_.publishing_dialogs().size(), 1u);
  EXPECT_EQ(ui_.publishing_dialogs()[0].title, "Dateieinstellungen RSS Podcast");
  EXPECT_FALSE(std::filesystem::exists(JoinPath(folder_, "ton.rss")));
  EXPECT_FALSE(std::filesystem::exists(JoinPath(folder_, "ton.mp3")));
  // An encoded format shows its encoder's dialog; cancelling it saves and tells nothing.
  const std::size_t messages_before = ui_.shown().size();
  ui_.QueueChoice(JoinPath(folder_, "ton.mp3"));
  EXPECT_FALSE(SaveDocumentCommand(*document, ui_, *settings_, true));
  ASSERT_EQ(ui_.encoder_dialogs().size(), 1u);
  EXPECT_EQ(ui_.encoder_dialogs()[0].name, "LMp3EncodeDlg");
  EXPECT_EQ(ui_.shown().size(), messages_before);
  EXPECT_FALSE(std::filesystem::exists(JoinPath(folder_, "ton.mp3")));
}

// Save As: the RealAudio question leads to it; the dialog offers the stored extension
// ("SaveAsFormat"), adds it to a bare name and stores folder and extension back; the
// free space is checked on the target's disk before and after the save.
TEST_F(DocumentListTest, SaveAsOffersTheLastTypeAndChecksTheTargetsDisk) {
  DocumentRef document = ToneDocument(JoinPath(folder_, "sender.ra"));
  document->state.modified = 1;
  const std::string question =
      "Speichern im real audio Dateiformat wird nicht unterstützt. Möchten sie stattdessen in einem anderen Format "
      "speichern (wav, mp3, gsm, vox)?";
  ui_.QueueAnswer(MessageAnswer::kNo);
  EXPECT_FALSE(SaveDocumentCommand(*document, ui_, *settings_, false));
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, question);
  EXPECT_EQ(ui_.shown()[0].buttons, MessageButtons::kYesNo);
  EXPECT_TRUE(ui_.save_suggestions().empty());

  const std::string target_folder = JoinPath(folder_, "ziel");
  std::filesystem::create_directories(target_folder);
  settings_->WriteUser(setting::kSaveAsFormat, "au");
  settings_->WriteUser(setting::kSaveAsDir, target_folder);
  ui_.QueueAnswer(MessageAnswer::kYes);
  ui_.QueueChoice(JoinPath(target_folder, "sendung"));
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, false));
  ASSERT_EQ(ui_.save_suggestions().size(), 1u);
  EXPECT_EQ(ui_.save_suggestions()[0], JoinPath(target_folder, "sender.au"));
  const std::string au = JoinPath(target_folder, "sendung.au");
  EXPECT_EQ(document->path, au);
  EXPECT_EQ(document->state.modified, 0);
  EXPECT_EQ(OpenFormatReader(au)->rate, 44100);  // AU takes the document's rate and channels
  EXPECT_EQ(OpenFormatReader(au)->channels, 2);

  // The chosen type is offered next time; a stored value that is no save type is not.
  ui_.QueueChoice(JoinPath(target_folder, "klein.gsm"));
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, true));
  EXPECT_EQ(settings_->Read(setting::kSaveAsFormat), "gsm");
  EXPECT_EQ(settings_->Read(setting::kSaveAsDir), target_folder + "/");
  settings_->WriteUser(setting::kSaveAsFormat, "exe;*.wav");
  ui_.QueueChoice(std::nullopt);
  EXPECT_FALSE(SaveDocumentCommand(*document, ui_, *settings_, true));
  EXPECT_EQ(ui_.save_suggestions().back(), JoinPath(target_folder, "klein.wav"));

  // Only the target's disk is short of space: nothing is saved.
  SetFreeSpaceProbe([&](const std::string& path) {
    return path.rfind(target_folder, 0) == 0 ? std::uint32_t{2048} : std::uint32_t{1} << 30;
  });
  const std::size_t messages = ui_.shown().size();
  document->state.modified = 1;
  const std::string full = JoinPath(target_folder, "voll.gsm");
  ui_.QueueChoice(full);
  EXPECT_FALSE(SaveDocumentCommand(*document, ui_, *settings_, true));
  ASSERT_EQ(ui_.shown().size(), messages + 1);
  EXPECT_EQ(ui_.shown().back().text.rfind("Kann die Datei nicht speichern, \"" + full + "\"", 0), 0u);
  EXPECT_EQ(ui_.shown().back().caption, "Geringer freier Speicher");
  EXPECT_FALSE(std::filesystem::exists(full));

  // Space runs short during the save: the file is written, the document stays modified.
  int probes = 0;
  SetFreeSpaceProbe([&](const std::string& path) {
    return path.rfind(target_folder, 0) == 0 && ++probes > 1 ? std::uint32_t{2048} : std::uint32_t{1} << 30;
  });
  ui_.QueueChoice(full);
  EXPECT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, true));
  SetFreeSpaceProbe({});
  ASSERT_EQ(ui_.shown().size(), messages + 2);
  EXPECT_EQ(ui_.shown().back().text.rfind("Die Datei \"" + full + "\" wurde eventuell nicht gespeichert", 0), 0u);
  EXPECT_TRUE(std::filesystem::exists(full));
  EXPECT_EQ(document->state.modified, 1);
}

// The raw settings dialog's check: a whole number of 6000 to 196000, nothing else.
TEST(RawDialogCheck, TakesWholeRatesFrom6000To196000Only) {
  auto typed = [](const char* rate) {
    RawDialog dialog;
    dialog.rate = rate;
    return dialog;
  };
  const std::string refusal = "Please select a sample rate between 6000 and 196000.";
  for (const char* rate : {"6000", "196000", " 44100 ", "8000"}) EXPECT_EQ(RawDialogRefusal(typed(rate)), "") << rate;
  EXPECT_EQ(RawDialogRate(typed(" 44100 ")), 44100);
  for (const char* rate : {"5999", "196001", "0", "-8000", "abc", "8000x", "", "4294973296", "8000.5"})
    EXPECT_EQ(RawDialogRefusal(typed(rate)), refusal) << rate;
}

// Opening a raw file asks for its settings first: the dialog shows the stored record, a
// refused rate lets the user correct it, OK stores what the file is then read with, and
// cancelling opens nothing and tells nothing. Saving to ".vox" asks with the "VoxAudio"
// record, to ".raw" with the document's rate and channels put in.
TEST_F(DocumentListTest, RawFilesAskForTheirSettingsOnOpenAndSave) {
  WriteRawSettings(*settings_, RawAudioKeys(), {22050, 2, kRawCodec16Le});
  // Four stereo frames of 16-bit big-endian samples.
  const std::vector<std::int16_t> values = {0x1234, -2, 32767, -32768, 0, 1, -4660, 291};
  const std::string path = JoinPath(folder_, "take.raw");
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    for (std::int16_t value : values) {
      const auto bits = static_cast<std::uint16_t>(value);
      std::fputc(bits >> 8, file);
      std::fputc(bits & 0xFF, file);
    }
    std::fclose(file);
  }
  DocumentList list;
  const OpenOptions asking{settings_.get(), std::nullopt, settings_.get()};

  ui_.QueueRawAnswer(std::nullopt);
  EXPECT_FALSE(OpenDocumentFile(list, path, ui_, asking));
  EXPECT_TRUE(list.documents().empty());
  EXPECT_TRUE(ui_.shown().empty());
  ASSERT_EQ(ui_.raw_dialogs().size(), 1u);
  const RawDialog& shown = ui_.raw_dialogs()[0];
  EXPECT_EQ(shown.record, "RawAudio");
  EXPECT_EQ(shown.rate, "22050");
  EXPECT_EQ(shown.channels, 2);
  EXPECT_EQ(shown.codec, kRawCodec16Le);
  EXPECT_EQ(shown.codec_names, std::vector<std::string>(kRawCodecNames.begin(), kRawCodecNames.end()));
  EXPECT_EQ(shown.rate_choices, std::vector<int>(kRawRateChoices.begin(), kRawRateChoices.end()));
  EXPECT_EQ(ReadRawSettings(settings_.get(), RawAudioKeys()), (RawSettings{22050, 2, kRawCodec16Le}));

  ui_.QueueRawAnswer(ScriptedUi::RawAnswer{kRawCodecMuLaw, "abc", 1});
  ui_.QueueRawAnswer(ScriptedUi::RawAnswer{kRawCodecMuLaw, "196001", 1});
  ui_.QueueRawAnswer(ScriptedUi::RawAnswer{kRawCodec16Be, "8000", 2});
  DocumentRef document = OpenDocumentFile(list, path, ui_, asking);
  ASSERT_TRUE(document);
  ASSERT_EQ(ui_.shown().size(), 2u);
  EXPECT_EQ(ui_.shown()[1].text, "Please select a sample rate between 6000 and 196000.");
  EXPECT_EQ(ReadRawSettings(settings_.get(), RawAudioKeys()), (RawSettings{8000, 2, kRawCodec16Be}));
  EXPECT_EQ(document->sound.rate, 8000);
  EXPECT_EQ(document->sound.channels, 2);
  ASSERT_EQ(SoundLength(document->sound), 4);
  std::vector<std::int32_t> read(values.size());
  OpenSoundReader(document->sound)->Read(read.data(), 4);
  for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(read[i], values[i] * 16) << i;

  // Save as ".vox": the "VoxAudio" record as stored, whatever the document.
  ui_.QueueChoice(JoinPath(folder_, "take.vox"));
  ui_.QueueRawAnswer(ScriptedUi::RawAnswer{kRawCodecVox, "6000", 1});
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, true));
  ASSERT_EQ(ui_.raw_dialogs().size(), 3u);
  EXPECT_EQ(ui_.raw_dialogs()[2].record, "VoxAudio");
  EXPECT_EQ(ui_.raw_dialogs()[2].rate, "8000");
  EXPECT_EQ(ui_.raw_dialogs()[2].channels, 1);
  EXPECT_EQ(ui_.raw_dialogs()[2].codec, kRawCodecVox);
  EXPECT_EQ(ReadRawSettings(settings_.get(), VoxAudioKeys()), (RawSettings{6000, 1, kRawCodecVox}));
  // 4 frames at 8000 Hz become 3 at 6000 Hz, mono: two bytes with the last half byte flushed.
  EXPECT_EQ(std::filesystem::file_size(JoinPath(folder_, "take.vox")), 2u);

  // Save as ".raw", cancelled: the document's rate and channels were offered, nothing is
  // written and nothing told.
  WriteRawSettings(*settings_, RawAudioKeys(), {44100, 1, kRawCodecSigned8});
  const std::size_t messages = ui_.shown().size();
  ui_.QueueChoice(JoinPath(folder_, "copy.raw"));
  EXPECT_FALSE(SaveDocumentCommand(*document, ui_, *settings_, true));
  ASSERT_EQ(ui_.raw_dialogs().size(), 4u);
  EXPECT_EQ(ui_.raw_dialogs()[3].rate, "8000");
  EXPECT_EQ(ui_.raw_dialogs()[3].channels, 2);
  EXPECT_EQ(ui_.raw_dialogs()[3].codec, kRawCodecSigned8);
  EXPECT_FALSE(std::filesystem::exists(JoinPath(folder_, "copy.raw")));
  EXPECT_EQ(ui_.shown().size(), messages);
}

TEST_F(DocumentListTest, ClosingAsksAboutChangesAndUntitledDocuments) {
  AudioDocument untitled(44100, 1, "Unbenannt 1");
  int saves = 0;
  auto save_fails = [&saves](AudioDocument&) { ++saves; return false; };
  auto save_works = [&saves](AudioDocument&) { ++saves; return true; };
  ui_.QueueAnswer(MessageAnswer::kNo);
  EXPECT_TRUE(ConfirmClose(untitled, ui_, save_works));  // even with an empty sound
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, "Speichere Änderungen in \"Unbenannt 1\"?");
  EXPECT_EQ(ui_.shown()[0].caption, "Sonavel");
  EXPECT_EQ(ui_.shown()[0].buttons, MessageButtons::kYesNoCancel);
  ui_.QueueAnswer(MessageAnswer::kCancel);
  EXPECT_FALSE(ConfirmClose(untitled, ui_, save_works));
  ui_.QueueAnswer(MessageAnswer::kYes);
  EXPECT_TRUE(ConfirmClose(untitled, ui_, save_works));
  ui_.QueueAnswer(MessageAnswer::kYes);
  EXPECT_FALSE(ConfirmClose(untitled, ui_, save_fails));  // the changes are not thrown away
  EXPECT_EQ(saves, 2);

  AudioDocument named(44100, 1, "/music/a.wav");
  EXPECT_TRUE(ConfirmClose(named, ui_, save_works));
  EXPECT_EQ(ui_.shown().size(), 4u);  // not asked
  named.state.modified = 1;
  ui_.QueueAnswer(MessageAnswer::kNo);
  EXPECT_TRUE(ConfirmClose(named, ui_, save_works));
  EXPECT_EQ(ui_.shown().back().text, "Speichere Änderungen in \"a.wav\"?");
}

class ViewTest : public DocumentTest {};

TEST_F(ViewTest, ZoomOperationsFollowTheirArithmetic) {
  AudioDocument document(44100, 1, "Unbenannt 1");
  document.sound = RampSound(1000);
  SetView(document, 150, 0);
  document.state.cursor = 20;
  ZoomIn(document);  // 150 frames: a view of 100 centred on the cursor, clamped at 0
  EXPECT_EQ(document.state.view_start, 0);
  EXPECT_EQ(document.state.view_end, 100);
  document.state.cursor = 500;
  SetView(document, 900, 500);
  ZoomIn(document);  // 400 frames: halved to 200
  EXPECT_EQ(document.state.view_start, 400);
  EXPECT_EQ(document.state.view_end, 600);
  SetView(document, 15, 10);
  ZoomOut(document);  // width 10; 10 - 2.5 truncated toward zero is 7
  EXPECT_EQ(document.state.view_start, 7);
  EXPECT_EQ(document.state.view_end, 17);
  SetView(document, 800, 200);
  ZoomOut(document);  // width 1000 (the sound's length), start 200 - 250 < 0: 0
  EXPECT_EQ(document.state.view_start, 0);
  EXPECT_EQ(document.state.view_end, 1000);
  SetView(document, 5000, -5);  // clamped to the sound
  EXPECT_EQ(document.state.view_start, 0);
  EXPECT_EQ(document.state.view_end, 1000);
  SetSelection(document, 300, 100, 250);
  EXPECT_EQ(document.state.selection_start, 100);
  EXPECT_EQ(document.state.selection_end, 300);
  EXPECT_EQ(document.state.cursor, 250);
  ZoomToSelection(document);
  EXPECT_EQ(document.state.view_start, 100);
  EXPECT_EQ(document.state.view_end, 300);
  SetSelection(document, 40, 40, 40);
  ZoomToSelection(document);  // no selection: nothing
  EXPECT_EQ(document.state.view_start, 100);
  ZoomToAll(document);
  EXPECT_EQ(document.state.view_end, 1000);

  DeleteRange(document.sound, 0, 900);
  document.state.view_start = 500;
  RefreshAfterSoundChange(document);
  EXPECT_EQ(document.state.view_start, 0);
  EXPECT_EQ(document.state.view_end, 100);
  FreeSegments(document.sound);
  RefreshAfterSoundChange(document);
  EXPECT_EQ(document.state.view_end, 44100);
  ZoomToAll(document);  // an empty sound: nothing
  EXPECT_EQ(document.state.view_end, 44100);
}

class FinishEditTest : public DocumentTest {};

TEST_F(FinishEditTest, MovesTheCursorAndPlaysFromThePreRoll) {
  AudioDocument document(8000, 1, "Unbenannt 1");
  document.sound = RampSound(20000);
  RecordUndo(document, "Echo");
  DocumentServices services = Services();
  EXPECT_TRUE(FinishEdit(document, services, 6000, 4000));
  EXPECT_EQ(document.state.cursor, 2000);
  EXPECT_TRUE(FinishEdit(document, services, 3000, 8000));  // not before 0
  EXPECT_EQ(document.state.cursor, 0);
  EXPECT_EQ(playback_.calls, (std::vector<std::string>{"play 2000", "play 0"}));
  settings_->WriteUserValue("Settings", "AutoPlaybackAfterEffects", "0");
  EXPECT_TRUE(FinishEdit(document, services, 3000, 8000));
  EXPECT_EQ(document.state.cursor, 3000);
  EXPECT_EQ(playback_.calls.size(), 2u);
  EXPECT_TRUE(ui_.shown().empty());
}

TEST_F(FinishEditTest, ALowDiskWarnsWithTheStepsNameAndLeavesTheCursor) {
  AudioDocument document(8000, 1, "Unbenannt 1");
  document.state.cursor = 77;
  RecordUndo(document, "Verstärken");
  SetFreeSpaceProbe([](const std::string&) { return 2000u; });  // under 3 MB
  DocumentServices services = Services();
  EXPECT_FALSE(FinishEdit(document, services, 6000, 4000));
  SetFreeSpaceProbe({});
  EXPECT_EQ(document.state.cursor, 77);
  EXPECT_TRUE(playback_.calls.empty());
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, LowSpaceText("Verstärken"));
  EXPECT_EQ(ui_.shown()[0].caption, "Geringer freier Speicher");
}

class CountingObserver final : public DocumentObserver {
 public:
  std::vector<unsigned> changes;
  void DocumentChanged(AudioDocument&, unsigned what) override { changes.push_back(what); }
};

TEST_F(FinishEditTest, ObserversHearWhatChanged) {
  AudioDocument document(8000, 1, "Unbenannt 1");
  CountingObserver observer;
  document.AddObserver(&observer);
  RecordUndo(document, "A");
  RecordUndo(document, "B");
  SetSelection(document, 1, 2, 3);
  Undo(document);
  document.RemoveObserver(&observer);
  SetSelection(document, 1, 2, 3);
  ASSERT_EQ(observer.changes.size(), 4u);
  EXPECT_EQ(observer.changes[0], unsigned{kUndoChanged | kModifiedChanged});
  EXPECT_EQ(observer.changes[1], unsigned{kUndoChanged});  // already modified
  EXPECT_EQ(observer.changes[2], unsigned{kSelectionChanged | kCursorChanged});
  EXPECT_NE(observer.changes[3] & kSoundChanged, 0u);
}

TEST(TagsAndBookmarks, KeepTheirOrder) {
  TagList tags;
  tags.Set("TITLE", "a");
  tags.Set("ARTIST", "b");
  tags.Set("TITLE", "c");
  EXPECT_EQ(tags.Get("TITLE"), "c");
  EXPECT_EQ(tags.Get("ALBUM"), "");
  ASSERT_EQ(tags.entries().size(), 2u);
  EXPECT_EQ(tags.entries()[0].name, "ARTIST");  // new names go to the front
  BookmarkList marks;
  marks.Add({"b", "", 200});
  marks.Add({"a", "", 100});
  marks.Add({"c", "", 200});
  EXPECT_EQ(marks.bookmarks()[0].name, "a");
  EXPECT_EQ(marks.bookmarks()[1].name, "b");
  EXPECT_EQ(marks.bookmarks()[2].name, "c");  // after those at the same position
}

// The working folder follows "UseDefaultWorkingDir" and "WorkingFolder" as the registry
// holds them; an empty folder name means the default one.
TEST_F(DocumentListTest, WorkingFolderFollowsTheTwoSettings) {
  const std::string& data = data_;  // the fixture's per-user data folder
  std::string own = JoinPath(folder_, "own");
  settings_->WriteUserValue("Settings", "WorkingFolder", own);

  ChooseWorkingFolder(*settings_);  // UseDefaultWorkingDir defaults to true
  EXPECT_EQ(WorkingFolder(), data);
  EXPECT_TRUE(std::filesystem::is_directory(data));

  settings_->WriteUserValue("Settings", "UseDefaultWorkingDir", "0");
  ChooseWorkingFolder(*settings_);
  EXPECT_EQ(WorkingFolder(), own);
  EXPECT_TRUE(std::filesystem::is_directory(own));

  settings_->WriteUserValue("Settings", "WorkingFolder", "");  // empty: the default folder
  ChooseWorkingFolder(*settings_);
  EXPECT_EQ(WorkingFolder(), data);
  SetWorkingFolder(folder_);
}

TEST_F(DocumentListTest, LowSpaceWarnsBelowThreeMegabytes) {
  ScriptedUi ui;
  EXPECT_TRUE(LowSpaceCheck(ui, "text", 3072));
  EXPECT_TRUE(ui.shown().empty());
  std::string text = LowSpaceText("Echo");
  EXPECT_FALSE(LowSpaceCheck(ui, text, 3071));
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].caption, "Geringer freier Speicher");
  EXPECT_EQ(ui.shown()[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(ui.shown()[0].buttons, MessageButtons::kOk);
  EXPECT_EQ(ui.shown()[0].text,
            "Die zuletzt durchgeführte aktion \"Echo\" wurde eventuell nicht ausgeführt, da Sie "
            "nur wenig freien Speicher haben. Bitte versuchen Sie die Datei an einem anderen Ort "
            "zu speichern oder löschen Sie alte Dateien und versuche Sie es dann erneut.");
  // The real probe of a temporary folder passes (and an unknown file system counts as
  // 16 GB).
  EXPECT_TRUE(LowSpaceCheck(ui, "text"));
  EXPECT_TRUE(LowSpaceCheck(ui, "text", 0x1000000));
  EXPECT_EQ(ui.shown().size(), 1u);
}

}  // namespace
}  // namespace sonavel

namespace sonavel::testing {
namespace {

// Opening reads the file's tags; the tag editor shows them (the genre drop-down on the
// stored name, else the first) and stores what OK gives, marking the document modified; the
// save writes them into the file. Files other than WAV and MP3 have no editor.
TEST_F(DocumentListTest, TagsTravelFromOpenThroughTheEditorIntoTheSave) {
  const std::string path = JoinPath(folder_, "tagged.wav");
  {
    SinkRef writer = CreateWavWriter(PcmFormat(8000, 1, 16), path);
    std::vector<std::int32_t> samples(100, 1600);
    writer->Write(samples.data(), 100);
  }
  TagList given;
  given.Set("ARTIST", "Bob");
  given.Set("GENRE", "Dub Step");
  ASSERT_EQ(WriteTags(given, path), TagWrite::kWritten);
  DocumentList list;
  DocumentRef document = OpenDocumentFile(list, path, ui_);
  ASSERT_TRUE(document);
  EXPECT_EQ(document->tags.Get("ARTIST"), "Bob");

  ui_.QueueTagAnswer(ScriptedUi::TagAnswer{{"TITLE", "Lied"}, {"GENRE", "Synthpop"}});
  ASSERT_TRUE(EditTagsCommand(*document, ui_));
  ASSERT_EQ(ui_.tag_dialogs().size(), 1u);
  const TagDialog& shown = ui_.tag_dialogs()[0];
  ASSERT_EQ(shown.fields.size(), 7u);
  EXPECT_EQ(shown.fields[1], (std::pair<std::string, std::string>{"ARTIST", "Bob"}));
  EXPECT_EQ(shown.fields[3], (std::pair<std::string, std::string>{"GENRE", "Blues"}));  // no such genre
  ASSERT_EQ(shown.genres.size(), 148u);
  EXPECT_EQ(shown.genres[147], "Synthpop");
  EXPECT_EQ(document->state.modified, 1);
  EXPECT_EQ(document->tags.Get("TITLE"), "Lied");

  ui_.QueueWavFormatAnswer("");
  ASSERT_TRUE(SaveDocumentCommand(*document, ui_, *settings_, false));
  TagList saved;
  ReadTags(saved, path);
  EXPECT_EQ(saved.Get("TITLE"), "Lied");
  EXPECT_EQ(saved.Get("ARTIST"), "Bob");
  EXPECT_EQ(saved.Get("GENRE"), "Synthpop");
  // A second editor starts on the stored genre.
  EXPECT_FALSE(EditTagsCommand(*document, ui_));
  EXPECT_EQ(ui_.tag_dialogs()[1].fields[3].second, "Synthpop");

  document->path = JoinPath(folder_, "tagged.aiff");
  EXPECT_FALSE(EditTagsCommand(*document, ui_));
  ASSERT_FALSE(ui_.shown().empty());
  EXPECT_EQ(ui_.shown().back().text, "Nur wav und mp3 können bearbeitete Tags haben.");
  EXPECT_EQ(ui_.tag_dialogs().size(), 2u);
}

}  // namespace
}  // namespace sonavel::testing
