#pragma once
// Publishing: a sound saved as ".m3u", ".pls", ".wpl" or ".rss" is encoded as an MP3 beside
// the chosen file (same name, ".mp3"), and the chosen file becomes a one-entry playlist or
// podcast feed pointing to that MP3 under a configurable root address.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formats/format_table.h"

namespace sonavel {

class Settings;
class Ui;

enum class PublishingKind { kM3u, kPls, kWpl, kRss };

// The kind written for `extension` (lower case, with the dot); none for other extensions.
std::optional<PublishingKind> PublishingKindOf(std::string_view extension);

// The MP3 a publishing save of `target` writes: its extension replaced by ".mp3".
std::string PublishedMp3Path(const std::string& target);

// What a playlist or feed says about its one entry.
struct PublishedItem {
  std::int64_t seconds = 0;     // the sound's length, truncated
  std::string mp3_name;         // the MP3's file name without folder
  std::string root_url;         // the root address as stored
  std::int64_t mp3_bytes = 0;   // the finished MP3's size (the feed's enclosure length)
};

// The title (the MP3's name without its extension) and the location: the root address, a
// "/" unless it is empty or ends with one, and the file name, percent-encoded when a root
// address is set (a blank is no part of a URL).
std::string PublishedTitle(const PublishedItem& item);
std::string PublishedLocation(const PublishedItem& item);

// The whole text of the playlist or feed, lines ended by CR LF. WPL and RSS escape "&", "<",
// ">" and '"' (and blank out control characters, which XML cannot hold); M3U and PLS turn
// line breaks in their values into blanks, so that a value cannot start a line of its own.
std::string PublishingText(PublishingKind kind, const PublishedItem& item);

// The writer of a publishing save into `file` (the save's temporary file for `target`): the
// MP3 encoder ("mp3el") with the MP3 rate and channel rules writes a temporary sibling of
// the MP3, which replaces it only when the encoder ended well; then the text goes into
// `file`. A sink that has failed when the encoder is missing or `file` or the MP3's
// temporary file cannot be created; kSinkWriteFailed when the encoder or the text failed.
SinkRef CreatePublishingWriter(PublishingKind kind, const WaveFormat& format, const std::string& target,
                               const std::string& file, const OpenOptions& options);

// The publishing settings dialog "LPlaylistEncodeDlg" ("Dateieinstellungen Abspielliste",
// or "Dateieinstellungen RSS Podcast" for the feed) with the stored root address; its button
// opens the MP3 settings (with `rate` and `channels`). OK stores "RootURL"; false when
// cancelled.
bool RunPublishingOptions(PublishingKind kind, Ui& ui, Settings& settings, int rate, int channels);

// Why a root address given on the command line is refused, empty when it is taken: a line
// break or other control character cannot be part of an address.
std::string RootUrlRefusal(std::string_view value);

// The format entry of the kind: written only, through the MP3 encoder component.
FileFormat PublishingFileFormat(PublishingKind kind);

}  // namespace sonavel
