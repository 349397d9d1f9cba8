#pragma once
// The frame's bookmark commands: add, rename, delete, delete all, go to and select to a
// bookmark, and the rows of the bookmark list. They ask through the Ui port and play
// through the transport, so that they run without a window.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/transport.h"
#include "document/audio_document.h"
#include "document/bookmark_file.h"

namespace sonavel {

class SettingsReader;
class Ui;

// What the bookmark commands need of the frame.
class BookmarkHost {
 public:
  virtual ~BookmarkHost() = default;
  // The open documents in window order.
  virtual std::vector<AudioDocument*> OpenDocuments() = 0;
  // The document the frame's commands work on, or null.
  virtual AudioDocument* CurrentDocument() = 0;
  // Brings the document's window to the front; the transport then works on it.
  virtual void ActivateDocument(AudioDocument& document) = 0;
};

struct BookmarkContext {
  Ui& ui;
  const SettingsReader& settings;
  Transport& transport;
  BookmarkHost& host;
  // Seconds since 1970, for the last-used times.
  std::function<std::uint32_t()> clock = BookmarkClock;
};

// Asks for a name (offering "title@position"), asks about every open document that
// already has a bookmark of that name, then adds the bookmark at the current document's
// cursor. False when cancelled or refused.
bool AddBookmarkCommand(BookmarkContext& context);
// Renames the bookmark `old_name` to the sanitised `new_name` in the document that holds
// it, after checking the new name against every open document.
bool RenameBookmarkCommand(BookmarkContext& context, std::string_view old_name, std::string_view new_name);
// After a confirmation, removes the bookmarks of these names from every open document.
bool DeleteBookmarksCommand(BookmarkContext& context, const std::vector<std::string>& names);
// After a confirmation, empties the bookmark lists of all open documents.
bool DeleteAllBookmarksCommand(BookmarkContext& context);
// Jumps to the bookmark in the document that holds it: raises its use count, activates
// the document, puts selection and cursor there and scrolls the view to it. Playback that
// ran goes on from there; with "PlayBookMark" playback starts there in any case.
bool GoToBookmarkCommand(BookmarkContext& context, std::string_view name);
// Offers the other bookmarks of the same document; goes to `name` and selects from there
// to the chosen one (the cursor at the later of the two), raising both use counts.
bool SelectToBookmarkCommand(BookmarkContext& context, std::string_view name);

// One line of the bookmark list: the document holding the bookmark, its name (what the
// commands take) and the texts of the four columns.
struct BookmarkRow {
  AudioDocument* document = nullptr;
  std::string name;
  std::array<std::string, 4> texts;
};
// Name, position in the long time form, use count, local last-used date and time.
std::array<std::string, 4> BookmarkRowTexts(const Bookmark& bookmark);
// One row per bookmark of every document, in document order and each list's order.
std::vector<BookmarkRow> BookmarkRows(const std::vector<AudioDocument*>& documents);

}  // namespace sonavel
