#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "effects/effect.h"
#include "effects/equalizer.h"
#include "effects/resampler.h"
#include "effects/spectral_subtraction.h"
#include "formats/mp3_file.h"
#include "formats/pump.h"
#include "formats/stored_format.h"
#include "store/block_table.h"
#include "store/segment_reader.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/byte_source.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "views/spectrum_analysis.h"
#include "../formats/wav_fixture.h"

namespace sonavel {
namespace {

using testing::Drain;
using testing::FormatTest;
using testing::Quote;
using testing::ReadBytes;
using testing::WriteBytes;

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

class CliTest : public FormatTest {
 protected:
  // The program and the settings a test writes use folders of the test's own, the
  // machine-wide ones included; what the environment said before comes back afterwards.
  void SetUp() override {
    FormatTest::SetUp();
    for (const char* name : kFolders) {
      const char* before = std::getenv(name);
      saved_.emplace_back(before != nullptr ? std::optional<std::string>(before) : std::nullopt);
      ::setenv(name, Path(name).c_str(), 1);
    }
  }
  void TearDown() override {
    for (std::size_t i = 0; i < std::size(kFolders); ++i) {
      if (saved_[i])
        ::setenv(kFolders[i], saved_[i]->c_str(), 1);
      else
        ::unsetenv(kFolders[i]);
    }
    FormatTest::TearDown();
  }

  static constexpr const char* kFolders[] = {"SONAVEL_DATA_DIR", "SONAVEL_CONFIG_DIR", "SONAVEL_SYSTEM_CONFIG_DIR"};
  std::vector<std::optional<std::string>> saved_;

