// Opening by extension: the format table's readers, and ffmpeg through a temporary WAV
// file for everything else, compared with what ffmpeg itself decodes.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/components.h"
#include "formats/media_loader.h"
#include "formats/open_file.h"
#include "formats/pump.h"
#include "formats/wav_reader.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "wav_fixture.h"

namespace sonavel::testing {
namespace {

// Records the first lines it is given and cancels at its `cancel_at`-th pump.
class RecordingProgress final : public Progress {
 public:
  explicit RecordingProgress(int cancel_at = 0) : cancel_at_(cancel_at) {}
  void SetTexts(std::string_view title, std::string_view) override { titles.emplace_back(title); }
  void SetFraction(double done) override { highest = std::max(highest, done); }
  bool Pump() override { return ++pumps_ == cancel_at_; }
  std::vector<std::string> titles;
  double highest = 0;

 private:
  int cancel_at_;
  int pumps_ = 0;
};

// Each test has a temporary folder of its own, so that tests running side by side never
// meet in "Temp1.wav".
class OpenDispatchTest : public FormatTest {
 protected:
  void SetUp() override {
    FormatTest::SetUp();
    temp_ = Path("tmp");
    std::filesystem::create_directory(temp_);
    if (const char* old = std::getenv("TMPDIR")) old_tmpdir_ = old;
    ::setenv("TMPDIR", temp_.c_str(), 1);
  }
  void TearDown() override {
    if (old_tmpdir_)
      ::setenv("TMPDIR", old_tmpdir_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    FormatTest::TearDown();
  }
  void Ffmpeg(const std::string& arguments) {
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y " + arguments), 0) << arguments;
  }
  std::vector<std::string> TempEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temp_))
      names.push_back(entry.path().filename());
    return names;
  }
  // The single message shown, "" when none or several.
  static std::string OnlyMessage(const ScriptedUi& ui) {
    return ui.shown().size() == 1 ? ui.shown()[0].text : "";
  }

  std::string temp_;
  std::optional<std::string> old_tmpdir_;
};

TEST_F(OpenDispatchTest, FfmpegLoaderDeliversExactlyWhatFfmpegDecodes) {
  struct Case {
    std::string name;
    std::string make;  // ffmpeg arguments before the output name
    int rate;
    int channels;
    const char* title;
  };
  const std::string tone = "-f lavfi -i 'aevalsrc=0.6*sin(440*2*PI*t)|0.3*sin(660*2*PI*t):s=";
  const std::vector<Case> cases = {
      {"t.wma", tone + "44100:d=1.5' -c:a wmav2", 44100, 2, "Loading WMA file"},
      {"t.mp2", tone + "32000:d=1.5' -c:a mp2", 32000, 2, "Loading with DirectX"},
      {"t.opus", tone + "48000:d=1.5' -ac 1 -c:a libopus", 48000, 1, "Loading with DirectX"},
      // The video stream comes first; only the audio is read.
      {"clip.mkv",
       "-f lavfi -i testsrc=size=64x48:rate=10:duration=1.5 " + tone +
           "22050:d=1.5' -c:v mpeg4 -c:a libvorbis",
       22050, 2, "Loading with DirectX"},
  };
  const std::string ffmpeg = FindProgram("ffmpeg");
  ASSERT_FALSE(ffmpeg.empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    Ffmpeg(c.make + " " + Quote(path));
    std::string expected;
    ASSERT_EQ(RunForOutput({ffmpeg, "-nostdin", "-v", "error", "-i", path, "-f", "s16le", "-"},
                           expected, 1 << 26),
              0);
    ScriptedUi ui;
    RecordingProgress progress;
    {
      OpenedSource opened = OpenSourceFile(path, progress, ui, {});
      ASSERT_EQ(opened.result, kDone);
      EXPECT_TRUE(opened.converted);
      EXPECT_EQ(opened.source->rate, c.rate);
      EXPECT_EQ(opened.source->channels, c.channels);
      const std::vector<std::int32_t> samples = Drain(*opened.source);
      ASSERT_EQ(samples.size() * 2, expected.size());
      std::size_t differ = 0;
      for (std::size_t i = 0; i < samples.size(); ++i)
        differ += samples[i] != static_cast<std::int16_t>(ReadLe16(
                                    reinterpret_cast<const std::uint8_t*>(&expected[2 * i]))) *
                                    16;
      EXPECT_EQ(differ, 0u);
    }
    EXPECT_TRUE(TempEntries().empty());
    EXPECT_TRUE(ui.shown().empty());
    ASSERT_FALSE(progress.titles.empty());
    EXPECT_EQ(progress.titles.front(), c.title);
  }
}

