#include "document/bookmarks.h"

#include <algorithm>

namespace sonavel {

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

template <typename List, typename Item>
Item* FindByName(List& items, std::string_view name) {
  for (Item& item : items)
    if (SameName(item.name, name)) return &item;
  return nullptr;
}

template <typename List>
bool RemoveByName(List& items, std::string_view name) {
  return std::erase_if(items, [&](const auto& item) { return SameName(item.name, name); }) > 0;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::string SanitiseName(std::string_view name) {
  constexpr std::string_view kDropped = "\"*./:<>?\\|";
  std::string kept;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte >= 128 || kDropped.find(c) != std::string_view::npos) continue;
    if (kept.size() == kMaxBookmarkName) break;
    kept.push_back(c);
  }
  return kept;
}

bool BookmarkList::Add(Bookmark bookmark) {
  if (full()) return false;
  auto after = std::upper_bound(
      bookmarks_.begin(), bookmarks_.end(), bookmark.position,
      [](std::int32_t position, const Bookmark& b) { return position < b.position; });
  bookmarks_.insert(after, std::move(bookmark));
  return true;
}

Bookmark* BookmarkList::Find(std::string_view name) {
  return FindByName<std::vector<Bookmark>, Bookmark>(bookmarks_, name);
}

const Bookmark* BookmarkList::Find(std::string_view name) const {
  return FindByName<const std::vector<Bookmark>, const Bookmark>(bookmarks_, name);
}

bool BookmarkList::Remove(std::string_view name) {
  return RemoveByName(bookmarks_, name);
}

void BookmarkList::Sort() {
  std::stable_sort(bookmarks_.begin(), bookmarks_.end(),
                   [](const Bookmark& a, const Bookmark& b) { return a.position < b.position; });
}

Region* RegionList::Find(std::string_view name) {
  return FindByName<std::vector<Region>, Region>(regions_, name);
}

bool RegionList::Remove(std::string_view name) {
  return RemoveByName(regions_, name);
}

}  // namespace sonavel