  Outcome Cli(const std::string& arguments) {
    const std::string out = Path("stdout.txt");
    const std::string err = Path("stderr.txt");
    const int code = testing::RunCommand(std::string(SONAVEL_CLI) + " " + arguments + " >" + Quote(out) + " 2>" + Quote(err));
    auto text = [](const std::string& path) {
      std::vector<std::uint8_t> bytes = ReadBytes(path);
      return std::string(bytes.begin(), bytes.end());
    };
    return {code, text(out), text(err)};
  }
};

TEST_F(CliTest, InfoPrintsTheFormatAndTheExactLength) {
  Sox("-D -r 22050 -n -c 2 -b 24 " + Quote(Path("a.wav")) + " synth 33075s sine 440");
  Outcome info = Cli("info " + Quote(Path("a.wav")));
  EXPECT_EQ(info.code, 0) << info.err;
  EXPECT_EQ(info.out,
            "format: PCM (tag 0x0001)\nrate: 22050\nchannels: 2\nbits: 24\nframes: 33075\n"
            "duration: 0:00:01.500\n");
  // A coded file is decoded to its end for an exact count.
  Sox("-D -r 8000 -n -c 1 -e ms-adpcm " + Quote(Path("b.wav")) + " synth 8000s sine 440");
  info = Cli("info " + Quote(Path("b.wav")));
  EXPECT_EQ(info.code, 0);
  EXPECT_NE(info.out.find("format: Microsoft ADPCM (tag 0x0002)\n"), std::string::npos) << info.out;
  SourceRef reader = OpenWavReader(Path("b.wav"));
  const std::size_t frames = Drain(*reader).size();
  EXPECT_NE(info.out.find("frames: " + std::to_string(frames) + "\n"), std::string::npos) << info.out;

  // Other formats through ffmpeg, in a temporary folder of the test's own that the run
  // leaves empty: info tells its format, convert writes exactly what ffmpeg decodes.
  const std::string mp2 = Path("c.mp2");
  ASSERT_EQ(testing::RunCommand("ffmpeg -nostdin -v error -f lavfi -i "
                                "'sine=frequency=500:duration=0.5:sample_rate=32000' -c:a mp2 " +
                                Quote(mp2)),
            0);
  std::filesystem::create_directory(Path("tmp"));
  info = Cli("info " + Quote(mp2));
  EXPECT_EQ(info.code, 0) << info.err;
  EXPECT_EQ(info.out.substr(0, info.out.find("frames")),
            "format: decoded by ffmpeg to 16-bit PCM\nrate: 32000\nchannels: 1\n");
  const std::string tmpdir = TempFolder();
  ASSERT_EQ(::setenv("TMPDIR", Path("tmp").c_str(), 1), 0);
  const Outcome convert = Cli("convert " + Quote(mp2) + " " + Quote(Path("c.wav")) + " --wav-format pcm:16");
  ::setenv("TMPDIR", tmpdir.c_str(), 1);
  EXPECT_EQ(convert.code, 0) << convert.err;
  EXPECT_TRUE(std::filesystem::is_empty(Path("tmp")));
  ASSERT_EQ(testing::RunCommand("ffmpeg -nostdin -v error -i " + Quote(mp2) + " -f s16le " +
                                Quote(Path("c.s16"))),
            0);
  const std::vector<std::uint8_t> wav = ReadBytes(Path("c.wav"));
  ASSERT_GT(wav.size(), 46u);
  EXPECT_EQ(std::vector<std::uint8_t>(wav.begin() + 46, wav.end()), ReadBytes(Path("c.s16")));
}

TEST_F(CliTest, ConvertWritesTheRequestedFormatAndTheDefault) {
  // Within full scale, so that saving needs no limiting and the result is exact.
  Sox("-D -r 16000 -n -c 2 -b 24 " + Quote(Path("in.wav")) + " synth 20000s sine 440 whitenoise gain -1");
  Outcome convert = Cli("convert " + Quote(Path("in.wav")) + " " + Quote(Path("out.wav")));
  ASSERT_EQ(convert.code, 0) << convert.err;
  EXPECT_TRUE(convert.err.empty()) << convert.err;  // no progress bar when not on a terminal
  SourceRef in = OpenWavReader(Path("in.wav"));
  SourceRef out = OpenWavReader(Path("out.wav"));
  EXPECT_EQ(AsWavReader(out.get())->format(), PcmFormat(16000, 2, 16));
  std::vector<std::int32_t> original = Drain(*in);
  std::vector<std::int32_t> converted = Drain(*out);
  ASSERT_EQ(converted.size(), original.size());
  for (std::size_t i = 0; i < original.size(); ++i)
    ASSERT_EQ(converted[i], std::clamp((original[i] + 8) >> 4, -32768, 32767) * 16) << "sample " << i;

  convert = Cli("convert " + Quote(Path("in.wav")) + " " + Quote(Path("ima.wav")) + " --wav-format ima-adpcm:4");
  ASSERT_EQ(convert.code, 0) << convert.err;
  out = OpenWavReader(Path("ima.wav"));
  EXPECT_EQ(AsWavReader(out.get())->format().tag, kTagImaAdpcm);
  EXPECT_EQ(testing::RunCommand("sox " + Quote(Path("ima.wav")) + " -n 2>/dev/null"), 0);

  // The stored save format is the default; PCM takes the source's rate and channels.
  ASSERT_TRUE(SaveStoredWavFormat(ToBuffer(PcmFormat(44100, 1, 8))));
  ASSERT_EQ(Cli("convert " + Quote(Path("in.wav")) + " " + Quote(Path("eight.wav"))).code, 0);
  out = OpenWavReader(Path("eight.wav"));
  EXPECT_EQ(AsWavReader(out.get())->format(), PcmFormat(16000, 2, 8));
  ASSERT_EQ(Cli("convert " + Quote(Path("in.wav")) + " " + Quote(Path("float.wav")) + " --wav-format 3:32").code, 0);
  out = OpenWavReader(Path("float.wav"));
  EXPECT_EQ(AsWavReader(out.get())->format().tag, kTagFloat);
}

std::vector<std::int32_t> SamplesOf(const std::string& path) {
  SourceRef reader = OpenWavReader(path);
  return Drain(*reader);
}

TEST_F(CliTest, EffectAppliesOneEffectToTheWholeFile) {
  const std::string in = Path("in.wav");
  Sox("-D -r 8000 -n -c 2 -b 16 " + Quote(in) + " synth 8000s sine 440 gain -12");
  const std::vector<std::int32_t> original = SamplesOf(in);
  const std::int32_t peak = *std::max_element(original.begin(), original.end());

  // Normalise to 50 %: the whole percent below 50 % of full scale over the peak becomes the
  // segments' gain, which the reader applies in steps of 1/512; within the 16-bit step.
  Outcome normalised = Cli("effect Normalisieren " + Quote(in) + " " + Quote(Path("n.wav")) + " NormalizePeakLevel=50");
  ASSERT_EQ(normalised.code, 0) << normalised.err;
  const std::vector<std::int32_t> louder = SamplesOf(Path("n.wav"));
  ASSERT_EQ(louder.size(), original.size());
  const std::int64_t percent = std::int64_t{50} * 0x7FFF0 / peak;
  const std::int64_t factor = ((std::int64_t{1} << 24) * percent / 100) >> 15;
  EXPECT_NEAR(*std::max_element(louder.begin(), louder.end()), peak * factor / 512, 16);
  EXPECT_GT(percent, 100);

  // Reverse: the frames in the opposite order, each frame's channels kept.
  ASSERT_EQ(Cli("effect umkehren " + Quote(in) + " " + Quote(Path("r.wav"))).code, 0);
  const std::vector<std::int32_t> reversed = SamplesOf(Path("r.wav"));
  ASSERT_EQ(reversed.size(), original.size());
  const std::size_t frames = original.size() / 2;
  for (std::size_t i = 0; i < frames; i += 997) {
    EXPECT_EQ(reversed[2 * i], original[2 * (frames - 1 - i)]) << i;
    EXPECT_EQ(reversed[2 * i + 1], original[2 * (frames - 1 - i) + 1]) << i;
  }

  // Fade in: silent at the start, untouched at the end.
  ASSERT_EQ(Cli("effect \"Fade In\" " + Quote(in) + " " + Quote(Path("f.wav"))).code, 0);
  const std::vector<std::int32_t> faded = SamplesOf(Path("f.wav"));
  EXPECT_EQ(faded[0], 0);
  EXPECT_NEAR(faded[faded.size() - 2], original[original.size() - 2], 16);

  // The list names each effect with its parameters and their stored values.
  const Outcome list = Cli("effect --list");
  EXPECT_EQ(list.code, 0);
  EXPECT_NE(list.out.find("Normalisieren\n  NormalizePeakLevel=100 (default 100; whole number 1 to 100)\n"),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("Dynamic Range Compressor\n"), std::string::npos);
}

TEST_F(CliTest, StreamedEffectsEqualTheEditorsRenderAndSave) {
  const std::string in = Path("in.wav");
  Sox("-D -r 11025 -n -c 2 -b 16 " + Quote(in) + " synth 30000s sine 300 whitenoise gain -3");
  for (const char* name : {"Dynamic Range Compressor", "Umkehren", "DC Offset Correction", "Fade Out"}) {
    SCOPED_TRACE(name);
    const EffectDefinition* effect = FindEffectByName(name);
    ASSERT_NE(effect, nullptr);
    ASSERT_TRUE(effect->streams);
    // The editor: load, render over the whole sound, save.
    Sound sound;
    {
      SourceRef reader = OpenWavReader(in);
      SilentProgress progress;
      ASSERT_EQ(LoadIntoSound(*reader, sound, progress, "laden"), kDone);
      EffectValues values = {{"CompressorThreshold", "-20"}, {"CompressorRatio", "3"}, {"CompressorLimit", "-3"}};
      EffectRun run{sound, 0, SoundLength(sound), values, {}, progress};
      ASSERT_EQ(effect->run(run), kDone);
      ASSERT_EQ(SaveSoundAsWav(sound, PcmFormat(11025, 2, 16), Path("editor.wav"), progress), kDone);
    }
    std::string arguments = "effect \"" + std::string(name) + "\" " + Quote(in) + " " + Quote(Path("cli.wav"));
    if (std::string(name) == "Dynamic Range Compressor")
      arguments += " CompressorThreshold=-20 CompressorRatio=3 CompressorLimit=-3";
    const Outcome outcome = Cli(arguments);
    ASSERT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_EQ(SamplesOf(Path("cli.wav")), SamplesOf(Path("editor.wav")));
  }
}

// Spectral subtraction, automatic and from a noise sample taken first from NoiseFrom to
// NoiseTo (ms), equals the editor's render and save; missing or bad ranges exit with 2.
TEST_F(CliTest, SpectralSubtractionEqualsTheEditorsAndRefusesBadSampleRanges) {
  const std::string in = Path("noisy.wav");
  Sox("-D -r 22050 -n -c 2 -b 16 " + Quote(in) + " synth 10 sine 1000 whitenoise gain -20");
  const EffectDefinition& automatic = *FindEffect(4011);
  const EffectDefinition& from_sample = *FindEffect(4013);
  auto editor = [&](const EffectDefinition& effect, const EffectValues& values, const std::string& out) {
    Sound sound;
    SourceRef reader = OpenWavReader(in);
    SilentProgress progress;
    ASSERT_EQ(LoadIntoSound(*reader, sound, progress, "laden"), kDone);
    EffectRun run{sound, 0, SoundLength(sound), values, {}, progress};
    ASSERT_EQ(effect.run(run), kDone);
    ASSERT_EQ(SaveSoundAsWav(sound, PcmFormat(22050, 2, 16), out, progress), kDone);
  };
  editor(automatic, {{"SSNoiseThreshold", "20"}}, Path("auto-editor.wav"));
  const Outcome auto_run = Cli("effect \"Noise Reduction (Auto Spectral Subtraction)\" " + Quote(in) + " " +
                               Quote(Path("auto-cli.wav")) + " SSNoiseThreshold=20");
  ASSERT_EQ(auto_run.code, 0) << auto_run.err;
  EXPECT_EQ(SamplesOf(Path("auto-cli.wav")), SamplesOf(Path("auto-editor.wav")));

  // The editor's sample of 0.5 … 1.5 s, then the command on the whole sound.
  {
    SourceRef reader = OpenWavReader(in);
    SilentProgress progress;
    SpectralProfile profile;
    ASSERT_EQ(EstimateSpectralProfile(*reader, 11025, 33075, kNoiseSamplePercentile, progress, profile), kDone);
    SetNoiseSampleProfile(std::move(profile));
  }
  editor(from_sample, {}, Path("sample-editor.wav"));
  SetNoiseSampleProfile({});
  const std::string command = "effect \"Noise Reduction (Spectral Subtraction basiert auf Noise Sample)\" " +
                              Quote(in) + " " + Quote(Path("sample-cli.wav"));
  const Outcome sample_run = Cli(command + " NoiseFrom=500 NoiseTo=1500");
  ASSERT_EQ(sample_run.code, 0) << sample_run.err;
  EXPECT_EQ(SamplesOf(Path("sample-cli.wav")), SamplesOf(Path("sample-editor.wav")));
  EXPECT_NE(SamplesOf(Path("sample-cli.wav")), SamplesOf(in));

  // 8.9 s are 8 whole seconds; 9 are refused, as are missing and reversed ranges.
  std::filesystem::remove(Path("sample-cli.wav"));
  EXPECT_EQ(Cli(command + " NoiseFrom=100 NoiseTo=9000").code, 0);
  const Outcome nine = Cli(command + " NoiseFrom=0 NoiseTo=9000");
  EXPECT_EQ(nine.code, 2);
  EXPECT_NE(nine.err.find("länger als 8 Sek."), std::string::npos) << nine.err;
  const Outcome missing = Cli(command + " NoiseFrom=500");
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("NoiseTo="), std::string::npos) << missing.err;
  EXPECT_EQ(Cli(command + " NoiseFrom=1500 NoiseTo=500").code, 2);
  EXPECT_EQ(Cli(command + " NoiseFrom=0 NoiseTo=12000").code, 2);
  EXPECT_EQ(Cli(command + " NoiseFrom=0 NoiseTo=zehn").code, 2);
}

// The equaliser renders the stored curve ("equalizer.dat", flat when missing: the file
// comes back unchanged), or with EQPreset=N the curve of that preset's stored values.
TEST_F(CliTest, EqualizerRendersTheStoredCurveOrAPreset) {
  const std::string in = Path("in.wav");
  Sox("-D -r 44100 -n -c 2 -b 16 " + Quote(in) + " synth 20000s sine 300 whitenoise gain -9");
  const std::vector<std::int32_t> original = SamplesOf(in);
  ASSERT_EQ(Cli("effect Equalizer " + Quote(in) + " " + Quote(Path("flat.wav"))).code, 0);
  EXPECT_EQ(SamplesOf(Path("flat.wav")), original);
  EXPECT_EQ(ReadBytes(EqualizerFilePath()), (std::vector<std::uint8_t>{2, 0, 128, 255, 128}));

  // Each rendered file against the filter run here on the same samples, within the
  // rounding to 16 bits.
  auto expect_filtered = [&](const std::string& out, const EnvelopePoints& curve) {
    SourceRef filter = MakeFirEqualizer(OpenWavReader(in), BuildEqualizerTable(curve, 44100));
    std::vector<std::int32_t> expected(original.size());
    filter->Read(expected.data(), static_cast<std::int32_t>(original.size() / 2));
    const std::vector<std::int32_t> rendered = SamplesOf(out);
    ASSERT_EQ(rendered.size(), expected.size());
    int worst = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) worst = std::max(worst, std::abs(rendered[i] - expected[i]));
    EXPECT_LE(worst, 16) << out;
    EXPECT_NE(rendered, original) << out;
  };
  const EnvelopePoints stop = BandPresetCurve(EqualizerPreset::kBandStop, {200, 2000, 300, 20});
  ASSERT_TRUE(SaveEqualizerPoints(stop));
  ASSERT_EQ(Cli("effect Equalizer " + Quote(in) + " " + Quote(Path("stop.wav"))).code, 0);
  expect_filtered(Path("stop.wav"), stop);
  {
    Registry registry;
    Settings settings(registry);
    WriteBandValues(EqualizerPreset::kNotch, {1000, 1000, 0, 150}, settings);
  }
  ASSERT_EQ(Cli("effect Equalizer " + Quote(in) + " " + Quote(Path("notch.wav")) + " EQPreset=5").code, 0);
  expect_filtered(Path("notch.wav"), BandPresetCurve(EqualizerPreset::kNotch, {1000, 1000, 0, 150}));
  EXPECT_EQ(Cli("effect Equalizer " + Quote(in) + " " + Quote(Path("x.wav")) + " EQPreset=7").code, 2);
}

