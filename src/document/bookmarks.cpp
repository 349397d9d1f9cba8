#include "document/bookmarks.h"

#include <algorithm>

namespace sonavel {

void BookmarkList::Add(Bookmark bookmark) {
  auto after = std::upper_bound(bookmarks_.begin(), bookmarks_.end(), bookmark.position,
                                [](std::int32_t position, const Bookmark& b) { return position < b.position; });
  bookmarks_.insert(after, std::move(bookmark));
}

}  // namespace sonavel
