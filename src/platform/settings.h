#pragma once
// The program's settings: text values per group ("Settings", "StoredValues", "Recorder",
// ...) under the product key, read through typed helpers. A missing or empty value gives
// the caller's default; integers are decimal text, booleans "1"/"0" and any text not
// beginning with "0" reads as true. Each setting is declared once with its default as one of
// the keys below (platform/setting_keys.h) and read and written through it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonavel {

class Registry;

// A setting's group, value name and default.
struct BoolSetting {
  std::string_view group;
  std::string_view name;
  bool fallback;
};

struct IntSetting {
  std::string_view group;
  std::string_view name;
  int fallback;
};

struct TextSetting {
  std::string_view group;
  std::string_view name;
  std::string_view fallback;
};

// A whole number that must lie in `lowest` … `highest`: a stored value out of range, or
// with no number, reads as the default, as if nothing were stored.
struct RangedSetting {
  IntSetting key;
  int lowest;
  int highest;

  constexpr bool Contains(int value) const { return value >= lowest && value <= highest; }
};

// A row of text settings told apart by a number after the name (`prefix` + n).
struct NumberedTextSetting {
  std::string_view group;
  std::string_view prefix;
  std::string_view fallback;

  std::string NameAt(int n) const { return std::string(prefix) + std::to_string(n); }
};

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

  // The user's value, else the machine-wide one, else the key's default.
  bool Read(const BoolSetting& key) const { return ReadBool(key.group, key.name, key.fallback); }
  int Read(const IntSetting& key) const { return ReadInt(key.group, key.name, key.fallback); }
  std::string Read(const TextSetting& key) const { return ReadText(key.group, key.name, key.fallback); }
  int Read(const RangedSetting& setting) const;
  // The stored value when one in range is stored (user's or machine-wide), else none.
  std::optional<int> ReadStored(const RangedSetting& setting) const;
  // The user's value only, else the key's default.
  bool ReadUser(const BoolSetting& key) const { return ReadUserBool(key.group, key.name, key.fallback); }
  int ReadUser(const IntSetting& key) const { return ReadUserInt(key.group, key.name, key.fallback); }
  std::string ReadUser(const TextSetting& key) const { return ReadUserText(key.group, key.name, key.fallback); }
  std::string ReadUser(const NumberedTextSetting& key, int n) const {
    return ReadUserText(key.group, key.NameAt(n), key.fallback);
  }
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

  // The same through a key; booleans are stored as "1" or "0".
  void Write(const BoolSetting& key, bool value) { WriteValue(key.group, key.name, value ? 1 : 0); }
  void Write(const IntSetting& key, int value) { WriteValue(key.group, key.name, value); }
  void Write(const TextSetting& key, std::string_view value) { WriteValue(key.group, key.name, value); }
  void Write(const RangedSetting& setting, int value) { Write(setting.key, value); }
  void WriteUser(const BoolSetting& key, bool value) { WriteUserValue(key.group, key.name, value ? 1 : 0); }
  void WriteUser(const IntSetting& key, int value) { WriteUserValue(key.group, key.name, value); }
  void WriteUser(const TextSetting& key, std::string_view value) { WriteUserValue(key.group, key.name, value); }
  void WriteUser(const NumberedTextSetting& key, int n, std::string_view value) {
    WriteUserValue(key.group, key.NameAt(n), value);
  }
  void DeleteUser(const NumberedTextSetting& key, int n) { DeleteUserValue(key.group, key.NameAt(n)); }

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
