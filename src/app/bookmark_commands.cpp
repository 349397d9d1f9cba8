#include "app/bookmark_commands.h"

#include <algorithm>
#include <optional>

#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/time.h"
#include "views/wave_mouse.h"

namespace sonavel {

namespace {

constexpr const char* kAddTitle = "Lesezeichen setzen";
constexpr const char* kSelectToTitle = "Bis Lesezeichen markieren";

// The first open document holding a bookmark of that name, or null.
AudioDocument* Holder(BookmarkContext& context, std::string_view name) {
  for (AudioDocument* document : context.host.OpenDocuments())
    if (HasBookmark(*document, name)) return document;
  return nullptr;
}

bool Confirm(Ui& ui, const char* text, const char* caption) {
  return ui.ShowMessage({text, caption, MessageIcon::kQuestion, MessageButtons::kYesNo}) == MessageAnswer::kYes;
}

// The view follows the cursor as playback moves it: pinned to the nearer edge when it
// lies outside.
void ScrollToCursor(AudioDocument& document) {
  EditState& state = document.state;
  const FrameRange view =
      KeepCursorVisible({state.view_start, state.view_end}, state.cursor, SoundLength(document.sound));
  if (view.start == state.view_start && view.end == state.view_end) return;
  state.view_start = static_cast<std::int32_t>(view.start);
  state.view_end = static_cast<std::int32_t>(view.end);
  document.Notify(kViewChanged);
}

// Whether playback runs; it is stopped, so that the jump is not undone by its reports.
bool StopPlayback(Transport& transport) {
  const bool playing = transport.engine().State() != PlaybackEngine::kClosed;
  transport.Stop();
  return playing;
}

// After a jump: playback that ran goes on from the new place, and "PlayBookMark" starts it
// there (keeping a cursor in the last second). Both end with playback from the cursor, so
// it starts once.
void ResumePlayback(BookmarkContext& context, bool was_playing) {
  if (context.settings.Read(setting::kPlayBookMark))
    context.transport.Play(true);
  else if (was_playing)
    context.transport.Play();
}

}  // namespace

bool AddBookmarkCommand(BookmarkContext& context) {
  AudioDocument* document = context.host.CurrentDocument();
  if (document == nullptr) return false;
  // Refused before asking: a full list takes no further bookmark whatever the answers.
  if (document->bookmarks.full()) {
    context.ui.ShowMessage(FullMessage());
    return false;
  }
  const Message exists{"Ein Lesezeichen mit diesem Namen existiert bereits. Möchten sie dieses ersetzen?",
                       "BookMark Exist", MessageIcon::kQuestion, MessageButtons::kYesNoCancel};
  std::string offered = DefaultBookmarkName(*document);
  for (;;) {
    const std::optional<std::string> name = context.ui.PromptText(kAddTitle, "Name für Lesezeichen eingeben", offered);
    if (!name) return false;
    offered = *name;
    // A name with nothing but invalid characters could never be renamed or exported.
    if (const std::optional<Message> invalid = NewBookmarkNameProblem({}, *name)) {
      context.ui.ShowMessage(*invalid);
      continue;
    }
    bool ask_again = false;
    for (AudioDocument* open : context.host.OpenDocuments()) {
      if (!HasBookmark(*open, *name)) continue;
      const MessageAnswer answer = context.ui.ShowMessage(exists);
      if (answer == MessageAnswer::kCancel) return false;
      // "Replace" replaces the bookmark asked about, wherever it is, so that the name
      // stays unique among the open documents.
      if (answer == MessageAnswer::kYes)
        RemoveBookmarks(*open, *name);
      else
        ask_again = true;
    }
    if (ask_again) continue;
    if (const std::optional<Message> full = AddBookmark(*document, *name, context.clock())) {
      context.ui.ShowMessage(*full);
      return false;
    }
    return true;
  }
}

bool RenameBookmarkCommand(BookmarkContext& context, std::string_view old_name, std::string_view new_name) {
  const std::vector<AudioDocument*> documents = context.host.OpenDocuments();
  const std::vector<const AudioDocument*> checked(documents.begin(), documents.end());
  if (const std::optional<Message> problem = NewBookmarkNameProblem(checked, new_name)) {
    context.ui.ShowMessage(*problem);
    return false;
  }
  for (AudioDocument* document : documents)
    if (RenameBookmark(*document, old_name, new_name)) return true;
  return false;
}

bool DeleteBookmarksCommand(BookmarkContext& context, const std::vector<std::string>& names) {
  if (names.empty() || !Confirm(context.ui, "Markierte(s) Leszeichen löschen?", "Löschen bestätigen")) return false;
  bool removed = false;
  for (const std::string& name : names)
    for (AudioDocument* document : context.host.OpenDocuments()) removed |= RemoveBookmarks(*document, name);
  return removed;
}

bool DeleteAllBookmarksCommand(BookmarkContext& context) {
  if (BookmarkRows(context.host.OpenDocuments()).empty() ||
      !Confirm(context.ui, "Alle markierten Lesezeichen löschen?", "Alles löschen bestätigen"))
    return false;
  for (AudioDocument* document : context.host.OpenDocuments()) RemoveAllBookmarks(*document);
  return true;
}

bool GoToBookmarkCommand(BookmarkContext& context, std::string_view name) {
  AudioDocument* document = Holder(context, name);
  if (document == nullptr) return false;
  const bool was_playing = StopPlayback(context.transport);
  GoToBookmark(*document, name, context.clock());
  context.host.ActivateDocument(*document);
  ScrollToCursor(*document);
  ResumePlayback(context, was_playing);
  return true;
}

bool SelectToBookmarkCommand(BookmarkContext& context, std::string_view name) {
  AudioDocument* document = Holder(context, name);
  if (document == nullptr) return false;
  std::vector<std::string> others;
  for (const Bookmark& bookmark : document->bookmarks.bookmarks())
    if (!SameName(bookmark.name, name)) others.push_back(bookmark.name);
  if (others.empty()) return false;
  const std::optional<int> chosen = context.ui.ChooseFromList(kSelectToTitle, others);
  if (!chosen || *chosen < 0 || static_cast<std::size_t>(*chosen) >= others.size()) return false;
  const std::string& target = others[static_cast<std::size_t>(*chosen)];

  const bool was_playing = StopPlayback(context.transport);
  const std::uint32_t now = context.clock();
  GoToBookmark(*document, name, now);
  context.host.ActivateDocument(*document);
  const std::int32_t from = document->state.cursor;
  GoToBookmark(*document, target, now);
  const std::int32_t to = document->state.cursor;
  SetSelection(*document, std::min(from, to), std::max(from, to), std::max(from, to));
  ScrollToCursor(*document);
  ResumePlayback(context, was_playing);
  return true;
}

std::array<std::string, 4> BookmarkRowTexts(const Bookmark& bookmark) {
  return {bookmark.name, FormatTimeHundredths(bookmark.position), std::to_string(bookmark.use_count),
          LastUsedText(bookmark.last_used)};
}

std::vector<BookmarkRow> BookmarkRows(const std::vector<AudioDocument*>& documents) {
  std::vector<BookmarkRow> rows;
  for (AudioDocument* document : documents)
    for (const Bookmark& bookmark : document->bookmarks.bookmarks())
      rows.push_back({document, bookmark.name, BookmarkRowTexts(bookmark)});
  return rows;
}

}  // namespace sonavel
