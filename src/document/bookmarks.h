#pragma once
// A document's bookmarks: named points, kept sorted by position (a new bookmark goes
// after those at the same position), and the regions: named copies of a selection.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/sound.h"

namespace sonavel {

// The sidecar's count is one byte, so a document holds at most this many bookmarks.
inline constexpr std::size_t kMaxBookmarks = 255;
inline constexpr std::size_t kMaxBookmarkName = 259;

struct Bookmark {
  std::string name;
  std::string source_title;    // the document's display title when the bookmark was made
  std::int32_t position = 0;   // milliseconds from the start of the sound
  std::uint8_t use_count = 1;  // raised by each jump, wrapping after 255
  // Seconds since 1970; 0: never recorded. Unsigned, so that times after 2038 stay
  // in the future.
  std::uint32_t last_used = 0;
};

// Names compared ignoring the case of ASCII letters.
bool SameName(std::string_view a, std::string_view b);

// Drops every character below 32, every byte of 128 or above and each of " * . / : < > ?
// \ |, and keeps at most 259 characters. Empty when nothing valid is left.
std::string SanitiseName(std::string_view name);

class BookmarkList {
 public:
  // Inserts sorted; false (nothing added) when the list is full.
  bool Add(Bookmark bookmark);
  const std::vector<Bookmark>& bookmarks() const { return bookmarks_; }
  std::vector<Bookmark>& bookmarks() { return bookmarks_; }
  void Clear() { bookmarks_.clear(); }
  std::size_t size() const { return bookmarks_.size(); }
  bool full() const { return bookmarks_.size() >= kMaxBookmarks; }

  // The first bookmark of that name, or null.
  Bookmark* Find(std::string_view name);
  const Bookmark* Find(std::string_view name) const;
  // Removes every bookmark of that name; true when any was removed.
  bool Remove(std::string_view name);
  // Back in position order after positions changed in place; equal positions keep their
  // order.
  void Sort();

 private:
  std::vector<Bookmark> bookmarks_;
};

// A named stretch cut out of a document, with its own copy of the audio (sharing the
// block files), so it stays playable after its source is edited or closed.
struct Region {
  Sound audio{44100, 1};
  std::string name;
  std::string source_title;
  std::int32_t start = 0;  // milliseconds in the source document when made
  std::int32_t end = 0;
};

// All regions, in the order they were made.
class RegionList {
 public:
  void Append(Region region) { regions_.push_back(std::move(region)); }
  const std::vector<Region>& regions() const { return regions_; }
  std::vector<Region>& regions() { return regions_; }
  Region* Find(std::string_view name);
  // Removes every region of that name; true when any was removed.
  bool Remove(std::string_view name);
  void Clear() { regions_.clear(); }

 private:
  std::vector<Region> regions_;
};

}  // namespace sonavel