// Vocal reduction of a whole stereo file is one channel of left − right: on a file whose
// difference stays within full scale, sox's remix of channel 1 and inverted channel 2.
TEST_F(CliTest, VocalReductionEqualsSoxRemixOfLeftMinusRight) {
  const std::string in = Path("stereo.wav");
  // Two tones of about half scale: their difference comes within 5 % of full scale.
  Sox("-D -r 44100 -n -c 2 -b 16 " + Quote(in) + " synth 44100s sine 440 sine 330 gain -6.1");
  const Outcome reduced = Cli("effect \"Stimmen reduzieren\" " + Quote(in) + " " + Quote(Path("ours.wav")));
  ASSERT_EQ(reduced.code, 0) << reduced.err;
  Sox("-D " + Quote(in) + " " + Quote(Path("sox.wav")) + " remix -m 1,2i");
  SourceRef ours = OpenWavReader(Path("ours.wav"));
  ASSERT_EQ(ours->channels, 1);
  const std::vector<std::int32_t> samples = Drain(*ours);
  ASSERT_EQ(samples.size(), 44100u);
  EXPECT_EQ(samples, SamplesOf(Path("sox.wav")));
  EXPECT_GT(*std::max_element(samples.begin(), samples.end()), kFullScale * 95 / 100);
}

// Automatic trimming and splitting against sox's silence effect on three tone bursts (a
// second each at -1 dBFS, so that trimming's threshold below the loudest peak is nearly
// sox's below full scale, a second of silence around each): the trim within two peak
// blocks at either end, the split into as many files, each within two detection blocks
// of sox's part at either end; bad values exit with 2 and write nothing.
TEST_F(CliTest, AutoTrimAndAutoSplitCutWhereSoxSilenceDoes) {
  const std::string burst = Path("burst.wav");
  const std::string in = Path("bursts.wav");
  Sox("-D -n -r 44100 -c 2 -b 16 " + Quote(burst) + " synth 1 sine 440 gain -1 pad 1 1");
  Sox("-D " + Quote(burst) + " " + Quote(burst) + " " + Quote(burst) + " " + Quote(in));
  auto frames = [](const std::string& path) {
    SourceRef reader = OpenWavReader(path);
    return reader->Length();
  };

  const Outcome trimmed = Cli("effect \"Automatisch trimmen\" " + Quote(in) + " " + Quote(Path("trim.wav")) +
                              " AutoTrimThreshold=-20");
  ASSERT_EQ(trimmed.code, 0) << trimmed.err;
  Sox("-D " + Quote(in) + " " + Quote(Path("sox-trim.wav")) +
      " silence 1 0.01 -20d reverse silence 1 0.01 -20d reverse");
  EXPECT_NEAR(frames(Path("trim.wav")), frames(Path("sox-trim.wav")), 2 * 512);
  EXPECT_NEAR(frames(Path("trim.wav")), 7 * 44100, 2 * 512);

  const Outcome split = Cli("effect \"Auto Split\" " + Quote(in) + " " + Quote(Path("part.wav")) +
                            " Threshold=-36 Duration=500");
  ASSERT_EQ(split.code, 0) << split.err;
  Sox("-D " + Quote(in) + " " + Quote(Path("sox.wav")) + " silence 1 0.05 -48d 1 0.5 -48d : newfile : restart");
  for (int n = 0; n < 3; ++n) {
    const std::string ours = Path("part (" + std::to_string(n) + ").wav");
    ASSERT_TRUE(std::filesystem::exists(ours)) << ours;
    char peer[32];
    std::snprintf(peer, sizeof peer, "sox%03d.wav", n + 1);
    EXPECT_NEAR(frames(ours), frames(Path(peer)), 4 * 2205) << n;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("part (3).wav")));

  for (const char* bad : {"Duration=-1", "Threshold=13", "Duration=1s", "Pause=3"}) {
    const Outcome refused = Cli("effect \"Auto Split\" " + Quote(in) + " " + Quote(Path("bad.wav")) + " " + bad);
    EXPECT_EQ(refused.code, 2) << bad;
    EXPECT_FALSE(refused.err.empty()) << bad;
    EXPECT_FALSE(std::filesystem::exists(Path("bad (0).wav"))) << bad;
  }
  EXPECT_NE(Cli("effect \"Auto Split\" " + Quote(in) + " " + Quote(Path("bad.wav")) + " Duration=-1")
                .err.find("Die gewählte Stille (Länge) ist nicht gültig."),
            std::string::npos);
  EXPECT_EQ(Cli("effect \"Automatisch trimmen\" " + Quote(in) + " " + Quote(Path("bad.wav")) +
                " AutoTrimThreshold=128")
                .code,
            2);
}

TEST_F(CliTest, ClickRepairTakesItsRangeInFramesAndItsValuesChecked) {
  // A 440 Hz tone with one click of half full scale at frame 3000.
  const std::string in = Path("click.wav");
  std::vector<std::int32_t> samples(8820);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int32_t>(std::lround(std::sin(i * 0.0627) * 4000)) * 16;
  samples[3000] += 0x40000;
  CreateWavWriter(PcmFormat(44100, 1, 16), in)->Write(samples.data(), static_cast<std::int32_t>(samples.size()));
  auto near_click = [&samples](const std::string& path) {
    const std::vector<std::int32_t> out = SamplesOf(path);
    EXPECT_EQ(out.size(), samples.size());
    std::int32_t first = -1, last = -1;
    for (std::size_t i = 0; i < out.size() && i < samples.size(); ++i) {
      if (out[i] == samples[i]) continue;
      if (first < 0) first = static_cast<std::int32_t>(i);
      last = static_cast<std::int32_t>(i);
    }
    return std::pair(first, last);
  };
  const std::string manual = "effect \"Manueller Klick/Pop Reduzierung\" " + Quote(in) + " ";
  Outcome run = Cli(manual + Quote(Path("m.wav")) + " From=2980 To=3024");
  ASSERT_EQ(run.code, 0) << run.err;
  auto [first, last] = near_click(Path("m.wav"));
  EXPECT_GE(first, 2980);
  EXPECT_LT(last, 3024);
  EXPECT_LE(first, 3000);
  // Too long, missing, reversed, beyond the file or not a number: exit 2 and why.
  for (const auto& [range, says] : std::vector<std::pair<std::string, std::string>>{
           {"From=2980 To=3025", "Sonavel kann einen Bereich dieser Größe nicht manuell reduzieren."},
           {"From=2980", "From=FRAME and To=FRAME"},
           {"From=3000 To=2990", "is no range"},
           {"From=8800 To=8830", "8820 frames"},
           {"From=-1 To=20", "From: \"-1\" is not a frame number"},
           {"From=1 To=2x", "To: \"2x\" is not a frame number"}}) {
    run = Cli(manual + Quote(Path("bad.wav")) + " " + range);
    EXPECT_EQ(run.code, 2) << range;
    EXPECT_NE(run.err.find(says), std::string::npos) << range << ": " << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("bad.wav")));

  const std::string automatic = "effect \"&Auto Störgeräuschrestoration\" " + Quote(in) + " ";
  run = Cli(automatic + Quote(Path("a.wav")) + " ClickSensitivity=50 MaxClickLength=450");
  ASSERT_EQ(run.code, 0) << run.err;
  std::tie(first, last) = near_click(Path("a.wav"));
  EXPECT_GE(first, 2990);
  EXPECT_LE(last, 3010);
  EXPECT_LT(std::abs(SamplesOf(Path("a.wav"))[3000] - (samples[3000] - 0x40000)), 0x40000 / 10);
  run = Cli(automatic + Quote(Path("bad.wav")) + " MaxClickLength=0");
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("MaxClickLength"), std::string::npos) << run.err;
  run = Cli(automatic + Quote(Path("bad.wav")) + " ClickSensitivity=101");
  EXPECT_EQ(run.code, 2);
  EXPECT_FALSE(std::filesystem::exists(Path("bad.wav")));
}

