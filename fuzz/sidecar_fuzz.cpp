// Fuzz target for the bookmark sidecar reader: any bytes are read from memory into a list
// that must come out sorted and within the count the format can hold; writing that list
// and reading it back must give the same bytes again.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "document/bookmark_file.h"
#include "platform/byte_source.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonavel;
  BookmarkList first;
  ReadBookmarks(*MemoryBytes(std::vector<std::uint8_t>(data, data + size)), first);
  Check(first.size() <= kMaxBookmarks, "at most 255 bookmarks");
  for (std::size_t i = 1; i < first.size(); ++i)
    Check(first.bookmarks()[i - 1].position <= first.bookmarks()[i].position, "sorted by position");
  const std::optional<std::vector<std::uint8_t>> written = BookmarkFileBytes(first);
  Check(written.has_value(), "a read list can be written");
  BookmarkList second;
  Check(ReadBookmarks(*MemoryBytes(*written), second) == BookmarkRead::kRead,
        "written bytes read whole");
  Check(BookmarkFileBytes(second) == written, "a written list reads back to the same bytes");
  return 0;
}
