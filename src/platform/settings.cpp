#include "platform/settings.h"

namespace sonavel {

namespace {
// An empty text means "missing": the read helpers pass "" as their fallback to see it.
bool TextToBool(const std::string& text, bool fallback) {
  if (text.empty()) return fallback;
  return text.front() != '0';
}
}  // namespace

bool SettingsReader::ReadBool(std::string_view group, std::string_view name, bool fallback) const {
  return TextToBool(ReadText(group, name, ""), fallback);
}

bool SettingsReader::ReadUserBool(std::string_view group, std::string_view name,
                                  bool fallback) const {
  return TextToBool(ReadUserText(group, name, ""), fallback);
}

}  // namespace sonavel
