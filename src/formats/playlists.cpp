#include "formats/playlists.h"

#include <filesystem>
#include <memory>
#include <utility>

#include "formats/components.h"
#include "formats/encoders.h"
#include "formats/open_file.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

constexpr std::string_view kMp3Extension = ".mp3";

struct KindEntry {
  PublishingKind kind;
  std::string_view extension;
  std::string_view name;  // shown by `info`
};
constexpr KindEntry kKinds[] = {
    {PublishingKind::kRss, ".rss", "RSS Podcast"},
    {PublishingKind::kM3u, ".m3u", "M3U Playlist"},
    {PublishingKind::kPls, ".pls", "PLS Playlist"},
    {PublishingKind::kWpl, ".wpl", "WPL Playlist"},
};

const KindEntry& EntryOf(PublishingKind kind) {
  for (const KindEntry& entry : kKinds)
    if (entry.kind == kind) return entry;
  return kKinds[0];
}

// The position of the extension's dot in the last path component, npos when there is none.
std::size_t ExtensionDot(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string::npos;
  return dot;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A value of an M3U or PLS line: a line break inside would start a line of its own.
std::string LineValue(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

// Text or an attribute value for XML. Control characters other than tab and line breaks
// cannot appear in XML at all; they become blanks.
std::string XmlValue(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default:
        const auto byte = static_cast<unsigned char>(c);
        escaped += byte < 0x20 && c != '\t' && c != '\n' && c != '\r' ? ' ' : c;
    }
  }
  return escaped;
}

// Every byte but the unreserved characters of a URL as %XX.
std::string PercentEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xF];
    }
  }
  return encoded;
}

// Hands the frames to the MP3 encoder, which writes the temporary sibling of the MP3; on
// Finish the MP3 replaces its old file only when the encoder ended well, and the playlist
// or feed is written into the save's own file, which the save then commits.
class PublishingSink final : public EncoderOutputSink {
 public:
  PublishingSink(PublishingKind kind, SinkRef encoder, std::unique_ptr<ReplacingFile> mp3, std::string mp3_name,
                 File text, std::string root_url)
      : EncoderOutputSink(std::move(encoder)),
        kind_(kind),
        mp3_(std::move(mp3)),
        mp3_name_(std::move(mp3_name)),
        text_(std::move(text)),
        root_url_(std::move(root_url)) {}
  ~PublishingSink() override {
    encoder_.Reset();  // an unfinished encoder is ended before its file is removed
  }
  void Finish() override {
    encoder_->Finish();
    Mirror();
    if (status != kStatusOk) return;
    PublishedItem item;
    item.seconds = std::int64_t{encoder_->position} / encoder_->rate;
    item.mp3_name = mp3_name_;
    item.root_url = root_url_;
    std::error_code error;
    item.mp3_bytes = static_cast<std::int64_t>(std::filesystem::file_size(mp3_->temporary_path(), error));
    const std::string text = PublishingText(kind_, item);
    // The text first: a playlist that could not be written leaves the old MP3 in place.
    if (error || !text_.Write(text.data(), text.size()) || !mp3_->Commit()) status |= kSinkWriteFailed;
  }

 private:
  PublishingKind kind_;
  std::unique_ptr<ReplacingFile> mp3_;
  std::string mp3_name_;
  File text_;
  std::string root_url_;
};

}  // namespace

std::optional<PublishingKind> PublishingKindOf(std::string_view extension) {
  for (const KindEntry& entry : kKinds)
    if (entry.extension == extension) return entry.kind;
  return std::nullopt;
}

std::string PublishedMp3Path(const std::string& target) {
  const std::size_t dot = ExtensionDot(target);
  return (dot == std::string::npos ? target : target.substr(0, dot)) + std::string(kMp3Extension);
}

std::string PublishedTitle(const PublishedItem& item) {
  const std::size_t dot = ExtensionDot(item.mp3_name);
  return dot == std::string::npos ? item.mp3_name : item.mp3_name.substr(0, dot);
}

std::string PublishedLocation(const PublishedItem& item) {
  if (item.root_url.empty()) return item.mp3_name;
  const std::string slash = item.root_url.back() == '/' ? "" : "/";
  return item.root_url + slash + PercentEncoded(item.mp3_name);
}

