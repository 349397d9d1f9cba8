#include "platform/settings.h"

#include <charconv>
#include <limits>
#include <optional>

#include "platform/registry.h"

namespace sonavel {

namespace {

// An empty text means "missing": the read helpers pass "" as their fallback to see it.
bool TextToBool(const std::string& text, bool fallback) {
  if (text.empty()) return fallback;
  return text.front() != '0';
}

}  // namespace

std::optional<int> LeadingInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::numeric_limits<int>::max()) value = std::numeric_limits<int>::max() + 1LL;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max()) value = std::numeric_limits<int>::max();
  return static_cast<int>(value);
}

int TextToInt(const std::string& text) { return LeadingInt(text).value_or(0); }

namespace {

// The text without the blanks around it.
std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::int64_t> ParseWholeNumber(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value > (kLimit - (c - '0')) / 10 ? kLimit : value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

std::optional<double> ParseRealNumber(std::string_view text) {
  text = Trim(text);
  std::string plain;  // with "." as the decimal point; read without regard to the locale
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) plain += text[i++];
  int digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      ++digits;
      plain += c;
    } else if ((c == '.' || c == ',') && !point) {
      point = true;
      plain += '.';
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  if (plain.front() == '+') plain.erase(0, 1);  // from_chars takes no plus sign
  double value = 0.0;
  std::from_chars(plain.data(), plain.data() + plain.size(), value);
  return value;
}

int SettingsReader::ReadInt(std::string_view group, std::string_view name, int fallback) const {
  const std::string text = ReadText(group, name, "");
  return text.empty() ? fallback : TextToInt(text);
}

int SettingsReader::ReadUserInt(std::string_view group, std::string_view name, int fallback) const {
  const std::string text = ReadUserText(group, name, "");
  return text.empty() ? fallback : TextToInt(text);
}

std::optional<int> SettingsReader::ReadStored(const RangedSetting& setting) const {
  const std::optional<int> value = LeadingInt(ReadText(setting.key.group, setting.key.name, ""));
  if (!value || !setting.Contains(*value)) return std::nullopt;
  return value;
}

int SettingsReader::Read(const RangedSetting& setting) const {
  return ReadStored(setting).value_or(setting.key.fallback);
}

bool SettingsReader::ReadBool(std::string_view group, std::string_view name, bool fallback) const {
  return TextToBool(ReadText(group, name, ""), fallback);
}

bool SettingsReader::ReadUserBool(std::string_view group, std::string_view name,
                                  bool fallback) const {
  return TextToBool(ReadUserText(group, name, ""), fallback);
}

std::string Settings::ReadText(std::string_view group, std::string_view name,
                               std::string_view fallback) const {
  // The machine's value is asked for only when the user's branch has none at all.
  const std::string key = ProductKey(group);
  std::optional<std::string> value = registry_.Get(Branch::kUser, key, name);
  if (!value) value = registry_.Get(Branch::kMachine, key, name);
  return value && !value->empty() ? *value : std::string(fallback);
}

std::string Settings::ReadUserText(std::string_view group, std::string_view name,
                                   std::string_view fallback) const {
  if (auto user = registry_.Get(Branch::kUser, ProductKey(group), name); user && !user->empty())
    return *user;
  return std::string(fallback);
}

void Settings::WriteValue(std::string_view group, std::string_view name, std::string_view value) {
  registry_.Set(Branch::kMachine, ProductKey(group), name, value);
  registry_.Set(Branch::kUser, ProductKey(group), name, value);
}

void Settings::WriteValue(std::string_view group, std::string_view name, int value) {
  WriteValue(group, name, std::to_string(value));
}

void Settings::WriteUserValue(std::string_view group, std::string_view name, std::string_view value) {
  registry_.Set(Branch::kUser, ProductKey(group), name, value);
}

void Settings::WriteUserValue(std::string_view group, std::string_view name, int value) {
  WriteUserValue(group, name, std::to_string(value));
}

void Settings::DeleteUserValue(std::string_view group, std::string_view name) {
  registry_.Delete(Branch::kUser, ProductKey(group), name);
}

}  // namespace sonavel
