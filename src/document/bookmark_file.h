#pragma once
// The bookmark operations on a document, the regions made from its selection, and the
// ".wbm" sidecar that keeps a document's bookmarks next to its audio file.
//
// Sidecar (little-endian, no padding): version u8 = 2, count u8, then per bookmark the
// name and the source title as strings, position i32 (ms), use count u8, last used u32
// (seconds since 1970). A string is a length byte L (0 … 254), or 255 and L as u32,
// then L bytes of UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/audio_document.h"
#include "document/bookmarks.h"
#include "platform/byte_source.h"
#include "platform/dialog_model.h"

namespace sonavel {

// The string form of the sidecar, which projects store their texts in too: a length byte
// (0 … 254), or 255 and a u32 length, then the bytes. At most 259 bytes are written, cut at
// a character boundary.
void PutStoredText(std::vector<std::uint8_t>& out, std::string_view text);
// Reads one stored string into `text`: at most 519 bytes of it are kept and then at most
// 259 characters. False when the bytes end before the string does (`text` is then unset).
bool ReadStoredText(ByteSource& bytes, std::string& text);
// `text` cut to at most `bytes` bytes without splitting a UTF-8 character.
std::string_view CutUtf8(std::string_view text, std::size_t bytes);

// Seconds since 1970 now, as the bookmarks store them.
std::uint32_t BookmarkClock();

// Why no further bookmark can be added to a full list.
Message FullMessage();

// The last-used time as the lists show it: local "YYYY-MM-DD hh:mm:ss", a blank for 0.
std::string LastUsedText(std::uint32_t seconds);

// A frame as milliseconds (limited to the 32-bit field) and back; a position read back is
// limited to the sound, so a bookmark beyond its end (the sound got shorter) lands at the end.
std::int32_t FrameToBookmarkMs(const AudioDocument& document, std::int64_t frame);
std::int32_t BookmarkFrame(const AudioDocument& document, std::int32_t ms);

// Builds a bookmark at the cursor with the display title, use count 1 and `now`, inserts it
// sorted and marks the document modified. A message (and nothing added) when the document
// already holds the most bookmarks its sidecar can store.
std::optional<Message> AddBookmark(AudioDocument& document, std::string_view name,
                                   std::uint32_t now);
Bookmark* FindBookmark(AudioDocument& document, std::string_view name);
bool HasBookmark(const AudioDocument& document, std::string_view name);
// Removes every bookmark of that name; marks the document modified when any went.
bool RemoveBookmarks(AudioDocument& document, std::string_view name);
// Empties the list; marks the document modified when it had bookmarks.
bool RemoveAllBookmarks(AudioDocument& document);
std::size_t BookmarkCount(const AudioDocument& document);
// Renames the bookmark `old_name` to the sanitised `new_name`; false when it is not there.
// The caller has checked the new name (NewBookmarkNameProblem).
bool RenameBookmark(AudioDocument& document, std::string_view old_name, std::string_view new_name);
// Why `new_name` cannot be used as a bookmark's new name among `documents`, or none.
std::optional<Message> NewBookmarkNameProblem(const std::vector<const AudioDocument*>& documents,
                                              std::string_view new_name);
// A jump to the bookmark: its use count rises (wrapping), its last-used time becomes `now`,
// and the selection collapses at its position with the cursor there. False when the
// document has no bookmark of that name.
bool GoToBookmark(AudioDocument& document, std::string_view name, std::uint32_t now);

// The default names offered when a bookmark or a region is made.
std::string DefaultBookmarkName(const AudioDocument& document);
std::string DefaultRegionName(const AudioDocument& document);
// A region of the selection: its audio, the display title, start and end as milliseconds.
Region MakeRegion(const AudioDocument& document, std::string_view name);

// The sidecar of a document path: its extension (the last "." after the last "/" or "\",
// not at the start) replaced by ".wbm"; the path unchanged without one; at most 259 bytes.
std::string BookmarkSidecarPath(std::string_view document_path);

enum class BookmarkRead {
  kRead,       // version 2 or later; its bookmarks were added
  kTruncated,  // a record was cut short: the whole ones before it were added
  kOldVersion  // version 0 or 1 (or nothing at all): nothing read
};
// Adds the sidecar's bookmarks to `list`, sorted; beyond a full list they are dropped.
BookmarkRead ReadBookmarks(ByteSource& bytes, BookmarkList& list);
// The sidecar's bytes; none when the list holds more bookmarks than the count can say.
std::optional<std::vector<std::uint8_t>> BookmarkFileBytes(const BookmarkList& list);

// Reads the document's sidecar, if any, into its bookmarks. A sidecar that exists but
// cannot be read is remembered so that a save without bookmarks keeps it.
void LoadBookmarkFile(AudioDocument& document);
// Writes the document's bookmarks to its sidecar, or deletes the sidecar when there are
// none. A message when it could not be written.
std::optional<Message> SaveBookmarkFile(AudioDocument& document);

}  // namespace sonavel
