#pragma once
// Paths, folders and free disk space.

#include <cstdint>
#include <string>
#include <string_view>

namespace sonavel {

// Longest path we build, in bytes (the system limit without the terminating NUL).
inline constexpr std::size_t kMaxPathChars = 4095;

// folder + "/" + name. No separator is added when the folder is empty or already ends in
// "/" or "\". The result is cut at kMaxPathChars; a folder that already fills the limit
// comes back unchanged.
std::string JoinPath(std::string_view folder, std::string_view name);

// Creates one folder; an existing folder or a failure is not reported.
void CreateFolder(const std::string& path);

// The per-user data folder: $SONAVEL_DATA_DIR, else $XDG_DATA_HOME/Halvorn Audio/Sonavel,
// else ~/.local/share/Halvorn Audio/Sonavel. Not created here.
std::string UserDataFolder();

// $TMPDIR, else /tmp.
std::string TempFolder();

// Free space available to this user on the file system that holds `path`, in KB,
// saturated at 0xFFFFFFFF. A path that does not exist yet is probed at its nearest
// existing parent folder. When the probe fails, 0x1000000 (16 GB) is returned.
std::uint32_t FreeSpaceKB(const std::string& path);

// The saturating conversion behind FreeSpaceKB.
std::uint32_t BytesToKB(std::uint64_t bytes);

}  // namespace sonavel
