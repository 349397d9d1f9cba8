#pragma once
// A document's bookmarks: named points, kept sorted by position (a new bookmark goes
// after those at the same position).

#include <cstdint>
#include <string>
#include <vector>

namespace sonavel {

struct Bookmark {
  std::string name;
  std::string source_title;  // the document's display title when the bookmark was made
  std::int32_t position = 0;  // milliseconds from the start of the sound
  std::uint8_t use_count = 1;
  std::int32_t last_used = 0;  // seconds since 1970; 0: never recorded
};

class BookmarkList {
 public:
  void Add(Bookmark bookmark);
  const std::vector<Bookmark>& bookmarks() const { return bookmarks_; }
  std::vector<Bookmark>& bookmarks() { return bookmarks_; }
  void Clear() { bookmarks_.clear(); }

 private:
  std::vector<Bookmark> bookmarks_;
};

}  // namespace sonavel