TEST_F(CliTest, EffectRefusesWhatItCannotDo) {
  const std::string in = Path("in.wav");
  Sox("-D -r 8000 -n -c 1 -b 16 " + Quote(in) + " synth 800s sine 440");
  const Outcome unknown = Cli("effect Zaubern " + Quote(in) + " " + Quote(Path("o.wav")));
  EXPECT_EQ(unknown.code, 2);
  EXPECT_NE(unknown.err.find("Zaubern"), std::string::npos);
  const Outcome parameter = Cli("effect Normalisieren " + Quote(in) + " " + Quote(Path("o.wav")) + " Lautheit=3");
  EXPECT_EQ(parameter.code, 2);
  EXPECT_NE(parameter.err.find("Lautheit=3"), std::string::npos);
  const Outcome refused = Cli("effect Normalisieren " + Quote(in) + " " + Quote(Path("o.wav")) + " NormalizePeakLevel=150");
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.err.find("Normalisierungslevel muss unter 100% liegen."), std::string::npos) << refused.err;
  // Stereo pan needs two channels.
  const Outcome mono = Cli("effect \"Stereo Pan\" " + Quote(in) + " " + Quote(Path("o.wav")));
  EXPECT_EQ(mono.code, 1);
  EXPECT_NE(mono.err.find("Stereodatei"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("o.wav")));
}

TEST_F(CliTest, TypedValuesAreRefusedWithTheirRangeAndOutIsNotCreated) {
  const std::string in = Path("in.wav");
  Sox("-D -r 8000 -n -c 1 -b 16 " + Quote(in) + " synth 800s sine 440");
  const struct {
    const char* effect;
    const char* value;
    const char* line;  // what standard error begins with
  } refusals[] = {
      {"Anpassen", "AmplifyGain=abc", "AmplifyGain: \"abc\" is not a whole number (0 to 400)\n"},
      {"Anpassen", "AmplifyGain=-50", "AmplifyGain: \"-50\" is out of range (0 to 400)\n"},
      {"Anpassen", "AmplifyGain=5abc", "AmplifyGain: \"5abc\" is not a whole number (0 to 400)\n"},
      {"Anpassen", "AmplifyGain=", "AmplifyGain: \"\" is not a whole number (0 to 400)\n"},
      {"Normalisieren", "NormalizePeakLevel=abc", "NormalizePeakLevel: \"abc\" is not a whole number (1 to 100)\n"},
      {"Normalisieren", "NormalizePeakLevel=150",
       "NormalizePeakLevel: \"150\" is out of range (1 to 100)\n"
       "Ungültiger Wert: Normalisierungslevel muss unter 100% liegen. Bitte noch einmal versuchen.\n"},
      {"\"Dynamic Range Compressor\"", "CompressorRatio=7", "CompressorRatio: \"7\" is not one of the choices (0 to 6)\n"},
      {"\"Samplerate konvertieren\"", "SampleRate=5999",
       "SampleRate: \"5999\" is out of range (6000 to 96000)\n"
       "Ungültiger Wert: Samplerate muss zwischen 6000 und 96000 Samples pro Sekunde liegen.\n"},
      {"\"Nur Tonhöhe ändern\"", "ConstSpeedPitch=12.5", "ConstSpeedPitch: \"12.5\" is not a whole number (1 to 300)\n"},
  };
  for (const auto& refusal : refusals) {
    const Outcome outcome =
        Cli("effect " + std::string(refusal.effect) + " " + Quote(in) + " " + Quote(Path("o.wav")) + " " + refusal.value);
    EXPECT_EQ(outcome.code, 2) << refusal.value;
    EXPECT_EQ(outcome.err, refusal.line);
    EXPECT_FALSE(std::filesystem::exists(Path("o.wav"))) << refusal.value;
  }
  // A stored value that is no number, or out of range, gives the default: 100 % changes nothing.
  Registry registry;  // the user's branch in the test's config folder, as the program finds it
  Settings(registry).WriteUserValue("StoredValues", "AmplifyGain", "abc");
  const Outcome listed = Cli("effect --list");
  EXPECT_NE(listed.out.find("AmplifyGain=100 (default 100; whole number 0 to 400)\n"), std::string::npos) << listed.out;
  ASSERT_EQ(Cli("effect Anpassen " + Quote(in) + " " + Quote(Path("same.wav"))).code, 0);
  EXPECT_EQ(SamplesOf(Path("same.wav")), SamplesOf(in));
}

TEST_F(CliTest, EffectsAnswerToTheMenuTextsInAnyCase) {
  const std::string in = Path("in.wav");
  Sox("-D -r 8000 -n -c 1 -b 16 " + Quote(in) + " synth 800s sine 440 gain -6");
  const std::vector<std::int32_t> original = SamplesOf(in);
  auto run = [&](const std::string& name, const std::string& out, const std::string& values = "") {
    const Outcome outcome = Cli("effect \"" + name + "\" " + Quote(in) + " " + Quote(Path(out)) + values);
    EXPECT_EQ(outcome.code, 0) << name << ": " << outcome.err;
    return SamplesOf(Path(out));
  };
  const std::vector<std::int32_t> halved = run("VERSTÄRKEN", "v.wav", " AmplifyGain=50");
  EXPECT_EQ(halved, run("Anpassen", "a.wav", " AmplifyGain=50"));
  EXPECT_NE(halved, original);
  const std::vector<std::int32_t> reversed = run("rückwärts", "r.wav");
  EXPECT_EQ(reversed, run("umkehren", "u.wav"));
  EXPECT_EQ(reversed.front(), original.back());
  EXPECT_EQ(run("EINBLENDEN", "e.wav"), run("Fade In", "f.wav"));
  // Mono and Stereo share their undo name; their menu texts tell them apart.
  const std::vector<std::int32_t> stereo = run("stereo", "s.wav");
  ASSERT_EQ(stereo.size(), 2 * original.size());
  for (std::size_t i = 0; i < original.size(); ++i) {
    ASSERT_EQ(stereo[2 * i], original[i]) << i;
    ASSERT_EQ(stereo[2 * i + 1], original[i]) << i;
  }
  const Outcome both = Cli("effect \"Convert Channels\" " + Quote(in) + " " + Quote(Path("c.wav")));
  EXPECT_EQ(both.code, 2);
  EXPECT_EQ(both.err, "\"Convert Channels\" names more than one effect; give its menu text: \"Mono\", \"Stereo\".\n");
  EXPECT_FALSE(std::filesystem::exists(Path("c.wav")));
  const Outcome list = Cli("effect --list");
  EXPECT_NE(list.out.find("Anpassen (menu: Verstärken)\n  AmplifyGain="), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("Convert Channels (menu: Mono)\nConvert Channels (menu: Stereo)\n"), std::string::npos);
  EXPECT_NE(list.out.find("Umkehren (menu: Rückwärts)\n"), std::string::npos);
}

