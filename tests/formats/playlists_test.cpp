// Publishing saves: the exact playlist and feed texts after real saves through lame, the
// escapes that keep them valid, the MP3 beside them decoded by mpg123, and saves that fail
// without touching the old files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "formats/playlists.h"
#include "formats/pump.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/ui.h"
#include "sox_peer.h"

namespace sonavel::testing {
namespace {

using namespace setting;

class PlaylistsTest : public FormatTest {
 protected:
  void SetUp() override {
    FormatTest::SetUp();
    registry_.emplace(Path("user"), Path("machine"));
    settings_.emplace(*registry_);
  }
  // Saves `wav` as `target` with the root address `root`, the way the editor's save does.
  Result Publish(const std::string& wav, const std::string& target, const std::string& root) {
    settings_->Write(kRssRootUrl, root);
    SourceRef reader = OpenFormatReader(wav);
    const OpenOptions options{&*settings_, std::nullopt};
    const WaveFormat format =
        SaveFormatFor(target, DefaultFormat(static_cast<std::uint32_t>(reader->rate), reader->channels), options);
    // The sounds here are at rates the MP3 encoder takes as they are.
    EXPECT_EQ(format.rate, static_cast<std::uint32_t>(reader->rate));
    SilentProgress progress;
    return SaveSource(reader, format, target, progress, options);
  }
  std::string Text(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }
  // The files left in the test's folder whose names hold `part`.
  int FilesNamed(const std::string& part) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Path("")))
      if (entry.path().filename().string().find(part) != std::string::npos) ++count;
    return count;
  }

  std::optional<Registry> registry_;
  std::optional<Settings> settings_;
};

// Each kind's exact bytes for a sound of 90.9 s (listed as 90), with the three forms of the
// root address, and the feed's enclosure length the finished MP3's size.
TEST_F(PlaylistsTest, EachKindWritesItsExactTextBesideTheMp3) {
  const std::string wav = Path("source.wav");
  Sox("-n -r 8000 -c 1 -b 16 -e signed " + Quote(wav) + " synth 90.9 sine 440 gain -6");
  settings_->Write(kMp3CbrBitRate, 32);
  const std::string mp3 = Path("talk.mp3");

  ASSERT_EQ(Publish(wav, Path("talk.m3u"), "http://example.org/pod"), kDone);
  EXPECT_EQ(Text(Path("talk.m3u")), "#EXTM3U\r\n#EXTINF:90,talk\r\nhttp://example.org/pod/talk.mp3\r\n");
  // 90.9 s at 32 kbit/s: about 364 000 bytes.
  EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(mp3)), 363600, 4000);

  ASSERT_EQ(Publish(wav, Path("talk.pls"), ""), kDone);
  EXPECT_EQ(Text(Path("talk.pls")),
            "[playlist]\r\nFile1=talk.mp3\r\nTitle1=talk\r\nLength1=90\r\nNumberOfEntries=1\r\nVersion=2\r\n");

  ASSERT_EQ(Publish(wav, Path("talk.wpl"), "http://example.org/pod/"), kDone);
  EXPECT_EQ(Text(Path("talk.wpl")),
            "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n        <title>talk</title>\r\n    </head>\r\n"
            "    <body>\r\n        <seq>\r\n            <media src=\"http://example.org/pod/talk.mp3\"/>\r\n"
            "        </seq>\r\n    </body>\r\n</smil>\r\n");

  ASSERT_EQ(Publish(wav, Path("talk.rss"), "http://example.org/pod"), kDone);
  const std::string size = std::to_string(std::filesystem::file_size(mp3));
  EXPECT_EQ(Text(Path("talk.rss")),
            "<?xml version=\"1.0\" ?>\r\n<rss version=\"2.0\">\r\n  <channel>\r\n      <title>talk</title>\r\n"
            "      <description>talk</description>\r\n      <link>http://example.org/pod</link>\r\n"
            "      <item>\r\n         <title>talk</title>\r\n         <description>talk</description>\r\n"
            "         <enclosure url=\"http://example.org/pod/talk.mp3\" length=\"" +
                size +
                "\" type=\"audio/mpeg\" />\r\n      </item>\r\n  </channel>\r\n</rss>\r\n");
  // Nothing of the temporary files is left.
  EXPECT_EQ(FilesNamed(".part-"), 0);
}

