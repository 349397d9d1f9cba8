// The encoders: their exact command lines from the stored settings, their dialogs' records,
// and saves through them decoded again by the peers (mpg123, oggdec, flac).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/encoders.h"
#include "formats/pump.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/ui.h"
#include "sox_peer.h"

namespace sonavel::testing {
namespace {

using namespace setting;

class EncodersTest : public FormatTest {
 protected:
  void SetUp() override {
    FormatTest::SetUp();
    registry_.emplace(Path("user"), Path("machine"));
    settings_.emplace(*registry_);
  }
  void Store(const RangedSetting& key, const std::string& value) {
    settings_->WriteValue(key.key.group, key.key.name, value);
  }
  std::string Mp3(std::int32_t rate, std::uint8_t channels) {
    const EncoderCommand command = Mp3EncoderCommand("/usr/bin/lame", "/tmp/my song.mp3", rate, channels, *settings_);
    return command.Text() + " @" + std::to_string(command.rate) + "/" + std::to_string(command.channels);
  }
  std::string Ogg(std::int32_t rate, std::uint8_t channels) {
    return OggEncoderCommand("oggenc", "o.ogg", rate, channels, *settings_).Text();
  }

  std::optional<Registry> registry_;
  std::optional<Settings> settings_;
};

TEST_F(EncodersTest, Mp3RateChannelAndModeRules) {
  // Constant 128 kbit/s (the defaults): 40000 Hz is encoded at 44100 Hz.
  EXPECT_EQ(Mp3(40000, 2), "\"/usr/bin/lame\" -m j -b 128 -h -r -x -s 44.100 -S - \"/tmp/my song.mp3\" @44100/2");
  EXPECT_EQ(Mp3(96000, 2), "\"/usr/bin/lame\" -m j -b 128 -h -r -x -s 48.000 -S - \"/tmp/my song.mp3\" @48000/2");
  EXPECT_TRUE(Mp3EncoderCommand("lame", "o.mp3", 44100, 2, *settings_).big_endian);
  // Constant 16 kbit/s at 12000 Hz: mono at 11025 Hz, mode "m" without " -a".
  Store(kMp3CbrBitRate, "16");
  Store(kMp3HighQuality, "0");
  EXPECT_EQ(Mp3(12000, 2), "\"/usr/bin/lame\" -m m -b 16 -r -x -s 11.025 -S - \"/tmp/my song.mp3\" @11025/1");
  // Below 32 kbit/s nothing goes beyond 22050 Hz.
  EXPECT_EQ(Mp3(44100, 2), "\"/usr/bin/lame\" -m m -b 16 -r -x -s 22.050 -S - \"/tmp/my song.mp3\" @22050/1");
  // Variable: a maximum above 160 lifts a minimum below 32 and takes low rates to 44100 Hz;
  // forced mono of a stereo sound says " -a".
  Store(kMp3ConstantBitRate, "0");
  Store(kMp3VbrMinBitRate, "8");
  Store(kMp3VbrMaxBitRate, "192");
  Store(kMp3VbrQuality, "2");
  Store(kMp3ErrorProtection, "1");
  Store(kMp3ChannelMode, "3");
  EXPECT_EQ(Mp3(22050, 2),
            "\"/usr/bin/lame\" -a -m m -p -v -b 32 -B 192 -V 2 -r -x -s 44.100 -S - \"/tmp/my song.mp3\" @44100/2");
  // Rates between the MPEG rates go to the next one up; a stored mode beyond 3 is joint.
  Store(kMp3VbrMaxBitRate, "128");
  Store(kMp3VbrMinBitRate, "32");
  Store(kMp3ChannelMode, "7");
  Store(kMp3ErrorProtection, "0");
  EXPECT_EQ(Mp3(24500, 2), "\"/usr/bin/lame\" -m j -v -b 32 -B 128 -V 2 -r -x -s 32.000 -S - \"/tmp/my song.mp3\" @32000/2");
  EXPECT_EQ(Mp3(6000, 1), "\"/usr/bin/lame\" -m m -v -b 32 -B 128 -V 2 -r -x -s 8.000 -S - \"/tmp/my song.mp3\" @8000/1");
  // A stored bit rate out of its range reads as the default.
  Store(kMp3ConstantBitRate, "1");
  Store(kMp3CbrBitRate, "999");
  EXPECT_EQ(Mp3(44100, 1), "\"/usr/bin/lame\" -m m -b 128 -r -x -s 44.100 -S - \"/tmp/my song.mp3\" @44100/1");
}

TEST_F(EncodersTest, OggFlacAacAndAmrCommandLines) {
  // With nothing stored the sound's own channels are kept (no downmix).
  EXPECT_EQ(Ogg(44100, 2), "\"oggenc\" -C 2 -R 44100 -q 4 -Q - -o \"o.ogg\"");
  Store(kOggQualityMode, "0");
  Store(kOggVbrMinBitRate, "96");
  Store(kOggVbrMaxBitRate, "500");
  Store(kOggChannels, "2");
  EXPECT_EQ(Ogg(44100, 2), "\"oggenc\" -C 2 -R 44100 -m 96 -M 396 -Q - -o \"o.ogg\"");
  Store(kOggChannels, "1");
  Store(kOggStripComments, "1");
  EXPECT_EQ(Ogg(44100, 2), "\"oggenc\" -C 2 -R 44100 --downmix -m 96 -M 198 --discard-comments -Q - -o \"o.ogg\"");
  // The minimum never exceeds the maximum the rate can carry.
  Store(kOggVbrMinBitRate, "224");
  EXPECT_EQ(Ogg(8000, 1), "\"oggenc\" -C 1 -R 8000 -m 36 -M 36 --discard-comments -Q - -o \"o.ogg\"");

  // FLAC keeps the sound's rate and channels until some are stored.
  const EncoderCommand flac = FlacEncoderCommand("flac", "o.flac", 48000, 2, *settings_);
  EXPECT_EQ(flac.Text(),
            "\"flac\" --channels=2 --sample-rate=48000 --compression-level-4 --endian=little --bps=16 --sign=signed "
            "-f - -o \"o.flac\"");
  Store(kFlacChannels, "1");
  Store(kFlacSampleRate, "22050");
  Store(kFlacCompression, "8");
  EXPECT_EQ(FlacEncoderCommand("flac", "o.flac", 48000, 2, *settings_).Text(),
            "\"flac\" --channels=1 --sample-rate=22050 --compression-level-8 --endian=little --bps=16 --sign=signed "
            "-f - -o \"o.flac\"");
  EXPECT_EQ(EncoderInputFormat(".flac", 48000, 2, *settings_), DefaultFormat(22050, 1));

  EXPECT_EQ(AacEncoderCommand("aacenc", "o.m4a", 44100, 2, *settings_).Text(),
            "\"aacenc\" -C 2 -R 44100 -q 100 -X - -o \"o.m4a\"");
  Store(kAacAverageBitRate, "1");
  Store(kAacAbrBitRate, "320");
  Store(kAacForceMpeg2, "1");
  Store(kAacDisableTns, "1");
  EXPECT_EQ(AacEncoderCommand("aacenc", "o.aac", 22050, 1, *settings_).Text(),
            "\"aacenc\" -C 1 -R 22050 -b 99 --mpeg-vers 2 --no-tns -X - -o \"o.aac\"");

  EXPECT_EQ(AmrEncoderCommand("amrenc", "/tmp/Temp1.wav", "o.amr", *settings_).Text(),
            "\"amrenc\" MR74 \"/tmp/Temp1.wav\" \"o.amr\"");
  Store(kAmrModeRateSelection, "7");
  const EncoderCommand stream = AmrEncoderCommand("amrenc", "", "o.amr", *settings_);
  EXPECT_EQ(stream.Text(), "\"amrenc\" MR122 - \"o.amr\"");
  EXPECT_EQ(stream.arguments, (std::vector<std::string>{"amrenc", "MR122", "-", "o.amr"}));
  EXPECT_EQ(EncoderInputFormat(".amr", 44100, 2, *settings_), DefaultFormat(8000, 1));
}

TEST_F(EncodersTest, DialogsShowTheRecordAndStoreWhatWasAccepted) {
  ScriptedUi ui;
  // Cancel stores nothing.
  EXPECT_FALSE(RunEncoderOptions(".mp3", ui, *settings_));
  EXPECT_FALSE(settings_->ReadStored(kMp3CbrBitRate));
  ASSERT_EQ(ui.encoder_dialogs().size(), 1u);
  const EncoderDialog& mp3 = ui.encoder_dialogs()[0];
  EXPECT_EQ(mp3.name, "LMp3EncodeDlg");
  ASSERT_EQ(mp3.controls.size(), 8u);
  EXPECT_EQ(mp3.controls[1].choices.size(), 18u);
  EXPECT_EQ(mp3.controls[5].choices.front().text, "0 (Höchste)");
  EXPECT_EQ(mp3.controls[5].choices.back().text, "9 (Niedrigste)");

  ui.QueueEncoderAnswer(ScriptedUi::EncoderAnswer{{"CBRBitRate", 192}, {"ChannelMode", 0}});
  EXPECT_TRUE(RunEncoderOptions(".mp3", ui, *settings_));
  EXPECT_EQ(settings_->Read(kMp3CbrBitRate), 192);
  EXPECT_EQ(settings_->Read(kMp3ChannelMode), 0);

  // FLAC opens with the sound's rate and channels; a typed 0 Hz stores 44100.
  ui.QueueEncoderAnswer(ScriptedUi::EncoderAnswer{});
  EXPECT_TRUE(RunEncoderOptions(".flac", ui, *settings_, 32000, 2));
  EXPECT_EQ(settings_->Read(kFlacSampleRate), 32000);
  EXPECT_EQ(settings_->Read(kFlacChannels), 2);
  ui.QueueEncoderAnswer(ScriptedUi::EncoderAnswer{{"SampleRate", 0}});
  EXPECT_TRUE(RunEncoderOptions(".flac", ui, *settings_, 32000, 2));
  EXPECT_EQ(settings_->Read(kFlacSampleRate), 44100);

  // The AMR mode list always opens on 7.4.
  Store(kAmrModeRateSelection, "1");
  ui.QueueEncoderAnswer(ScriptedUi::EncoderAnswer{});
  EXPECT_TRUE(RunEncoderOptions(".amr", ui, *settings_));
  EXPECT_EQ(ui.encoder_dialogs().back().controls[0].choices[4].text, "7.4");
  EXPECT_EQ(settings_->Read(kAmrModeRateSelection), 4);

  EXPECT_EQ(EncoderValueRefusal(".mp3", "CBRBitRate", "192"), "");
  EXPECT_EQ(EncoderValueRefusal(".mp3", "CBRBitRate", "400"), "CBRBitRate: \"400\" is out of range (8 to 320).");
  EXPECT_EQ(EncoderValueRefusal(".ogg", "VBRQuality", "5x"), "VBRQuality: \"5x\" is not a whole number (0 to 10).");
  EXPECT_NE(EncoderValueRefusal(".ogg", "CBRBitRate", "128"), "");
}

// The peers' decoding of our saves.
class EncoderPeerTest : public EncodersTest {
 protected:
  // A 2-second stereo sound, a tone and a sweep, made by sox (white noise would lose its
  // top above the encoders' low-pass and correlate less).
  std::string Source() {
    const std::string wav = Path("source.wav");
    Sox("-n -r 44100 -c 2 -b 16 -e signed " + Quote(wav) +
        " synth 2 sine 440 sine 200-4000 gain -3");
    return wav;
  }
  Result Save(const std::string& wav, const std::string& out) {
    SourceRef reader = OpenFormatReader(wav);
    const OpenOptions options{&*settings_, std::nullopt};
    const WaveFormat format = SaveFormatFor(out, DefaultFormat(44100, 2), options);
    EXPECT_EQ(format, DefaultFormat(44100, 2));
    SilentProgress progress;
    return SaveSource(reader, format, out, progress, options);
  }
  std::vector<std::int16_t> Raw(const std::string& path) { return Samples16(ReadBytes(path)); }
};


TEST_F(EncoderPeerTest, Mp3AndOggSavesDecodeAsTheSourceAndFlacIsBitExact) {
  const std::string wav = Source();
  const std::vector<std::int16_t> source = Samples16(ParseWav(ReadBytes(wav)).data);
  ASSERT_EQ(source.size(), 2u * 88200);

  const std::string mp3 = Path("out put.mp3");
  ASSERT_EQ(Save(wav, mp3), kDone);
  ASSERT_EQ(RunCommand("mpg123 -q -s " + Quote(mp3) + " > " + Quote(Path("mp3.raw"))), 0);
  EXPECT_GT(BestCorrelation(source, Raw(Path("mp3.raw"))), 0.99);

  const std::string ogg = Path("out put.ogg");
  ASSERT_EQ(Save(wav, ogg), kDone);
  ASSERT_EQ(RunCommand("oggdec -Q -R -o " + Quote(Path("ogg.raw")) + " " + Quote(ogg)), 0);
  const std::vector<std::int16_t> vorbis = Raw(Path("ogg.raw"));
  EXPECT_EQ(vorbis.size(), source.size());
  EXPECT_GT(BestCorrelation(source, vorbis), 0.99);

  const std::string flac = Path("out put.flac");
  ASSERT_EQ(Save(wav, flac), kDone);
  ASSERT_EQ(RunCommand("flac -s -d -f --force-raw-format --endian=little --sign=signed -o " + Quote(Path("flac.raw")) +
                       " " + Quote(flac)),
            0);
  EXPECT_EQ(Raw(Path("flac.raw")), source);
}

// The AAC encoder (our adapter over ffmpeg) takes its container from the name it writes:
// ADTS for ".aac", MPEG-4 for ".m4a", although the save writes under a temporary name.
TEST_F(EncoderPeerTest, AacSavesGetTheirContainerAndDecodeAsTheSource) {
  ScopedEnvironment user("SONAVEL_CONFIG_DIR", Path("config"));
  ScopedEnvironment machine("SONAVEL_SYSTEM_CONFIG_DIR", Path("system"));
  ASSERT_TRUE(Registry().Set(Branch::kUser, ComponentKey("aacenc"), "Path", SONAVEL_ADAPTER_DIR "/sonavel-aacenc"));
  const std::string wav = Source();
  const std::vector<std::int16_t> source = Samples16(ParseWav(ReadBytes(wav)).data);
  for (const auto& [name, container] : {std::pair{"out put.aac", "aac"}, std::pair{"out put.m4a", "mov,mp4"}}) {
    SCOPED_TRACE(name);
    const std::string out = Path(name);
    ASSERT_EQ(Save(wav, out), kDone);
    std::string format;
    ASSERT_EQ(RunForOutput({FindProgram("ffprobe"), "-v", "error", "-show_entries", "format=format_name", "-of",
                            "default=noprint_wrappers=1:nokey=1", out},
                           format, 4096),
              0);
    EXPECT_EQ(format.rfind(container, 0), 0u) << format;
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -i " + Quote(out) + " -f s16le -y " + Quote(Path("aac.raw"))), 0);
    EXPECT_GT(BestCorrelation(source, Raw(Path("aac.raw"))), 0.99);
  }
}

TEST_F(EncoderPeerTest, AmrEncodesAFinishedWavAndAMissingEncoderIsAskedFor) {
  std::filesystem::create_directories(Path("tmp"));
  std::filesystem::create_directories(Path("bin"));
  ScopedEnvironment user("SONAVEL_CONFIG_DIR", Path("config"));
  ScopedEnvironment machine("SONAVEL_SYSTEM_CONFIG_DIR", Path("system"));
  ScopedEnvironment temporary("TMPDIR", Path("tmp"));
  Registry registry;
  // A stand-in encoder that notes its command line and copies the WAV it is given.
  const std::string encoder = Path("amrenc");
  WriteBytes(encoder, {});
  std::filesystem::permissions(encoder, std::filesystem::perms::owner_all);
  auto script = [&](const std::string& body) {
    const std::string text = "#!/bin/sh\necho \"$@\" > '" + Path("args") + "'\n" + body + "\n";
    WriteBytes(encoder, std::vector<std::uint8_t>(text.begin(), text.end()));
  };
  ASSERT_TRUE(registry.Set(Branch::kUser, ComponentKey("amrenc"), "Path", encoder));
  const std::string wav = Path("voice.wav");
  Sox("-n -r 8000 -c 1 -b 16 -e signed " + Quote(wav) + " synth 0.5 sine 300");
  const std::string amr = Path("voice.amr");
  auto save = [&] {
    SilentProgress progress;
    const OpenOptions options{&*settings_, std::nullopt};
    EXPECT_EQ(SaveFormatFor(amr, DefaultFormat(44100, 2), options), DefaultFormat(8000, 1));
    return SaveSource(OpenFormatReader(wav), DefaultFormat(8000, 1), amr, progress, options);
  };
  script("/bin/cp \"$2\" \"$3\"");
  ASSERT_EQ(save(), kDone);
  const std::vector<std::uint8_t> args = ReadBytes(Path("args"));
  EXPECT_EQ(std::string(args.begin(), args.begin() + 5), "MR74 ");
  EXPECT_EQ(ParseWav(ReadBytes(amr)).data, ParseWav(ReadBytes(wav)).data);
  EXPECT_TRUE(std::filesystem::is_empty(Path("tmp")));  // the WAV went with the save
  // A failing encoder leaves the old file as it was.
  script("echo broken > \"$3\"; exit 1");
  WriteBytes(amr, {'o', 'l', 'd'});
  EXPECT_EQ(save(), kFailed);
  EXPECT_EQ(ReadBytes(amr), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_TRUE(std::filesystem::is_empty(Path("tmp")));

  // Without oggenc the save asks for it under "Install-on-Demand"; hosts that refuse leave
  // it missing, which is told, and ".ogg" is then not writable.
  Settings settings(registry);
  settings.Write(kComponentsHost, "127.0.0.1:9");
  settings.Write(kMainHost, "127.0.0.1:9");
  ScopedEnvironment path("PATH", Path("bin"));
  ScriptedUi ui;
  EXPECT_FALSE(CheckWritable(Path("x.ogg"), ui));
  EXPECT_NE(std::find(ui.requests().begin(), ui.requests().end(), "progress Install-on-Demand"), ui.requests().end());
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_TRUE(ui.shown()[0].text.starts_with(
      "Sonavel kann die benötigte Install-On-Demand Komponente nicht installieren \"oggenc\""));
  // Our own writers need nothing.
  EXPECT_TRUE(CheckWritable(Path("x.wav"), ui));
  EXPECT_EQ(ui.shown().size(), 1u);
}

}  // namespace
}  // namespace sonavel::testing
