#pragma once
// A document's descriptive tags: name and text pairs ("TITLE", "ARTIST", ...). Setting an
// existing name replaces its text; a new name goes to the front; a missing name reads as
// the empty text. Texts are UTF-8.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace sonavel {

class TagList {
 public:
  struct Entry {
    std::string name;
    std::string text;
  };

  void Set(std::string_view name, std::string_view text);
  std::string Get(std::string_view name) const;
  const std::vector<Entry>& entries() const { return entries_; }
  void Clear() { entries_.clear(); }

 private:
  std::vector<Entry> entries_;  // the front entry is the newest name
};

// The names the files and the tag editor know, in the editor's order.
inline constexpr std::array<std::string_view, 7> kTagNames = {"TITLE", "ARTIST",      "ALBUM",  "GENRE",
                                                               "TRACKNUMBER", "DATE", "COMMENT"};
bool IsTagName(std::string_view name);

// The 148 genre names of ID3v1 with the players' extensions, index 0 "Blues" … 147 "Synthpop".
inline constexpr int kGenreCount = 148;
const std::array<std::string_view, kGenreCount>& GenreNames();
// The index of `name` compared without regard to ASCII case; -1 when it names no genre.
int GenreIndex(std::string_view name);

}  // namespace sonavel
