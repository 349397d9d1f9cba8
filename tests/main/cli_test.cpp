#include <gtest/gtest.h>

#include <algorithm>

#include "formats/stored_format.h"
#include "formats/wav_reader.h"
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
  void SetUp() override {
    FormatTest::SetUp();
    ::setenv("SONAVEL_DATA_DIR", Path("data").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("SONAVEL_DATA_DIR");
    FormatTest::TearDown();
  }

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

TEST_F(CliTest, FailuresExitWithTwoAndSayWhy) {
  Outcome missing = Cli("info " + Quote(Path("nope.wav")));
  EXPECT_EQ(missing.code, 2);
  EXPECT_EQ(missing.err, "Cannot open the file \"" + Path("nope.wav") + "\". Check it exists and you have read access.\n");
  WriteBytes(Path("junk.wav"), {'R', 'I', 'F', 'F', 1, 0, 0, 0, 'W', 'A', 'V', 'E'});
  Outcome corrupt = Cli("convert " + Quote(Path("junk.wav")) + " " + Quote(Path("x.wav")));
  EXPECT_EQ(corrupt.code, 2);
  EXPECT_EQ(corrupt.err, "Cannot open the file \"" + Path("junk.wav") + "\" because it is corrupt.\n");
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
  EXPECT_EQ(unwritable.err, "Kann Datei nicht erstellen\"" + Path("no/such/dir/z.wav") + "\"zum Speichern.\n");
  EXPECT_EQ(Cli("frobnicate").code, 2);
  // The run's block files are gone, and nothing was left in the working folder.
  int leftovers = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Path("data")))
    leftovers += entry.path().extension() == ".aud" || entry.path().extension() == ".grf" ||
                 entry.path().filename().string().rfind("cli-", 0) == 0;
  EXPECT_EQ(leftovers, 0);
}

}  // namespace
}  // namespace sonavel