TEST_F(CliTest, ConvertChangesRateAndChannelsToTheExactDuration) {
  const std::string in = Path("cd.wav");
  Sox("-D -r 44100 -n -c 2 -b 16 " + Quote(in) + " synth 44100s sine 1000 sine 3000");
  const Outcome converted = Cli("convert " + Quote(in) + " " + Quote(Path("dat.wav")) + " --rate 48000 --channels 1");
  ASSERT_EQ(converted.code, 0) << converted.err;
  const Outcome info = Cli("info " + Quote(Path("dat.wav")));
  EXPECT_NE(info.out.find("rate: 48000\nchannels: 1\nbits: 16\nframes: 48000\n"), std::string::npos) << info.out;
  // Mono keeps the left channel: the 1 kHz tone, about 48 samples per cycle.
  const std::vector<std::int32_t> samples = SamplesOf(Path("dat.wav"));
  int rising = 0;
  for (std::size_t i = 1000; i < 47000; ++i) rising += samples[i - 1] < 0 && samples[i] >= 0;
  EXPECT_NEAR(rising, 46000 / 48, 1);

  // Back to 44100 and stereo, with the format option in between.
  const Outcome back =
      Cli("convert " + Quote(Path("dat.wav")) + " " + Quote(Path("back.wav")) + " --channels 2 --wav-format pcm:24 --rate 44100");
  ASSERT_EQ(back.code, 0) << back.err;
  EXPECT_NE(Cli("info " + Quote(Path("back.wav"))).out.find("rate: 44100\nchannels: 2\nbits: 24\nframes: 44100\n"),
            std::string::npos);

  // ".gsm" is always 8000 Hz mono; GSM in WAV asks for mono and bits 0.
  ASSERT_EQ(Cli("convert " + Quote(in) + " " + Quote(Path("cd.gsm"))).code, 0);
  EXPECT_EQ(std::filesystem::file_size(Path("cd.gsm")), 50u * 33u);
  EXPECT_NE(Cli("info " + Quote(Path("cd.gsm"))).out.find("rate: 8000\nchannels: 1\nframes: 8000\n"), std::string::npos);
  ASSERT_EQ(Cli("convert " + Quote(Path("cd.gsm")) + " " + Quote(Path("gsm.wav")) + " --wav-format gsm:0").code, 0);
  EXPECT_NE(Cli("info " + Quote(Path("gsm.wav"))).out.find("GSM 6.10 (tag 0x0031)\nrate: 8000\nchannels: 1\nbits: 0\nframes: 8000\n"),
            std::string::npos);
  EXPECT_EQ(Cli("convert " + Quote(in) + " " + Quote(Path("x.wav")) + " --wav-format gsm:4 --channels 1").code, 2);

  // The high quality: the same exact length, other samples; the stored setting chooses it
  // when --quality is not given, and --quality default overrides the setting.
  auto convert_at = [&](const std::string& out, const std::string& options) {
    const Outcome done = Cli("convert " + Quote(in) + " " + Quote(Path(out)) + " --rate 48000 " + options);
    EXPECT_EQ(done.code, 0) << done.err;
    return SamplesOf(Path(out));
  };
  const std::vector<std::int32_t> normal = convert_at("normal.wav", "");
  const std::vector<std::int32_t> high = convert_at("high.wav", "--quality high");
  EXPECT_EQ(high.size(), 2u * 48000);
  EXPECT_NE(high, normal);
  EXPECT_EQ(convert_at("default.wav", "--quality default"), normal);
  {
    Registry registry;
    Settings settings(registry);
    settings.Write(setting::kResampleQuality, 1);
  }
  EXPECT_EQ(convert_at("stored.wav", ""), high);
  EXPECT_EQ(convert_at("overridden.wav", "--quality default"), normal);

  for (const char* wrong : {"--rate 5999", "--rate 96001", "--rate 44.1", "--channels 3", "--rate", "--speed 2",
                            "--quality best", "--quality HIGH", "--quality 1", "--quality"}) {
    const Outcome refused = Cli("convert " + Quote(in) + " " + Quote(Path("x.wav")) + " " + wrong);
    EXPECT_EQ(refused.code, 2) << wrong;
    EXPECT_FALSE(refused.err.empty()) << wrong;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("x.wav")));
}

TEST_F(CliTest, ConvertStreamsWhatTheFileHoldsAsTheEditorWouldSaveIt) {
  // A header claiming 2 GB over 25600 frames and an odd byte: info and convert tell, and
  // convert writes the frames present, which sox reads exactly as it reads the original.
  const std::string in = Path("in.wav");
  Sox("-D -r 8000 -n -c 2 -b 16 " + Quote(in) + " synth 25600s sine 300 whitenoise gain -1");
  std::vector<std::uint8_t> bytes = ReadBytes(in);
  ASSERT_EQ(bytes.size(), 44u + 102400);
  WriteLe32(&bytes[40], 0x80000000);
  bytes.push_back(0x7F);
  WriteBytes(Path("forged.wav"), bytes);
  const std::string note = "note: the header claims 2147483648 bytes of data; the file holds 102401\n";
  const Outcome info = Cli("info " + Quote(Path("forged.wav")));
  EXPECT_EQ(info.code, 0);
  EXPECT_NE(info.out.find("frames: 25600\nduration: 0:00:03.200\n" + note), std::string::npos) << info.out;
  const Outcome convert = Cli("convert " + Quote(Path("forged.wav")) + " " + Quote(Path("out.wav")) + " --wav-format pcm:16");
  ASSERT_EQ(convert.code, 0) << convert.err;
  EXPECT_EQ(convert.err, note);
  EXPECT_EQ(std::filesystem::file_size(Path("out.wav")), 46u + 102400);
  Sox("-D " + Quote(in) + " -t raw " + Quote(Path("in.raw")));
  Sox("-D " + Quote(Path("out.wav")) + " -t raw " + Quote(Path("out.raw")));
  EXPECT_EQ(ReadBytes(Path("out.raw")), ReadBytes(Path("in.raw")));

  // Full-scale noise, where the limiter acts, as it is and at another rate and channel
  // count, and a coded file, whose length is an estimate until its end: the streamed file
  // equals what loading the file and saving it gives.
  Sox("-D -r 11025 -n -c 2 -b 16 " + Quote(in) + " synth 30000s whitenoise sine 300");
  Sox("-D -r 11025 -n -c 2 -e ima-adpcm " + Quote(Path("ima.wav")) + " synth 30001s whitenoise sine 300");
  for (const auto& [file, rate, channels] : {std::tuple{in, 11025, 2}, std::tuple{in, 22050, 1},
                                              std::tuple{Path("ima.wav"), 11025, 2}}) {
    SCOPED_TRACE(file + " at " + std::to_string(rate));
    Sound sound;
    SilentProgress progress;
    SourceRef reader = OpenWavReader(file);
    ASSERT_EQ(LoadIntoSound(*reader, sound, progress, "laden"), kDone);
    const WaveFormat format = PcmFormat(rate, channels, 16);
    ASSERT_EQ(SaveSourceAsWav(ConvertFormat(OpenSoundReader(sound), rate, static_cast<std::uint8_t>(channels)), format,
                              Path("editor.wav"), progress),
              kDone);
    const Outcome streamed = Cli("convert " + Quote(file) + " " + Quote(Path("cli.wav")) + " --wav-format pcm:16 --rate " +
                                 std::to_string(rate) + " --channels " + std::to_string(channels));
    ASSERT_EQ(streamed.code, 0) << streamed.err;
    EXPECT_EQ(ReadBytes(Path("cli.wav")), ReadBytes(Path("editor.wav")));
  }
}

TEST_F(CliTest, FailuresExitWithTwoAndSayWhy) {
  Outcome missing = Cli("info " + Quote(Path("nope.wav")));
  EXPECT_EQ(missing.code, 2);
  // Open messages go through the editor's one open path, captioned as the editor shows them.
  EXPECT_EQ(missing.err,
            "Sonavel: Cannot open the file \"" + Path("nope.wav") + "\". Check it exists and you have read access.\n");
  WriteBytes(Path("junk.wav"), {'R', 'I', 'F', 'F', 1, 0, 0, 0, 'W', 'A', 'V', 'E'});
  Outcome corrupt = Cli("convert " + Quote(Path("junk.wav")) + " " + Quote(Path("x.wav")));
  EXPECT_EQ(corrupt.code, 2);
  EXPECT_EQ(corrupt.err, "Sonavel: Cannot open the file \"" + Path("junk.wav") + "\" because it is corrupt.\n");
  // Extensions without a reader of ours go to ffmpeg, which cannot read this one.
  WriteBytes(Path("junk.xyz"), {1, 2, 3, 4});
  Outcome unknown = Cli("info " + Quote(Path("junk.xyz")));
  EXPECT_EQ(unknown.code, 2);
  EXPECT_EQ(unknown.err, "Sonavel: Cannot open the file \"" + Path("junk.xyz") +
                             "\". This means that either the file format is not supported by this program or that a "
                             "required codec or plugin is not installed. Please see the README's section \"Other "
                             "formats\" for more information.\n");
  EXPECT_FALSE(std::filesystem::exists(Path("x.wav")));

  Sox("-D -r 8000 -n -c 1 " + Quote(Path("ok.wav")) + " synth 100s sine 440");
  Outcome bad_format = Cli("convert " + Quote(Path("ok.wav")) + " " + Quote(Path("y.wav")) + " --wav-format mp3");
  EXPECT_EQ(bad_format.code, 2);
  EXPECT_NE(bad_format.err.find("--wav-format"), std::string::npos);
  Outcome no_codec = Cli("convert " + Quote(Path("ok.wav")) + " " + Quote(Path("y.wav")) + " --wav-format 0x55:16");
  EXPECT_EQ(no_codec.code, 2);
  EXPECT_NE(no_codec.err.find("CODEC"), std::string::npos);
  Outcome unwritable = Cli("convert " + Quote(Path("ok.wav")) + " " + Quote(Path("no/such/dir/z.wav")));
  EXPECT_EQ(unwritable.code, 2);
  EXPECT_EQ(unwritable.err, "Sonavel: Kann Datei nicht erstellen\"" + Path("no/such/dir/z.wav") + "\"zum Speichern.\n");
  EXPECT_EQ(Cli("frobnicate").code, 2);
  const Outcome version = Cli("--version");
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "sonavel-cli " SONAVEL_VERSION "\n");
  EXPECT_EQ(Cli("--version extra").code, 2);
  // The run's block files are gone, and nothing was left in the working folder (which a
  // streaming convert need not even make).
  int leftovers = 0;
  std::error_code absent;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Path("SONAVEL_DATA_DIR"), absent))
    leftovers += entry.path().extension() == ".aud" || entry.path().extension() == ".grf" ||
                 entry.path().filename().string().rfind("cli-", 0) == 0;
  EXPECT_EQ(leftovers, 0);
}

