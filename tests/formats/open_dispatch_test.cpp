// Opening by extension: the format table's readers, and ffmpeg through a temporary WAV
// file for everything else, compared with what ffmpeg itself decodes.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/media_loader.h"
#include "formats/open_file.h"
#include "formats/pump.h"
#include "platform/process.h"
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
  EXPECT_EQ(OpenSourceFile(Path("gone.mkv"), progress, ui, {}).result, kFailed);
  EXPECT_EQ(OnlyMessage(ui), "Cannot open the file \"" + Path("gone.mkv") +
                                 "\". Check it exists and you have read access.");
  ui.Clear();
  const std::string msv = Path("memo.msv");
  WriteBytes(msv, {1, 2, 3});
  EXPECT_EQ(OpenSourceFile(msv, progress, ui, {}).result, kFailed);
  EXPECT_EQ(
      OnlyMessage(ui),
      "Cannot open the file \"" + msv +
          "\" because the codec is not installed. Please download the Sony codec following the "
          "links from the README's section \"Other formats\".");
  // The component rows keep their titles and refuse until the components arrive.
  ui.Clear();
  progress.titles.clear();
  const std::string ogg = Path("t.ogg");
  WriteBytes(ogg, {1, 2, 3});
  EXPECT_EQ(OpenSourceFile(ogg, progress, ui, {}).result, kFailed);
  EXPECT_EQ(progress.titles.front(), "Loading OGG file");
  EXPECT_EQ(OnlyMessage(ui), "Cannot open the file \"" + ogg + not_supported);

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
