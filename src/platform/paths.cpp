#include "platform/paths.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace sonavel {

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.size() >= kMaxPathChars) return path;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path.append(name);
  if (path.size() > kMaxPathChars) path.resize(kMaxPathChars);
  return path;
}

void CreateFolder(const std::string& path) {
  if (!path.empty()) ::mkdir(path.c_str(), 0755);
}

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (home.empty()) {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
      home = entry->pw_dir;
  }
  return home;
}

}  // namespace

std::string UserDataFolder() {
  std::string own = Env("SONAVEL_DATA_DIR");
  if (!own.empty()) return own;
  std::string base = Env("XDG_DATA_HOME");
  if (base.empty()) base = JoinPath(JoinPath(HomeFolder(), ".local"), "share");
  return JoinPath(JoinPath(base, "Halvorn Audio"), "Sonavel");
}

std::string TempFolder() {
  std::string folder = Env("TMPDIR");
  return folder.empty() ? std::string("/tmp") : folder;
}

std::uint32_t BytesToKB(std::uint64_t bytes) {
  std::uint64_t kb = bytes >> 10;
  return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kb);
}

std::uint32_t FreeSpaceKB(const std::string& path) {
  constexpr std::uint32_t kUnknown = 0x1000000;  // 16 GB: always passes the low-space check
  std::string probe = path.empty() ? std::string(".") : path;
  for (;;) {
    struct statvfs info {};
    if (::statvfs(probe.c_str(), &info) == 0)
      return BytesToKB(static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize);
    // Walk up to the parent folder: the working folder may not exist yet.
    while (!probe.empty() && (probe.back() == '/' || probe.back() == '\\')) probe.pop_back();
    std::size_t cut = probe.find_last_of("/\\");
    if (cut == std::string::npos) return kUnknown;
    probe.resize(cut == 0 ? 1 : cut);
  }
}

}  // namespace sonavel