// Headerless files by --raw or by the stored record: sox reads what we write exactly, the
// stored record decides rate and channels of a raw OUT, and a bad --raw is refused.
TEST_F(CliTest, RawFilesFollowTheOverrideOrTheStoredSettings) {
  Sox("-n -r 8000 -c 2 -b 16 " + Quote(Path("a.wav")) + " synth 0.25 sine 300 sine 500 vol 0.7");
  Outcome convert = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(Path("b.raw")) + " --raw 8000:2:6");
  ASSERT_EQ(convert.code, 0) << convert.err;
  const std::string wav_samples = Path("a.s16");
  const std::string raw_samples = Path("b.s16");
  Sox(Quote(Path("a.wav")) + " -t raw -e signed -b 16 -L " + Quote(wav_samples));
  Sox("-t raw -r 8000 -c 2 -e signed -b 16 -B " + Quote(Path("b.raw")) + " -t raw -e signed -b 16 -L " +
      Quote(raw_samples));
  EXPECT_EQ(ReadBytes(raw_samples), ReadBytes(wav_samples));
  Outcome info = Cli("info " + Quote(Path("b.raw")) + " --raw 8000:2:6");
  EXPECT_EQ(info.out.substr(0, info.out.find('\n')), "format: Raw (16 bit PCM (BE))");
  EXPECT_NE(info.out.find("channels: 2\ncodec: 6\nframes: 2000\n"), std::string::npos) << info.out;

  {
    Registry registry;
    Settings settings(registry);
    settings.Write(setting::kRawAudioSampleRate, 16000);
    settings.Write(setting::kRawAudioChannels, 1);
    settings.Write(setting::kRawAudioCodec, 1);
  }
  convert = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(Path("c.raw")));
  ASSERT_EQ(convert.code, 0) << convert.err;
  EXPECT_EQ(ReadBytes(Path("c.raw")).size(), 4000u);  // 0.25 s at 16000 Hz, mono µ-law
  info = Cli("info " + Quote(Path("c.raw")));
  EXPECT_NE(info.out.find("rate: 16000\nchannels: 1\ncodec: 1\nframes: 4000\n"), std::string::npos) << info.out;

  for (const char* bad : {"8000:1:9", "5999:1:3", "8000:3:3", "8000:1", "8000:x:1"}) {
    Outcome refused = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(Path("d.raw")) + " --raw " + bad);
    EXPECT_EQ(refused.code, 2) << bad;
    EXPECT_NE(refused.err.find("--raw"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(Path("d.raw"))) << bad;
  }
}

// An MP3 file: what info tells, gapless or not by the stored setting or --gapless, and a
// convert that saves what the reader delivers.
TEST_F(CliTest, Mp3FilesLoadGaplessUnlessToldOtherwise) {
  Sox("-D -r 44100 -n -c 1 -b 16 " + Quote(Path("a.wav")) + " synth 30000s sine 440 vol 0.5");
  const std::string mp3 = Path("a.mp3");
  ASSERT_EQ(testing::RunCommand("lame --quiet -b 96 " + Quote(Path("a.wav")) + " " + Quote(mp3)), 0)
      << "lame is needed";
  // The "Info" tag follows the 17 bytes of mono side information; its frame count, 8 on.
  const std::vector<std::uint8_t> bytes = ReadBytes(mp3);
  const std::int64_t decoded = std::int64_t{ReadBe32(&bytes[21 + 8])} * 1152;
  const std::string padding = std::to_string(decoded - 30000 - 576);
  Outcome info = Cli("info " + Quote(mp3));
  EXPECT_EQ(info.code, 0) << info.err;
  EXPECT_EQ(info.out,
            "format: MPEG-1 Layer III\nrate: 44100\nchannels: 1\nbit rate: 96 kbit/s\nchannel mode: mono\n"
            "gapless: yes (encoder delay 576, padding " + padding + " and decoder delay 529 samples cut off)\n"
            "frames: 30000\nduration: 0:00:00.680\n");
  info = Cli("info " + Quote(mp3) + " --gapless off");
  EXPECT_NE(info.out.find("gapless: no\nframes: " + std::to_string(decoded) + "\n"), std::string::npos) << info.out;
  {
    Registry registry;
    Settings settings(registry);
    settings.WriteUser(setting::kMp3Gapless, false);  // the test's own branch only
  }
  EXPECT_NE(Cli("info " + Quote(mp3)).out.find("gapless: no\n"), std::string::npos);
  EXPECT_NE(Cli("info " + Quote(mp3) + " --gapless on").out.find("frames: 30000\n"), std::string::npos);
  for (const std::string& command : {"info " + Quote(mp3) + " --gapless maybe",
                                     "convert " + Quote(mp3) + " " + Quote(Path("x.wav")) + " --gapless 1"}) {
    const Outcome refused = Cli(command);
    EXPECT_EQ(refused.code, 2) << command;
    EXPECT_NE(refused.err.find("--gapless takes on or off"), std::string::npos) << refused.err;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("x.wav")));

  // Saved as 16 bits, sample for sample what the reader delivers.
  for (const bool gapless : {true, false}) {
    const Outcome convert =
        Cli("convert " + Quote(mp3) + " " + Quote(Path("b.wav")) + (gapless ? " --gapless on" : ""));
    ASSERT_EQ(convert.code, 0) << convert.err;
    SourceRef ours = OpenMp3Reader(OpenFileBytes(mp3), gapless);
    std::vector<std::int32_t> expected = Drain(*ours);
    for (std::int32_t& sample : expected) sample = StoreTo16(sample) * 16;
    SourceRef saved = OpenWavReader(Path("b.wav"));
    EXPECT_EQ(saved->Length(), gapless ? 30000 : decoded);
    EXPECT_EQ(Drain(*saved), expected);
  }
}

TEST_F(CliTest, EncodedOutputsTakeTheStoredSettingsOrTheGivenOnes) {
  Sox("-D -r 48000 -n -c 2 -b 16 " + Quote(Path("a.wav")) + " synth 1 sine 440 sine 660 vol 0.5");
  {
    Registry registry;
    Settings settings(registry);
    settings.Write(setting::kMp3CbrBitRate, 64);
  }
  const std::string mp3 = Path("out.mp3");
  Outcome convert = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(mp3));
  ASSERT_EQ(convert.code, 0) << convert.err;
  // lame itself picks 24000 Hz for 64 kbit/s.
  EXPECT_NE(Cli("info " + Quote(mp3)).out.find("channels: 2\nbit rate: 64 kbit/s\nchannel mode: joint"),
            std::string::npos);
  convert = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(mp3) + " CBRBitRate=192 ChannelMode=0");
  ASSERT_EQ(convert.code, 0) << convert.err;
  EXPECT_NE(Cli("info " + Quote(mp3)).out.find("bit rate: 192 kbit/s\nchannel mode: stereo"), std::string::npos);

  // Refused before any file is touched.
  for (const auto& [given, message] : std::vector<std::pair<std::string, std::string>>{
           {"CBRBitRate=400", "CBRBitRate: \"400\" is out of range (8 to 320)."},
           {"CBRBitRate=12x", "CBRBitRate: \"12x\" is not a whole number (8 to 320)."},
           {"Compression=5", "\"Compression\" is not a setting of the mp3el encoder"}}) {
    const Outcome refused = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(Path("no.mp3")) + " " + given);
    EXPECT_EQ(refused.code, 2) << given;
    EXPECT_NE(refused.err.find(message), std::string::npos) << refused.err;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("no.mp3")));

  // FLAC keeps the file's rate and channels while none are stored.
  const std::string flac = Path("out.flac");
  convert = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(flac));
  ASSERT_EQ(convert.code, 0) << convert.err;
  auto format_of = [&] { return "test \"$(soxi -r " + Quote(flac) + ") $(soxi -c " + Quote(flac) + ")\" = "; };
  EXPECT_EQ(testing::RunCommand(format_of() + "'48000 2'"), 0);
  convert = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(flac) + " Channels=1 SampleRate=22050");
  ASSERT_EQ(convert.code, 0) << convert.err;
  EXPECT_EQ(testing::RunCommand(format_of() + "'22050 1'"), 0);
}

