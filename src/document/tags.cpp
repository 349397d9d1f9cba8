#include "document/tags.h"

namespace sonavel {

void TagList::Set(std::string_view name, std::string_view text) {
  for (Entry& entry : entries_) {
    if (entry.name == name) {
      entry.text = text;
      return;
    }
  }
  entries_.insert(entries_.begin(), Entry{std::string(name), std::string(text)});
}

std::string TagList::Get(std::string_view name) const {
  for (const Entry& entry : entries_)
    if (entry.name == name) return entry.text;
  return {};
}

}  // namespace sonavel