std::string PublishingText(PublishingKind kind, const PublishedItem& item) {
  const std::string seconds = std::to_string(item.seconds);
  const std::string title = PublishedTitle(item);
  const std::string location = PublishedLocation(item);
  switch (kind) {
    case PublishingKind::kM3u:
      return "#EXTM3U\r\n#EXTINF:" + seconds + "," + LineValue(title) + "\r\n" + LineValue(location) + "\r\n";
    case PublishingKind::kPls:
      return "[playlist]\r\nFile1=" + LineValue(location) + "\r\nTitle1=" + LineValue(title) + "\r\nLength1=" +
             seconds + "\r\nNumberOfEntries=1\r\nVersion=2\r\n";
    case PublishingKind::kWpl:
      return "<?wpl version=\"1.0\"?>\r\n<smil>\r\n    <head>\r\n        <title>" + XmlValue(title) +
             "</title>\r\n    </head>\r\n    <body>\r\n        <seq>\r\n            <media src=\"" +
             XmlValue(location) + "\"/>\r\n        </seq>\r\n    </body>\r\n</smil>\r\n";
    case PublishingKind::kRss: {
      const std::string xml_title = XmlValue(title);
      return "<?xml version=\"1.0\" ?>\r\n<rss version=\"2.0\">\r\n  <channel>\r\n      <title>" + xml_title +
             "</title>\r\n      <description>" + xml_title + "</description>\r\n      <link>" +
             XmlValue(item.root_url) + "</link>\r\n      <item>\r\n         <title>" + xml_title +
             "</title>\r\n         <description>" + xml_title + "</description>\r\n         <enclosure url=\"" +
             XmlValue(location) + "\" length=\"" + std::to_string(item.mp3_bytes) +
             "\" type=\"audio/mpeg\" />\r\n      </item>\r\n  </channel>\r\n</rss>\r\n";
    }
  }
  return {};
}

SinkRef CreatePublishingWriter(PublishingKind kind, const WaveFormat& format, const std::string& target,
                               const std::string& file, const OpenOptions& options) {
  if (target.empty()) return MakeNullSink();
  File text(file, File::Mode::kCreate);
  if (!text.IsOpen()) return MakeNullSink();
  const std::string mp3_path = PublishedMp3Path(target);
  auto mp3 = std::make_unique<ReplacingFile>(mp3_path);
  if (!mp3->IsOpen()) return MakeNullSink();
  Registry registry;
  const std::optional<std::string> executable = FindComponent(registry, kMp3Encoder);
  if (!executable) return MakeNullSink();
  const SettingsReader& settings = SettingsOf(options);
  const EncoderCommand command =
      Mp3EncoderCommand(*executable, mp3->temporary_path(), static_cast<std::int32_t>(format.rate),
                        static_cast<std::uint8_t>(format.channels), settings);
  SinkRef encoder = CreateEncoderSink(command.arguments, command.rate, command.channels, command.big_endian);
  return MakeCounted<PublishingSink>(kind, std::move(encoder), std::move(mp3), FileNameOf(mp3_path), std::move(text),
                                     settings.Read(setting::kRssRootUrl));
}

bool RunPublishingOptions(PublishingKind kind, Ui& ui, Settings& settings, int rate, int channels) {
  PublishingDialog dialog;
  dialog.title = kind == PublishingKind::kRss ? "Dateieinstellungen RSS Podcast" : "Dateieinstellungen Abspielliste";
  dialog.root_url = settings.Read(setting::kRssRootUrl);
  dialog.mp3_settings = [&ui, &settings, rate, channels] {
    RunEncoderOptions(kMp3Extension, ui, settings, rate, channels);
  };
  if (!ui.AskPublishingSettings(dialog)) return false;
  settings.Write(setting::kRssRootUrl, dialog.root_url);
  return true;
}

std::string RootUrlRefusal(std::string_view value) {
  for (const char c : value)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "RootURL: a line break or control character cannot be part of an address.";
  return {};
}

FileFormat PublishingFileFormat(PublishingKind kind) {
  FileFormat format;
  format.name = std::string(EntryOf(kind).name);
  format.extensions = {std::string(EntryOf(kind).extension)};
  format.component = kMp3Encoder;
  format.create = [kind](const WaveFormat& wave, const std::string& file, const OpenOptions& options) {
    return CreatePublishingWriter(kind, wave, options.target, file, options);
  };
  // The sound goes to the MP3 encoder: at its rate and channels.
  format.save_format = [](const WaveFormat& wave, const OpenOptions& options) {
    return EncoderInputFormat(kMp3Extension, static_cast<std::int32_t>(wave.rate),
                              static_cast<std::uint8_t>(wave.channels), SettingsOf(options));
  };
  format.ask_options = [kind](std::uint32_t rate, std::uint16_t channels, Ui& ui, Settings& settings) {
    return RunPublishingOptions(kind, ui, settings, static_cast<int>(rate), channels);
  };
  return format;
}

}  // namespace sonavel
