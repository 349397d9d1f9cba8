#pragma once
// Read access to the program's settings. Values are text, stored per group ("Settings",
// "StoredValues", ...); a missing or empty value gives the caller's default. The
// registry implements this; DefaultSettings answers every read with the default.

#include <string>
#include <string_view>

namespace sonavel {

class SettingsReader {
 public:
  virtual ~SettingsReader() = default;

  // The user's value, else the machine-wide one, else `fallback`.
  virtual std::string ReadText(std::string_view group, std::string_view name,
                               std::string_view fallback) const = 0;
  // The user's value only, else `fallback`.
  virtual std::string ReadUserText(std::string_view group, std::string_view name,
                                   std::string_view fallback) const = 0;

  // Missing or empty gives `fallback`; any other text is true unless it begins with "0".
  bool ReadBool(std::string_view group, std::string_view name, bool fallback) const;
  bool ReadUserBool(std::string_view group, std::string_view name, bool fallback) const;
};

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

}  // namespace sonavel