TEST_F(OpenDispatchTest, CancelEndsFfmpegAndLeavesNothing) {
  const std::string path = Path("long.opus");
  Ffmpeg("-f lavfi -i 'sine=frequency=300:duration=120:sample_rate=48000' -c:a libopus " +
         Quote(path));
  ScriptedUi ui;
  {
    // Cancelled in the middle of the load, while ffmpeg is still decoding.
    struct CancelAtTenth final : Progress {
      void SetTexts(std::string_view, std::string_view) override {}
      void SetFraction(double done) override { tenth = tenth || done >= 0.1; }
      bool Pump() override { return tenth; }
      bool tenth = false;
    } progress;
    const OpenedSource opened = OpenSourceFile(path, progress, ui, {});
    ASSERT_EQ(opened.result, kDone);
    Sound sound(8000, 1);
    EXPECT_EQ(LoadIntoSound(*opened.source, sound, progress, "Lade Datei long.opus"), kCancelled);
    EXPECT_EQ(sound.rate, 8000);
  }
  EXPECT_TRUE(ui.shown().empty());
  // No child of ours is left, not even one waiting to be collected.
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_TRUE(TempEntries().empty());
}

// An ffmpeg that fails after writing part of the audio: the load fails instead of
// giving the part as the whole sound.
TEST_F(OpenDispatchTest, FfmpegFailingOnTheWayFailsTheLoad) {
  const std::string bin = Path("bin");
  std::filesystem::create_directory(bin);
  auto script = [&bin](const std::string& name, const std::string& body) {
    const std::string file = bin + "/" + name;
    const std::string text = "#!/bin/sh\n" + body + "\n";
    WriteBytes(file, std::vector<std::uint8_t>(text.begin(), text.end()));
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  };
  script("ffprobe", "printf 'sample_rate=8000\\nchannels=1\\nduration=2.0\\n'");
  script("ffmpeg", "head -c 4000 /dev/zero; sleep 0.3; exit 1");
  const std::string path = Path("t.wma");
  WriteBytes(path, {1, 2, 3});
  const std::string saved_path = std::getenv("PATH");
  ::setenv("PATH", (bin + ":" + saved_path).c_str(), 1);
  ScriptedUi ui;
  RecordingProgress progress;
  {
    const OpenedSource opened = OpenSourceFile(path, progress, ui, {});
    ASSERT_EQ(opened.result, kDone);
    Sound sound;
    EXPECT_EQ(LoadIntoSound(*opened.source, sound, progress, "Lade Datei t.wma"), kFailed);
    EXPECT_EQ(SoundLength(sound), 0);
  }
  ::setenv("PATH", saved_path.c_str(), 1);
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(OpenDispatchTest, ExtensionAloneChoosesTheReaderAndItsMessage) {
  // Case-insensitive: SONG.WAV is a WAV file, read by our reader.
  const std::string song = Path("SONG.WAV");
  Sox("-n -r 8000 -c 1 -b 16 " + Quote(song) + " synth 0.1 sine 500");
  ScriptedUi ui;
  RecordingProgress progress;
  OpenedSource opened = OpenSourceFile(song, progress, ui, {});
  ASSERT_EQ(opened.result, kDone);
  EXPECT_FALSE(opened.converted);
  EXPECT_EQ(opened.source->rate, 8000);
  // A ".snd" file is raw audio, never Sun AU: its bytes are the samples.
  const std::string snd = Path("t.snd");
  WriteBytes(snd, Le16({100, -200, 300, -400}));
  OpenOptions raw;
  raw.raw = RawSettings{11025, 1, 3};
  opened = OpenSourceFile(snd, progress, ui, raw);
  ASSERT_EQ(opened.result, kDone);
  EXPECT_EQ(Drain(*opened.source), (std::vector<std::int32_t>{1600, -3200, 4800, -6400}));
  EXPECT_TRUE(ui.shown().empty());

  // archive.wav.gz goes to the media loader, which cannot read a compressed file.
  const std::string archive = Path("archive.wav.gz");
  ASSERT_EQ(RunCommand("gzip -c " + Quote(song) + " > " + Quote(archive)), 0);
  progress.titles.clear();
  EXPECT_EQ(OpenSourceFile(archive, progress, ui, {}).result, kFailed);
  ASSERT_FALSE(progress.titles.empty());
  EXPECT_EQ(progress.titles.front(), "Loading with DirectX");
  const std::string not_supported =
      "\". This means that either the file format is not supported by this program or that a "
      "required codec or "
      "plugin is not installed. Please see the README's section \"Other formats\" for more "
      "information.";
  EXPECT_EQ(OnlyMessage(ui), "Cannot open the file \"" + archive + not_supported);
  ui.Clear();
  // A file that is not there starts no decoder, whichever row it has.
  for (const char* gone : {"gone.mkv", "gone.amr", "gone.dct"}) {
    ui.Clear();
    EXPECT_EQ(OpenSourceFile(Path(gone), progress, ui, {}).result, kFailed);
    EXPECT_EQ(OnlyMessage(ui), "Cannot open the file \"" + Path(gone) +
                                   "\". Check it exists and you have read access.");
  }
  ui.Clear();
  const std::string msv = Path("memo.msv");
  WriteBytes(msv, {1, 2, 3});
  EXPECT_EQ(OpenSourceFile(msv, progress, ui, {}).result, kFailed);
  EXPECT_EQ(
      OnlyMessage(ui),
      "Cannot open the file \"" + msv +
          "\" because the codec is not installed. Please download the Sony codec following the "
          "links from the README's section \"Other formats\".");
  // A decoder component that fails on the file: its row's title, and the file is not
  // supported. A VoiceIt file has no decoder at all.
  ui.Clear();
  progress.titles.clear();
  const std::string ogg = Path("t.ogg");
  WriteBytes(ogg, {1, 2, 3});
  EXPECT_EQ(OpenSourceFile(ogg, progress, ui, {}).result, kFailed);
  EXPECT_EQ(progress.titles.front(), "Loading OGG file");
  EXPECT_EQ(OnlyMessage(ui), "Cannot open the file \"" + ogg + not_supported);
  ui.Clear();
  progress.titles.clear();
  const std::string sri = Path("t.sri");
  WriteBytes(sri, {1, 2, 3});
  EXPECT_EQ(OpenSourceFile(sri, progress, ui, {}).result, kFailed);
  EXPECT_EQ(progress.titles, std::vector<std::string>{"Loading SRI file"});
  EXPECT_EQ(OnlyMessage(ui), "Cannot open the file \"" + sri + not_supported);

  // Without ffmpeg installed: a file it would read is "not supported", and a ".wma" gets
  // its own message.
  const std::string mp2 = Path("t.mp2");
  Ffmpeg("-f lavfi -i 'sine=duration=0.2' -c:a mp2 " + Quote(mp2));
  const std::string wma = Path("t.wma");
  Ffmpeg("-f lavfi -i 'sine=duration=0.2' -c:a wmav2 " + Quote(wma));
  const std::string saved_path = std::getenv("PATH");
  ::setenv("PATH", temp_.c_str(), 1);
  ui.Clear();
  EXPECT_EQ(OpenSourceFile(mp2, progress, ui, {}).result, kFailed);
  EXPECT_EQ(OnlyMessage(ui), "Cannot open the file \"" + mp2 + not_supported);
  ui.Clear();
  EXPECT_EQ(OpenSourceFile(wma, progress, ui, {}).result, kFailed);
  EXPECT_EQ(OnlyMessage(ui),
            "Cannot open file \"" + wma +
                "\". It is possible that the file does not exist, it is corrupt or the file is "
                "protected with Digital Rights Management (DRM) which limits the recording to "
                "limited players.");
  ::setenv("PATH", saved_path.c_str(), 1);
  EXPECT_TRUE(TempEntries().empty());
}

// Each decoder row against its peer: the file a peer encoder made opens to exactly what the
// peer's own decoder gives (or, for FLAC, the source itself). Our adapters stand in for the
// Shorten, Record and AMR decoders, registered by their paths.
TEST_F(OpenDispatchTest, DecoderRowsGiveWhatTheirPeersDecode) {
  Registry registry;
  for (std::string_view name : {kShortenDecoder, kRecordDecoder, kAmrDecoder})
    ASSERT_TRUE(registry.Set(Branch::kUser, ComponentKey(name), "Path",
                             std::string(SONAVEL_ADAPTER_DIR) + "/sonavel-" + std::string(name)));
  const std::string source = Path("source.wav");
  Sox("-n -r 22050 -c 2 -b 16 " + Quote(source) + " synth 1.2 sine 440 sine 660 vol 0.6");
  const std::string narrow = Path("narrow.wav");
  Sox("-n -r 8000 -c 1 -b 16 " + Quote(narrow) + " synth 1.2 sine 300:1200 vol 0.6");
  struct Case {
    std::string name;
    std::string make;       // shell line writing <out> from the sources
    std::string reference;  // shell line decoding <out> into <ref> (a WAV file); "" for the source
    std::vector<std::string> titles;
  };
  const std::vector<Case> cases = {
      {"t.ogg",
       "oggenc -Q -q 3 -o <out> <src>",
       "oggdec -Q -o <ref> <out>",
       {"Loading OGG file", "Decoding Ogg file"}},
      {"t.flac", "flac -s -5 -o <out> <src>", "", {"Loading FLAC file", "Decoding FLAC file"}},
      {"t.aac",
       "ffmpeg -nostdin -v error -i <src> -c:a aac -b:a 96k <out>",
       "faad -q -o <ref> <out>",
       {"Loading AAC file", "Decoding AAC file"}},
      {"t.m4a",
       "ffmpeg -nostdin -v error -i <src> -c:a aac -b:a 96k <out>",
       "faad -q -o <ref> <out>",
       {"Loading AAC file", "Decoding AAC file"}},
      {"t.amr",
       "sox <narrow> -t amr-nb -C 5 <out>",
       "sox -t amr-nb <out> <ref>",
       {"Lade  AMR Datei", "Lade  AMR Datei"}},
      {"t.ra",
       "ffmpeg -nostdin -v error -i <narrow> -c:a real_144 <out>",
       "ffmpeg -nostdin -v error -i <out> <ref>",
       {"Loading RealAudio file", "Decoding Real Audio"}},
      // ffmpeg behind the adapters reads what the file holds.
      {"t.shn", "cp <src> <out>", "", {"Loading Shorten file", "Decoding Shn file"}},
      {"t.rec", "cp <src> <out>", "", {"Loading Record file", "Decoding Record file"}},
  };
  auto fill = [&](std::string line, const std::string& out, const std::string& ref) {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"<src>", source},
                                      {"<narrow>", narrow},
                                      {"<out>", out},
                                      {"<ref>", ref}})
      for (std::size_t at; (at = line.find(mark)) != std::string::npos;)
        line.replace(at, mark.size(), Quote(value));
    return line;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    const std::string reference = Path(c.name + ".ref.wav");
    ASSERT_EQ(RunCommand(fill(c.make, path, reference)), 0);
    if (!c.reference.empty()) {
      ASSERT_EQ(RunCommand(fill(c.reference, path, reference)), 0);
    }
    const SourceRef peer = OpenWavReader(c.reference.empty() ? source : reference);
    const std::vector<std::int32_t> expected = Drain(*peer);
    ASSERT_GT(expected.size(), 8000u);
    ScriptedUi ui;
    RecordingProgress progress;
    {
      const OpenedSource opened = OpenSourceFile(path, progress, ui, {});
      ASSERT_EQ(opened.result, kDone);
      EXPECT_TRUE(opened.converted);
      EXPECT_EQ(opened.source->rate, peer->rate);
      EXPECT_EQ(opened.source->channels, peer->channels);
      EXPECT_TRUE(Drain(*opened.source) == expected);
    }
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(progress.titles, c.titles);
    EXPECT_TRUE(TempEntries().empty());
  }
  // The user's raw settings are left alone by the AMR open.
  EXPECT_FALSE(registry.Get(Branch::kUser, ProductKey("RawAudio"), "SampleRate"));

  // A decoder cancelled at once: no process and no file stay behind.
  const std::string long_ogg = Path("long.ogg");
  Sox("-n -r 44100 -c 2 -b 16 " + Quote(Path("long.wav")) + " synth 30 sine 440");
  ASSERT_EQ(RunCommand("oggenc -Q -q 0 -o " + Quote(long_ogg) + " " + Quote(Path("long.wav"))), 0);
  ScriptedUi ui;
  RecordingProgress cancelling(1);
  EXPECT_EQ(OpenSourceFile(long_ogg, cancelling, ui, {}).result, kCancelled);
  EXPECT_TRUE(ui.shown().empty());
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_TRUE(TempEntries().empty());
}

