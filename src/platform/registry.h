#pragma once
// The program's settings store: two branches of text values, the current user's and the
// machine's, each a text file of key paths (with their backslash names, such as
// "Software\Halvorn Audio\Sonavel\Settings") holding named string values.
//
//   user:    $SONAVEL_CONFIG_DIR, else $XDG_CONFIG_HOME/Halvorn Audio (~/.config/...)
//   machine: $SONAVEL_SYSTEM_CONFIG_DIR, else /etc/xdg/Halvorn Audio
//
// each holding "registry.ini". Writes re-read the file under a lock, change it and replace
// it whole (temporary file + rename), so several running programs can share it; reads
// pick up changes made by others.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace sonavel {

enum class Branch { kUser, kMachine };

class Registry {
 public:
  // The default folders (with their environment overrides).
  Registry();
  Registry(std::string user_folder, std::string machine_folder);

  std::optional<std::string> Get(Branch branch, std::string_view key, std::string_view name) const;
  // False when the branch cannot be written (for example the machine's without the right).
  bool Set(Branch branch, std::string_view key, std::string_view name, std::string_view value);
  bool Delete(Branch branch, std::string_view key, std::string_view name);

  std::string FilePath(Branch branch) const;

  // Text escaping of the file format, exposed for tests.
  static std::string Escape(std::string_view text, bool in_name);
  static std::string Unescape(std::string_view text);

 private:
  using Values = std::map<std::string, std::map<std::string, std::string>>;
  struct Cache {
    Values values;
    // Modification time (ns) and size of the file when it was read; -1: not read yet.
    long long modified = -1;
    long long size = -1;
  };

  const Values& Load(Branch branch) const;
  bool Change(Branch branch, std::string_view key, std::string_view name,
              const std::optional<std::string_view>& value);

  std::string folders_[2];
  mutable Cache cache_[2];
  mutable std::mutex mutex_;
};

// The product's key for a group ("Software\Halvorn Audio\Sonavel\<group>") and a
// component's key ("Software\Halvorn Audio\Components\<name>").
std::string ProductKey(std::string_view group);
std::string ComponentKey(std::string_view name);

}  // namespace sonavel