// A playlist or feed OUT publishes: the MP3 beside it takes the MP3 settings given, the feed
// the given root address; an MP3 already there is replaced; a bad address or a target that
// cannot be created fails with exit 2. An effect's OUT publishes the same way.
TEST_F(CliTest, PlaylistAndFeedOutputsPublishAnMp3BesideThem) {
  Sox("-D -r 44100 -n -c 2 -b 16 " + Quote(Path("a.wav")) + " synth 1.5 sine 440 vol 0.5");
  std::ofstream(Path("talk.mp3")) << "old";
  const std::string feed = Path("talk.rss");
  Outcome convert = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(feed) +
                        " RootURL=http://example.org/pod CBRBitRate=192");
  ASSERT_EQ(convert.code, 0) << convert.err;
  const std::vector<std::uint8_t> bytes = ReadBytes(feed);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("<enclosure url=\"http://example.org/pod/talk.mp3\" length=\"" +
                      std::to_string(std::filesystem::file_size(Path("talk.mp3"))) + "\""),
            std::string::npos)
      << text;
  EXPECT_NE(Cli("info " + Quote(Path("talk.mp3"))).out.find("bit rate: 192 kbit/s"), std::string::npos);

  const Outcome refused = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(feed) + " \"$(printf 'RootURL=a\\nb')\"");
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.err.find("RootURL: a line break or control character"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadBytes(feed), bytes);
  const Outcome missing = Cli("convert " + Quote(Path("a.wav")) + " " + Quote(Path("none/talk.m3u")));
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("Kann Datei nicht erstellen"), std::string::npos) << missing.err;

  ASSERT_EQ(Cli("effect Normalisieren " + Quote(Path("a.wav")) + " " + Quote(Path("fx.m3u"))).code, 0);
  EXPECT_EQ(testing::RunCommand("mpg123 -q -t " + Quote(Path("fx.mp3"))), 0);
  EXPECT_GT(std::filesystem::file_size(Path("fx.mp3")), 10000u);
}

}  // namespace
}  // namespace sonavel

namespace sonavel {
namespace {

// `tags` prints and writes a file's tags and refuses names it does not know; `convert`
// carries the tags of IN into a WAV or MP3 OUT.
TEST_F(CliTest, TagsArePrintedWrittenAndCarriedByConvert) {
  using testing::Quote;
  Sox("-r 8000 -n -c 1 -b 16 " + Quote(Path("in.wav")) + " synth 0.5 sine 440");
  Outcome wrote = Cli("tags " + Quote(Path("in.wav")) + " 'TITLE=Lied über' ARTIST=Bob GENRE=Pop");
  ASSERT_EQ(wrote.code, 0) << wrote.err;
  Outcome printed = Cli("tags " + Quote(Path("in.wav")));
  ASSERT_EQ(printed.code, 0) << printed.err;
  EXPECT_EQ(printed.out, "TITLE=Lied über\nARTIST=Bob\nGENRE=Pop\n");

  const std::vector<std::uint8_t> before = testing::ReadBytes(Path("in.wav"));
  for (const char* refused : {"Titel=x", "TITLE", "=x"}) {
    const Outcome bad = Cli("tags " + Quote(Path("in.wav")) + " " + Quote(refused));
    EXPECT_EQ(bad.code, 2) << refused;
    EXPECT_NE(bad.err.find("is no tag"), std::string::npos) << bad.err;
  }
  EXPECT_EQ(testing::ReadBytes(Path("in.wav")), before);
  EXPECT_EQ(Cli("tags " + Quote(Path("missing.wav")) + " TITLE=x").code, 2);
  EXPECT_FALSE(std::filesystem::exists(Path("missing.wav")));
  EXPECT_EQ(Cli("tags " + Quote(Path("in.aiff"))).code, 2);

  ASSERT_EQ(Cli("convert " + Quote(Path("in.wav")) + " " + Quote(Path("out.mp3"))).code, 0);
  printed = Cli("tags " + Quote(Path("out.mp3")));
  EXPECT_EQ(printed.out, "TITLE=Lied über\nARTIST=Bob\nGENRE=Pop\n");
  ASSERT_EQ(Cli("convert " + Quote(Path("out.mp3")) + " " + Quote(Path("back.wav"))).code, 0);
  printed = Cli("tags " + Quote(Path("back.wav")));
  EXPECT_EQ(printed.out, "TITLE=Lied über\nARTIST=Bob\nGENRE=Pop\n");
}

// `bookmarks` adds to, lists and removes from the sidecar beside a file, writing the bytes
// an editor's save would, deletes the sidecar with the last bookmark, and refuses bad
// times, names, actions and unreadable sidecars with exit 2, leaving the sidecar alone.
TEST_F(CliTest, BookmarksChangeTheSidecarBesideTheFile) {
  WriteBytes(Path("song.mp3"), {0});
  const std::string file = Quote(Path("song.mp3"));
  ASSERT_EQ(Cli("bookmarks " + file + " add Refrain 1:02.345").code, 0);
  ASSERT_EQ(Cli("bookmarks " + file + " add Intro 0").code, 0);
  const std::vector<std::uint8_t> sidecar = ReadBytes(Path("song.wbm"));
  ASSERT_EQ(sidecar.size(), 2u + 24u + 26u);
  const std::vector<std::uint8_t> first = {2, 2, 5, 'I', 'n', 't', 'r', 'o', 8, 's', 'o', 'n', 'g', '.', 'm', 'p', '3', 0, 0, 0, 0, 1};
  EXPECT_TRUE(std::equal(first.begin(), first.end(), sidecar.begin()));
  const Outcome listed = Cli("bookmarks " + file);
  ASSERT_EQ(listed.code, 0) << listed.err;
  EXPECT_EQ(listed.out.substr(0, 19), "Intro\t0:00:00.00\t1\t");
  EXPECT_NE(listed.out.find("\nRefrain\t0:01:02.35\t1\t"), std::string::npos) << listed.out;

  for (const char* refused : {"add x -1", "add x 1:xx", "add Intro 5", "add '' 5", "remove Outro", "drop x", "add x"}) {
    const Outcome bad = Cli("bookmarks " + file + " " + refused);
    EXPECT_EQ(bad.code, 2) << refused;
    EXPECT_FALSE(bad.err.empty()) << refused;
  }
  EXPECT_EQ(ReadBytes(Path("song.wbm")), sidecar);

  ASSERT_EQ(Cli("bookmarks " + file + " remove intro").code, 0);
  ASSERT_EQ(Cli("bookmarks " + file + " remove REFRAIN").code, 0);
  EXPECT_FALSE(std::filesystem::exists(Path("song.wbm")));

  WriteBytes(Path("song.wbm"), {1, 0});
  EXPECT_EQ(Cli("bookmarks " + file + " add x 1").code, 2);
  EXPECT_EQ(ReadBytes(Path("song.wbm")), (std::vector<std::uint8_t>{1, 0}));
  EXPECT_EQ(Cli("bookmarks " + Quote(Path("missing.wav"))).code, 2);
}

}  // namespace
}  // namespace sonavel