// Names and addresses with "&", "<", '"', blanks and line breaks: XML stays valid for
// xmllint, addresses are percent-encoded, playlist lines stay whole; the published MP3
// decodes as the source in mpg123.
TEST_F(PlaylistsTest, EscapedTextsStayValidAndTheMp3DecodesAsTheSource) {
  const std::string wav = Path("source.wav");
  Sox("-n -r 44100 -c 2 -b 16 -e signed " + Quote(wav) + " synth 2 sine 440 sine 200-4000 gain -3");
  const std::string root = "http://example.org/p?a=1&b=\"<2>\"";
  for (const char* name : {"Tom & Jerry <\"live\">.wpl", "Tom & Jerry <\"live\">.rss"}) {
    ASSERT_EQ(Publish(wav, Path(name), root), kDone) << name;
    EXPECT_EQ(RunCommand("xmllint --noout " + Quote(Path(name)) + " 2>/dev/null"), 0) << Text(Path(name));
  }
  const std::string feed = Text(Path("Tom & Jerry <\"live\">.rss"));
  EXPECT_NE(feed.find("<title>Tom &amp; Jerry &lt;&quot;live&quot;&gt;</title>"), std::string::npos) << feed;
  EXPECT_NE(feed.find("<link>http://example.org/p?a=1&amp;b=&quot;&lt;2&gt;&quot;</link>"), std::string::npos);
  EXPECT_NE(feed.find("url=\"http://example.org/p?a=1&amp;b=&quot;&lt;2&gt;&quot;/"
                      "Tom%20%26%20Jerry%20%3C%22live%22%3E.mp3\""),
            std::string::npos);

  const std::vector<std::int16_t> source = Samples16(ParseWav(ReadBytes(wav)).data);
  const std::string mp3 = Path("Tom & Jerry <\"live\">.mp3");
  ASSERT_EQ(RunCommand("mpg123 -q -s " + Quote(mp3) + " > " + Quote(Path("mp3.raw"))), 0);
  EXPECT_GT(BestCorrelation(source, Samples16(ReadBytes(Path("mp3.raw")))), 0.99);

  // A line break in a value would start a line of its own in M3U and PLS.
  const PublishedItem item{5, "two\nlines.mp3", "", 0};
  EXPECT_EQ(PublishingText(PublishingKind::kM3u, item), "#EXTM3U\r\n#EXTINF:5,two lines\r\ntwo lines.mp3\r\n");
  const PublishedItem rooted{5, "a\r\nb.mp3", "http://h/x\n", 0};
  EXPECT_EQ(PublishingText(PublishingKind::kPls, rooted),
            "[playlist]\r\nFile1=http://h/x /a%0D%0Ab.mp3\r\nTitle1=a  b\r\nLength1=5\r\nNumberOfEntries=1\r\n"
            "Version=2\r\n");
}

// A target that cannot be created, or an encoder that fails, fails the save: the old MP3
// and playlist stay as they were and no temporary file is left.
TEST_F(PlaylistsTest, FailedSavesLeaveTheOldFiles) {
  const std::string wav = Path("source.wav");
  Sox("-n -r 8000 -c 1 -b 16 -e signed " + Quote(wav) + " synth 1 sine 440");
  EXPECT_EQ(Publish(wav, Path("missing/talk.rss"), ""), kFailed);
  EXPECT_FALSE(std::filesystem::exists(Path("missing/talk.mp3")));

  std::ofstream(Path("talk.mp3")) << "old mp3";
  std::ofstream(Path("talk.m3u")) << "old list";
  ScopedEnvironment user("SONAVEL_CONFIG_DIR", Path("config"));
  ScopedEnvironment machine("SONAVEL_SYSTEM_CONFIG_DIR", Path("system"));
  ASSERT_TRUE(Registry().Set(Branch::kUser, ComponentKey("mp3el"), "Path", "/bin/false"));
  EXPECT_EQ(Publish(wav, Path("talk.m3u"), ""), kFailed);
  EXPECT_EQ(Text(Path("talk.mp3")), "old mp3");
  EXPECT_EQ(Text(Path("talk.m3u")), "old list");
  EXPECT_EQ(FilesNamed(".part-"), 0);
}

// The options before a save: the feed's and the playlists' titles, the stored address, the
// MP3 settings behind the button, and OK storing "RootURL"; cancel stores nothing.
TEST_F(PlaylistsTest, OptionsDialogStoresTheRootAndOpensTheMp3Settings) {
  ScriptedUi ui;
  settings_->Write(kRssRootUrl, "http://old.example.org");
  ui.QueuePublishingAnswer(ScriptedUi::PublishingAnswer{"http://example.org/pod", true});
  ui.QueueEncoderAnswer(ScriptedUi::EncoderAnswer{{"CBRBitRate", 64}});
  WaveFormat wav_format = DefaultFormat(44100, 2);
  OpenOptions options;
  ASSERT_TRUE(RunFormatOptions(Path("talk.rss"), 44100, 2, ui, *settings_, wav_format, options));
  ASSERT_EQ(ui.publishing_dialogs().size(), 1u);
  EXPECT_EQ(ui.publishing_dialogs()[0].name, "LPlaylistEncodeDlg");
  EXPECT_EQ(ui.publishing_dialogs()[0].title, "Dateieinstellungen RSS Podcast");
  EXPECT_EQ(ui.publishing_dialogs()[0].root_url, "http://old.example.org");
  ASSERT_EQ(ui.encoder_dialogs().size(), 1u);
  EXPECT_EQ(ui.encoder_dialogs()[0].name, "LMp3EncodeDlg");
  EXPECT_EQ(settings_->Read(kRssRootUrl), "http://example.org/pod");
  EXPECT_EQ(settings_->Read(kMp3CbrBitRate), 64);

  for (const char* playlist : {"a.m3u", "a.pls", "a.wpl"}) {
    EXPECT_FALSE(RunFormatOptions(Path(playlist), 44100, 2, ui, *settings_, wav_format, options));
    EXPECT_EQ(ui.publishing_dialogs().back().title, "Dateieinstellungen Abspielliste");
  }
  EXPECT_EQ(settings_->Read(kRssRootUrl), "http://example.org/pod");
  // The sound goes to the MP3 encoder at its rate and channels: 40000 Hz becomes 44100 Hz.
  EXPECT_EQ(SaveFormatFor(Path("a.rss"), DefaultFormat(40000, 2), OpenOptions{&*settings_, std::nullopt}),
            DefaultFormat(44100, 2));
}

}  // namespace
}  // namespace sonavel::testing