// The encoding adapters against their peers, and every adapter's refusal of a command line
// it does not take.
TEST_F(OpenDispatchTest, AdaptersEncodeLikeTheirPeersAndRefuseOtherCommandLines) {
  auto adapter = [](std::string_view name) {
    return std::string(SONAVEL_ADAPTER_DIR) + "/sonavel-" + std::string(name);
  };
  const std::vector<std::pair<std::string_view, std::vector<std::string>>> wrong = {
      {"aacenc", {"-C", "2", "-R", "44100", "-b", "128", "-o", "x.aac"}},  // no "-X -"
      {"aacenc", {"-C", "3", "-R", "44100", "-q", "100", "-X", "-", "-o", "x.aac"}},
      {"aacenc", {"-C", "2", "-R", "44100", "-q", "1e2", "-X", "-", "-o", "x.aac"}},
      {"aacenc", {"-C", "2", "-R", "44100", "-b", "96", "-q", "100", "-X", "-", "-o", "x.aac"}},
      {"aacenc",
       {"-C", "2", "-R", "44100", "-b", "96", "--mpeg-vers", "4", "-X", "-", "-o", "x.aac"}},
      {"shndec", {"in.shn", "out.wav"}},
      {"actdec", {"in.act"}},
      {"amrenc", {"MR123", "in.wav", "out.amr"}},
      {"amrenc", {"MR122", "in.wav"}},
      {"amrdec", {"in.amr", "out.raw", "more"}},
  };
  for (const auto& [name, arguments] : wrong) {
    std::vector<std::string> line = {adapter(name)};
    line.insert(line.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(RunProgram(line), 2) << name << " " << arguments.size();
  }
  // AMR from a WAV file and from standard input: byte for byte what sox writes in that mode.
  const std::string narrow = Path("narrow.wav");
  Sox("-n -r 8000 -c 1 -b 16 " + Quote(narrow) + " synth 0.5 sine 300:1200 vol 0.6");
  const std::string ours = Path("ours.amr"), piped = Path("piped.amr"), peer = Path("peer.amr");
  ASSERT_EQ(RunProgram({adapter("amrenc"), "MR795", narrow, ours}), 0);
  ASSERT_EQ(RunCommand("sox " + Quote(narrow) + " -t s16 - | " + Quote(adapter("amrenc")) +
                       " MR795 - " + Quote(piped)),
            0);
  Sox(Quote(narrow) + " -t amr-nb -C 5 " + Quote(peer));
  EXPECT_EQ(ReadBytes(ours), ReadBytes(peer));
  EXPECT_EQ(ReadBytes(piped), ReadBytes(peer));
  // AAC as ADTS and as MPEG-4, at the asked bit rate or the quality's.
  const std::string source = Path("source.wav");
  Sox("-n -r 44100 -c 2 -b 16 " + Quote(source) + " synth 2 sine 440 sine 660 vol 0.6");
  struct AacCase {
    std::string name;
    std::string options;
    std::string format;
    int kbps;
  };
  for (const AacCase& c : std::vector<AacCase>{
           {"b.aac", "-b 96", "aac", 96},
           {"q.m4a", "-q 150 --no-tns --mpeg-vers 2", "mov,mp4,m4a,3gp,3g2,mj2", 192}}) {
    SCOPED_TRACE(c.name);
    const std::string out = Path(c.name);
    ASSERT_EQ(RunCommand("sox " + Quote(source) + " -t s16 - | " + Quote(adapter("aacenc")) +
                         " -C 2 -R 44100 " + c.options + " -X - -o " + Quote(out)),
              0);
    std::string probe;
    ASSERT_EQ(RunForOutput({FindProgram("ffprobe"), "-v", "error", "-show_entries",
                            "format=format_name:stream=codec_name,sample_rate,channels,bit_rate",
                            "-of", "default=nw=1", out},
                           probe, 4096),
              0);
    EXPECT_NE(probe.find("format_name=" + c.format + "\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=aac\nsample_rate=44100\nchannels=2\n"), std::string::npos)
        << probe;
    if (c.format != "aac") {
      const std::size_t at = probe.find("bit_rate=");
      ASSERT_NE(at, std::string::npos);
      EXPECT_NEAR(std::stoi(probe.substr(at + 9)) / 1000.0, c.kbps, c.kbps * 0.1) << probe;
    }
  }
}

// A dictation file around `wav`, field by field; the sizes are what the file declares.
struct Dictation {
  std::uint16_t version = 1;
  std::uint32_t flags = 0;
  std::uint32_t extra = 0;  // version 3: the length of the extra block, filled with zeros
  std::uint32_t notes = 5;
  std::vector<std::uint32_t> attachments;  // flag 4: their declared sizes, each given as many bytes
  std::uint8_t channels = 1;
  std::optional<std::uint32_t> audio_length;  // else the WAV's size
  std::optional<std::uint32_t> total;         // else the file's size
  std::size_t cut = 0;                        // bytes cut off the end after sizing
  // The extra block, the notes and the attachments are given at most 64 bytes, so that a
  // declared length can reach past the end of the file.

  std::vector<std::uint8_t> Build(const std::vector<std::uint8_t>& wav) const {
    // The eleven fields: lengths 0, 1, 2, ... each followed by that many bytes.
    RiffBuilder fields;
    for (int field = 0; field < 11; ++field) {
      fields.Raw({std::uint8_t(field % 3)});
      fields.Raw(std::vector<std::uint8_t>(field % 3, 'x'));
    }
    RiffBuilder head;
    head.U16(version).U32(0).U32(flags).Raw(std::vector<std::uint8_t>(8, 0xEE));
    if (version >= 3)
      head.U32(extra).Raw(std::vector<std::uint8_t>(std::min<std::uint32_t>(extra, 64), 0));
    head.U32(0x01020304)
        .Raw(fields.bytes())
        .Raw({0x7F})
        .U32(notes)
        .Raw(std::vector<std::uint8_t>(std::min<std::uint32_t>(notes, 64), 'n'));
    if (flags & 4) {
      head.Raw({std::uint8_t(attachments.size())});
      for (std::uint32_t size : attachments)
        head.Raw({3, 'a', '.', 'x'})
            .U32(size)
            .Raw(std::vector<std::uint8_t>(std::min<std::uint32_t>(size, 64), 'z'));
    }
    if (version >= 1)
      head.Raw({channels}).U32(audio_length.value_or(static_cast<std::uint32_t>(wav.size())));
    std::vector<std::uint8_t> file = head.bytes();
    file.insert(file.end(), wav.begin(), wav.end());
    file.resize(file.size() - cut);
    const std::uint32_t size = total.value_or(static_cast<std::uint32_t>(file.size()));
    for (int i = 0; i < 4; ++i) file[2 + i] = std::uint8_t(size >> (8 * i));
    return file;
  }
};

TEST_F(OpenDispatchTest, DictationFilesGiveTheirWavOrTheirRefusal) {
  const std::string source_wav = Path("inner.wav");
  Sox("-n -r 11025 -c 2 -b 16 " + Quote(source_wav) + " synth 0.2 sine 500 sine 700");
  const std::vector<std::uint8_t> wav = ReadBytes(source_wav);
  const std::vector<std::int32_t> expected = Drain(*OpenWavReader(source_wav));
  const char* seeds = std::getenv("SONAVEL_DCT_FUZZ_SEEDS");
  auto open = [&](const std::string& name, const Dictation& dictation, ScriptedUi& ui,
                  RecordingProgress& progress) {
    const std::string path = Path(name);
    WriteBytes(path, dictation.Build(wav));
    if (seeds != nullptr && *seeds != '\0') WriteBytes(JoinPath(seeds, name), ReadBytes(path));
    return OpenSourceFile(path, progress, ui, {});
  };
  // Every version, with notes and attachments in the way; version 1's flag 2 is no
  // encryption. Version 0's audio runs to the end of the file.
  std::vector<std::pair<std::string, Dictation>> good(4);
  for (std::uint16_t version = 0; version < 4; ++version)
    good[version] = {"v" + std::to_string(version) + ".dct", {}};
  good[0].second.version = 0;
  good[1].second.flags = 2 | 4;
  good[1].second.attachments = {0, 17, 40};
  good[2].second.version = 2;
  good[2].second.notes = 0;
  good[3].second.version = 3;
  good[3].second.extra = 30;
  good[3].second.flags = 4;
  good[3].second.attachments = {9};
  for (const auto& [name, dictation] : good) {
    SCOPED_TRACE(name);
    ScriptedUi ui;
    RecordingProgress progress;
    {
      const OpenedSource opened = open(name, dictation, ui, progress);
      ASSERT_EQ(opened.result, kDone);
      EXPECT_TRUE(opened.converted);
      EXPECT_EQ(opened.source->rate, 11025);
      EXPECT_EQ(Drain(*opened.source), expected);
      // The temporary file is gone already; the reader holds its bytes.
      EXPECT_TRUE(TempEntries().empty());
    }
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_EQ(progress.titles, (std::vector<std::string>{"Loading DCT file", "Loading DCT File"}));
    EXPECT_GE(progress.highest, 1.0);
  }

  const std::string corrupt = "DCT File is corrupt";
  const std::string notes = "Unable to load dct file because of file corruption (notes error).";
  const std::string attachment =
      "Unable to load dct file because of file corruption (attachment too large).";
  auto with = [](auto change) {
    Dictation d;
    change(d);
    return d;
  };
  // A length below the total size that still runs past the end from where it starts.
  auto past_end = [&wav](Dictation d, std::uint32_t Dictation::*length) {
    d.*length = 64;
    d.*length = static_cast<std::uint32_t>(d.Build(wav).size() - 1);
    return d;
  };
  Dictation extra_past_end;
  extra_past_end.version = 3;
  Dictation attachment_past_end;
  attachment_past_end.flags = 4;
  attachment_past_end.attachments = {64, 64};
  attachment_past_end.attachments[1] =
      static_cast<std::uint32_t>(attachment_past_end.Build(wav).size() - 1);
  const std::vector<std::tuple<std::string, Dictation, std::string>> refused = {
      {"v4.dct", with([](Dictation& d) { d.version = 4; }), "DCT File load error"},
      {"total.dct", with([](Dictation& d) { d.total = 1000; }), corrupt},
      {"cut.dct", with([](Dictation& d) { d.cut = 1; }), corrupt},
      {"encrypted.dct", with([](Dictation& d) {
         d.version = 2;
         d.flags = 2;
       }),
       "Verschlüsselte Diktatdateien können nicht geladen werden. Bitte entschlüsseln Sie die "
       "Datei mit dem "
       "Transkriptionsprogramm des Herstellers Ihres Diktiergerätes und speichern Sie sie "
       "unverschlüsselt."},
      {"extra.dct", with([](Dictation& d) {
         d.version = 3;
         d.extra = 0xFFFFFF;
       }),
       corrupt},
      // Below the total size, but past the end of the file from where it starts.
      {"extra-past-end.dct", past_end(extra_past_end, &Dictation::extra), corrupt},
      {"notes.dct", with([](Dictation& d) { d.notes = 0x7FFFFFFF; }), notes},
      {"notes-past-end.dct", past_end({}, &Dictation::notes), notes},
      {"attachment.dct", with([](Dictation& d) {
         d.flags = 4;
         d.attachments = {0x80000000u};
       }),
       attachment},
      {"attachment-past-end.dct", attachment_past_end, attachment},
      {"zero-channels.dct", with([](Dictation& d) { d.channels = 0; }),
       "Unable to load dct file because of file corruption (zero channels error). Please ask the "
       "dictator to send "
       "it again."},
      {"audio-past-end.dct", with([](Dictation& d) { d.audio_length = 100000; }), corrupt},
      // Nothing to copy: the empty WAV file is refused by the WAV reader.
      {"empty.dct", with([](Dictation& d) { d.audio_length = 0; }), ""},
  };
  for (const auto& [name, dictation, message] : refused) {
    SCOPED_TRACE(name);
    ScriptedUi ui;
    RecordingProgress progress;
    EXPECT_EQ(open(name, dictation, ui, progress).result, kFailed);
    EXPECT_EQ(OnlyMessage(ui),
              message.empty() ? "Cannot open the file \"" + Path(name) +
                                    "\". This means that either the file format is not supported "
                                    "by this program or that a required codec or plugin is not "
                                    "installed. Please see the README's section \"Other formats\" "
                                    "for more information."
                              : message);
    EXPECT_TRUE(TempEntries().empty());
  }
  // A cancel during the copy.
  ScriptedUi ui;
  RecordingProgress cancelling(1);
  EXPECT_EQ(open("v1.dct", good[1].second, ui, cancelling).result, kCancelled);
  EXPECT_TRUE(ui.shown().empty());
  EXPECT_TRUE(TempEntries().empty());
}

TEST(MediaOutputTest, ProbeReaderTakesOnlyCheckedValues) {
  const std::optional<MediaProbe> probe =
      ParseMediaProbe("sample_rate=44100\nchannels=6\nduration=12.5\n");
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->rate, 44100);
  EXPECT_EQ(probe->channels, 6);
  EXPECT_DOUBLE_EQ(probe->seconds, 12.5);
  EXPECT_DOUBLE_EQ(ParseMediaProbe("sample_rate=8000\nchannels=1\nduration=N/A\n")->seconds, 0);
  EXPECT_FALSE(ParseMediaProbe("sample_rate=0\nchannels=1\n"));
  EXPECT_FALSE(ParseMediaProbe("sample_rate=196001\nchannels=1\n"));
  EXPECT_FALSE(ParseMediaProbe("sample_rate=44100\nchannels=256\n"));
  EXPECT_FALSE(ParseMediaProbe("sample_rate=44100\nchannels=2x\n"));
  EXPECT_FALSE(ParseMediaProbe("channels=2\n"));
}

}  // namespace
}  // namespace sonavel::testing