namespace sonavel {
namespace {

// A project built from files holds their samples, and extracting it gives WAVs that sox
// reads as the very samples it read from the sources; bad input exits with 2.
TEST_F(CliTest, ProjectCreateInfoExtractKeepTheSamples) {
  const std::string a = Path("Lied.wav");
  const std::string b = Path("noise.wav");
  ASSERT_EQ(testing::RunCommand("sox -n -r 22050 -c 2 -b 16 " + Quote(a) + " synth 0.5 sine 440 sine 660"), 0);
  ASSERT_EQ(testing::RunCommand("sox -n -r 8000 -c 1 -b 16 " + Quote(b) + " synth 1.1 whitenoise vol 0.7"), 0);
  // The first file's sidecar comes along into the project.
  ASSERT_EQ(Cli("bookmarks " + Quote(a) + " add Refrain 0.25").code, 0);
  const std::string project = Path("p.snp");
  ASSERT_EQ(Cli("project create " + Quote(project) + " " + Quote(a) + " " + Quote(b)).code, 0);
  const Outcome info = Cli("project info " + Quote(project));
  ASSERT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("2 document(s)\n" + a +
                          "\n  22050 Hz, 2 channel(s), 11025 frames\n"
                          "  cursor 0, selection 0-0, view 0-11025, 1 bookmark(s)\n"
                          "  bookmark \"Refrain\" at 0:00:00.25\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("  cursor 0, selection 0-0, view 0-8800, 0 bookmark(s)\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find(b + "\n  8000 Hz, 1 channel(s), 8800 frames\n"), std::string::npos) << info.out;

  const std::string folder = Path("out");
  std::filesystem::create_directory(folder);
  ASSERT_EQ(Cli("project extract " + Quote(project) + " " + Quote(folder)).code, 0);
  for (const auto& [source, extracted] : {std::pair{a, "01-Lied.wav"}, std::pair{b, "02-noise.wav"}}) {
    const std::string left = Path("left.raw");
    const std::string right = Path("right.raw");
    ASSERT_EQ(testing::RunCommand("sox " + Quote(source) + " -t raw -e signed-integer -b 16 " + Quote(left)), 0);
    ASSERT_EQ(testing::RunCommand("sox " + Quote(folder + "/" + extracted) + " -t raw -e signed-integer -b 16 " +
                                  Quote(right)),
              0);
    const auto expected = testing::RawSamples(left, 2);
    EXPECT_GT(expected.size(), 8000u);
    EXPECT_EQ(testing::RawSamples(right, 2), expected) << extracted;
  }

  auto bytes = ReadBytes(project);
  WriteBytes(Path("cut.snp"), {bytes.begin(), bytes.end() - 1});
  const Outcome cut = Cli("project info " + Quote(Path("cut.snp")));
  EXPECT_EQ(cut.code, 2);
  EXPECT_NE(cut.err.find("Das Projekt ist unvollständig oder beschädigt."), std::string::npos);
  EXPECT_EQ(Cli("project info " + Quote(a)).code, 2);
  EXPECT_EQ(Cli("project extract " + Quote(project) + " " + Quote(Path("missing"))).code, 2);
  EXPECT_EQ(Cli("project create " + Quote(Path("q.snp")) + " " + Quote(Path("missing.wav"))).code, 2);
  EXPECT_FALSE(std::filesystem::exists(Path("q.snp")));
  EXPECT_EQ(Cli("project frobnicate " + Quote(project)).code, 2);
}

// A create killed while it writes leaves the project it was replacing whole and loadable.
TEST_F(CliTest, ProjectCreateKilledMidSaveKeepsTheOldProject) {
  const std::string small = Path("small.wav");
  const std::string large = Path("large.wav");
  ASSERT_EQ(testing::RunCommand("sox -n -r 8000 -c 1 -b 16 " + Quote(small) + " synth 0.2 sine 300"), 0);
  ASSERT_EQ(testing::RunCommand("sox -n -r 44100 -c 2 -b 16 " + Quote(large) + " synth 600 sine 440"), 0);
  const std::string project = Path("keep.snp");
  ASSERT_EQ(Cli("project create " + Quote(project) + " " + Quote(small)).code, 0);
  const std::vector<std::uint8_t> old_bytes = ReadBytes(project);
  const std::string old_info = Cli("project info " + Quote(project)).out;

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::execl(SONAVEL_CLI, SONAVEL_CLI, "project", "create", project.c_str(), large.c_str(), small.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Killed once its temporary file holds a good part of the 212 MB it is writing.
  std::uintmax_t seen = 0;
  for (int wait = 0; wait < 3000 && seen < 20'000'000; ++wait) {
    for (const auto& entry : std::filesystem::directory_iterator(Path("")))
      if (entry.path().filename().string().starts_with("keep.snp.part-")) seen = entry.file_size();
    ::usleep(10'000);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the create ended before it could be killed";
  EXPECT_GE(seen, 20'000'000u);
  EXPECT_EQ(ReadBytes(project), old_bytes);
  const Outcome info = Cli("project info " + Quote(project));
  EXPECT_EQ(info.code, 0) << info.err;
  EXPECT_EQ(info.out, old_info);
  EXPECT_NE(info.out.find("1 document(s)\n" + small + "\n  8000 Hz, 1 channel(s), 1600 frames\n"), std::string::npos);
}

// spectrum prints what the frequency window computes for the file's frames; spectrogram
// draws the time-frequency window's picture with the stored look, and ffmpeg decodes our
// PNG to exactly those pixels.
TEST_F(CliTest, SpectrumAndSpectrogramOfAFile) {
  const std::string in = Path("two.wav");
  Sox("-D -r 44100 -n -c 2 -b 16 " + Quote(in) + " synth 2 sine 1000 sine 3000 gain -3");
  SourceRef reader = OpenWavReader(in);
  const Sound sound = testing::WriteSound(Drain(*reader), 2, 44100);

  const Outcome printed = Cli("spectrum " + Quote(in) + " --at 30000");
  ASSERT_EQ(printed.code, 0) << printed.err;
  const std::optional<SpectrumData> spectrum = ComputeSpectrum(sound, 30000);
  ASSERT_TRUE(spectrum);
  std::string expected;
  for (int k = 0; k < kSpectrumBins; ++k) {
    expected += std::to_string(k * 44100 >> 12) + "\t" + std::to_string(spectrum->levels[k]) + "\t" +
                std::to_string(spectrum->levels[kSpectrumBins + k]) + "\n";
  }
  EXPECT_EQ(printed.out, expected);
  // Each channel peaks at its tone: 1000 Hz is bin 92.9, 3000 Hz bin 278.6.
  const auto peak = [&](int channel) {
    const auto first = spectrum->levels.begin() + channel * kSpectrumBins;
    return std::max_element(first, first + kSpectrumBins) - first;
  };
  EXPECT_EQ(peak(0), 93);
  EXPECT_EQ(peak(1), 279);

  {
    Registry registry;  // the user's branch in the test's config folder, as the program finds it
    Settings settings(registry);
    StoreSpectrogramLook(settings, {true, 40, true});
  }
  const std::string out = Path("picture.png");
  const Outcome drawn = Cli("spectrogram " + Quote(in) + " " + Quote(out) +
                            " --from 4410 --to 70000 --width 300 --height 200");
  ASSERT_EQ(drawn.code, 0) << drawn.err;
  ASSERT_EQ(testing::RunCommand("ffmpeg -nostdin -v error -i " + Quote(out) + " -f rawvideo -pix_fmt rgb24 " +
                                Quote(Path("picture.rgb"))),
            0);
  SilentProgress progress;
  const std::optional<SpectrogramData> data = ComputeSpectrogram(sound, 4410, 70000 - 4410, progress);
  ASSERT_TRUE(data);
  const std::vector<std::uint32_t> pixels = RenderSpectrogram(*data, {true, 40, true}, 300, 200);
  std::vector<std::uint8_t> rgb;
  for (const std::uint32_t pixel : pixels) {
    rgb.insert(rgb.end(), {static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
                           static_cast<std::uint8_t>(pixel)});
  }
  EXPECT_EQ(ReadBytes(Path("picture.rgb")), rgb);
  // The zoom shows 0 … 4000 Hz: the 3000 Hz tone three quarters of the way up, bright.
  EXPECT_EQ(pixels[static_cast<std::size_t>(200 - 150) * 300 + 150], SpectrogramColour(255));

  // Every value is checked before anything is written; an existing picture stays.
  const std::vector<std::uint8_t> before = ReadBytes(out);
  const std::pair<std::string, std::string> refusals[] = {
      {"--at 88201", "--at: frame 88201 lies beyond the end of \"" + in + "\" (88200 frames).\n"},
      {"--at 1e3", "--at: \"1e3\" is not a frame number (from 0).\n"},
      {"--at 5 --at 6", "Unknown or repeated option \"--at\".\n"},
      {"--from 10 --to 10", "--from 10 must lie before --to 10.\n"},
      {"--to 88201", "Frames 0 to 88201 are no range of \"" + in + "\" (88200 frames).\n"},
      {"--from -1", "--from: \"-1\" is not a frame number (from 0).\n"},
      {"--width 0", "--width: \"0\" is not a size in pixels (1 to 8192).\n"},
      {"--height 8193", "--height: \"8193\" is not a size in pixels (1 to 8192).\n"},
      {"--height", "\"--height\" needs a value.\n"},
  };
  for (const auto& [options, message] : refusals) {
    const bool spectrum_option = options.rfind("--at", 0) == 0;
    const Outcome refused = Cli((spectrum_option ? "spectrum " : "spectrogram ") + Quote(in) + " " +
                                (spectrum_option ? "" : Quote(out) + " ") + options);
    EXPECT_EQ(refused.code, 2) << options;
    EXPECT_EQ(refused.err, message) << options;
  }
  EXPECT_EQ(ReadBytes(out), before);
  Sox("-D -r 8000 -n -c 3 -b 16 " + Quote(Path("three.wav")) + " synth 0.5 sine 100");
  const Outcome three = Cli("spectrum " + Quote(Path("three.wav")));
  EXPECT_EQ(three.code, 2);
  EXPECT_EQ(three.err, "The frequency analysis takes mono and stereo sounds only; \"" + Path("three.wav") +
                           "\" has 3 channels.\n");
}

}  // namespace
}  // namespace sonavel
