#pragma once
// A document's descriptive tags: name and text pairs ("TITLE", "ARTIST", ...). Setting an
// existing name replaces its text; a new name goes to the front; a missing name reads as
// the empty text.

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

}  // namespace sonavel
