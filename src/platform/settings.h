#pragma once
// The program's settings: text values per group ("Settings", "StoredValues", "Recorder",
// ...) under the product key, read through typed helpers. A missing or empty value gives
// the caller's default; integers are decimal text, booleans "1"/"0" and any text not
// beginning with "0" reads as true.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonavel {

class Registry;

class SettingsReader {
 public:
  virtual ~SettingsReader() = default;

  // The user's value, else the machine-wide one, else `fallback`.
  virtual std::string ReadText(std::string_view group, std::string_view name,
                               std::string_view fallback) const = 0;
  // The user's value only, else `fallback`.
  virtual std::string ReadUserText(std::string_view group, std::string_view name,
                                   std::string_view fallback) const = 0;

  // The leading decimal number of the text ("12abc" is 12, "abc" and "0abc" are 0).
  int ReadInt(std::string_view group, std::string_view name, int fallback) const;
  int ReadUserInt(std::string_view group, std::string_view name, int fallback) const;
  bool ReadBool(std::string_view group, std::string_view name, bool fallback) const;
  bool ReadUserBool(std::string_view group, std::string_view name, bool fallback) const;
};

// Every read gives the default: for tools and tests that must not see the user's settings.
class DefaultSettings final : public SettingsReader {
 public:
  std::string ReadText(std::string_view, std::string_view,
                       std::string_view fallback) const override {
    return std::string(fallback);
  }
  std::string ReadUserText(std::string_view, std::string_view,
                           std::string_view fallback) const override {
    return std::string(fallback);
  }
};

// The settings in the registry, with the writers. A failed write (the machine branch
// without the right to change it) is ignored.
class Settings final : public SettingsReader {
 public:
  explicit Settings(Registry& registry) : registry_(registry) {}

  std::string ReadText(std::string_view group, std::string_view name,
                       std::string_view fallback) const override;
  std::string ReadUserText(std::string_view group, std::string_view name,
                           std::string_view fallback) const override;

  // To the machine branch and the user's.
  void WriteValue(std::string_view group, std::string_view name, std::string_view value);
  void WriteValue(std::string_view group, std::string_view name, int value);
  // To the user's branch only.
  void WriteUserValue(std::string_view group, std::string_view name, std::string_view value);
  void WriteUserValue(std::string_view group, std::string_view name, int value);
  void DeleteUserValue(std::string_view group, std::string_view name);

  Registry& registry() { return registry_; }

 private:
  Registry& registry_;
};

// The decimal reading of ReadInt.
int TextToInt(const std::string& text);
// The leading decimal number as TextToInt reads it, or nullopt when the text (after blanks
// and a sign) does not begin with a digit: "12abc" is 12, "abc" and "-" have none.
std::optional<int> LeadingInt(std::string_view text);

// Strict readings of a typed number. Blanks around it are allowed; a whole number is an
// optional sign and digits and nothing else ("5abc", "", "+", "1e3" and "1.0" are none),
// saturating beyond 64 bits. A real number may also have a fraction after one "." or ","
// (the German decimal comma), with at least one digit in all.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text);
std::optional<double> ParseRealNumber(std::string_view text);

}  // namespace sonavel
