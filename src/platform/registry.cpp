#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file.h"
#include "platform/paths.h"

namespace sonavel {

namespace {

constexpr const char* kFileName = "registry.ini";

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::string DefaultUserFolder() {
  std::string base = EnvOr("XDG_CONFIG_HOME", "");
  if (base.empty()) {
    const char* home = std::getenv("HOME");
    base = JoinPath(home != nullptr ? home : "", ".config");
  }
  return JoinPath(base, "Halvorn Audio");
}

int Index(Branch branch) { return branch == Branch::kUser ? 0 : 1; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string ProductKey(std::string_view group) {
  return "Software\\Halvorn Audio\\Sonavel\\" + std::string(group);
}

std::string ComponentKey(std::string_view name) {
  return "Software\\Halvorn Audio\\Components\\" + std::string(name);
}

Registry::Registry()
    : Registry(EnvOr("SONAVEL_CONFIG_DIR", DefaultUserFolder()),
               EnvOr("SONAVEL_SYSTEM_CONFIG_DIR", "/etc/xdg/Halvorn Audio")) {}

Registry::Registry(std::string user_folder, std::string machine_folder)
    : folders_{std::move(user_folder), std::move(machine_folder)} {}

std::string Registry::FilePath(Branch branch) const {
  return JoinPath(folders_[Index(branch)], kFileName);
}

// Percent escapes keep every value intact through the line-based file: "%", line breaks
// and NUL always, and in names and key paths also "=", "[" and "]".
std::string Registry::Escape(std::string_view text, bool in_name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const bool special = c == '%' || c == '\n' || c == '\r' || c == '\0' ||
                         (in_name && (c == '=' || c == '[' || c == ']'));
    if (special) {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string Registry::Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

const Registry::Values& Registry::Load(Branch branch) const {
  Cache& cache = cache_[Index(branch)];
  const std::string path = FilePath(branch);
  struct stat info {};
  long long modified = 0;
  long long size = 0;
  if (::stat(path.c_str(), &info) == 0) {
    modified = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    size = static_cast<long long>(info.st_size);
  }
  if (modified == cache.modified && size == cache.size) return cache.values;
  cache.values.clear();
  cache.modified = modified;
  cache.size = size;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::map<std::string, std::string>* section = nullptr;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = &cache.values[Unescape(std::string_view(line).substr(1, line.size() - 2))];
      continue;
    }
    const std::size_t equals = line.find('=');
    if (section == nullptr || equals == std::string::npos) continue;  // not ours: ignored
    (*section)[Unescape(std::string_view(line).substr(0, equals))] =
        Unescape(std::string_view(line).substr(equals + 1));
  }
  return cache.values;
}

std::optional<std::string> Registry::Get(Branch branch, std::string_view key,
                                         std::string_view name) const {
  std::lock_guard guard(mutex_);
  const Values& values = Load(branch);
  auto group = values.find(std::string(key));
  if (group == values.end()) return std::nullopt;
  auto value = group->second.find(std::string(name));
  if (value == group->second.end()) return std::nullopt;
  return value->second;
}

bool Registry::Set(Branch branch, std::string_view key, std::string_view name,
                   std::string_view value) {
  return Change(branch, key, name, value);
}

bool Registry::Delete(Branch branch, std::string_view key, std::string_view name) {
  return Change(branch, key, name, std::nullopt);
}

bool Registry::Change(Branch branch, std::string_view key, std::string_view name,
                      const std::optional<std::string_view>& value) {
  std::lock_guard guard(mutex_);
  const std::string folder = folders_[Index(branch)];
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  // Other programs write the same file: hold its lock from reading to replacing.
  const std::string lock_path = JoinPath(folder, std::string(kFileName) + ".lock");
  const int lock = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) return false;
  ::flock(lock, LOCK_EX);
  Values values = Load(branch);
  if (value.has_value()) {
    values[std::string(key)][std::string(name)] = std::string(*value);
  } else {
    auto group = values.find(std::string(key));
    if (group != values.end()) {
      group->second.erase(std::string(name));
      if (group->second.empty()) values.erase(group);
    }
  }
  std::ostringstream text;
  for (const auto& [group, entries] : values) {
    text << '[' << Escape(group, true) << "]\n";
    for (const auto& [entry, content] : entries) text << Escape(entry, true) << '=' << Escape(content, false) << '\n';
    text << '\n';
  }
  const std::string path = FilePath(branch);
  const bool written = ReplaceFileContents(path, text.str());
  ::flock(lock, LOCK_UN);
  ::close(lock);
  if (written) {
    cache_[Index(branch)].modified = -1;  // read back on the next access
  }
  return written;
}

}  // namespace sonavel
