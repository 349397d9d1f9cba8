#include "store/block_table.h"

#include <array>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"

namespace sonavel {

namespace {

// BlockRefTable: one counter per id, guarded by BlockTableLock.
struct BlockRefTable {
  std::array<std::uint16_t, 65536> counts{};
  // No id below this one is free, so the scan for the lowest free id starts here.
  std::uint32_t lowest_free = 0;
};

std::mutex& BlockTableLock() {
  static std::mutex lock;
  return lock;
}

BlockRefTable& Table() {
  static BlockRefTable table;
  return table;
}

std::string& WorkingFolderStorage() {
  static std::string folder;
  return folder;
}

std::string BlockPath(BlockId id, const char* extension) {
  if (id == kNoBlock) return {};
  std::string name = std::to_string(static_cast<unsigned>(id)) + extension;
  std::string path = JoinPath(WorkingFolder(), name);
  // A path cut short at the length limit would name another block's file.
  if (path.size() < name.size() || path.compare(path.size() - name.size(), name.size(), name) != 0)
    return {};
  return path;
}

// "<decimal number>.<extension>": the only names block files get.
bool IsBlockFileName(const std::string& name, std::string_view extension) {
  if (name.size() <= extension.size() + 1) return false;
  std::size_t stem = name.size() - extension.size() - 1;
  if (name[stem] != '.' || name.compare(stem + 1, extension.size(), extension) != 0) return false;
  for (std::size_t i = 0; i < stem; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return true;
}

}  // namespace

std::string BlockAudioPath(BlockId id) { return BlockPath(id, ".aud"); }
std::string BlockPeakPath(BlockId id) { return BlockPath(id, ".grf"); }

BlockId AllocateBlock() {
  std::lock_guard guard(BlockTableLock());
  BlockRefTable& table = Table();
  for (std::uint32_t id = table.lowest_free; id < kNoBlock; ++id) {
    if (table.counts[id] == 0) {
      table.counts[id] = 1;
      table.lowest_free = id + 1;
      return static_cast<BlockId>(id);
    }
  }
  table.lowest_free = kNoBlock;
  return kNoBlock;
}

void AddBlockRef(BlockId id) {
  if (id == kNoBlock) return;
  std::lock_guard guard(BlockTableLock());
  std::uint16_t& count = Table().counts[id];
  if (count != kSaturatedCount) ++count;
}

void ReleaseBlock(BlockId id) {
  if (id == kNoBlock) return;
  std::string audio_path;
  std::string peak_path;
  {
    std::lock_guard guard(BlockTableLock());
    std::uint16_t& count = Table().counts[id];
    if (count >= 2) {
      if (count != kSaturatedCount) --count;
      return;
    }
    count = 0;
    if (id < Table().lowest_free) Table().lowest_free = id;
    audio_path = BlockAudioPath(id);
    peak_path = BlockPeakPath(id);
  }
  RemoveFile(audio_path);
  RemoveFile(peak_path);
}

std::uint16_t BlockRefCount(BlockId id) {
  if (id == kNoBlock) return 0;
  std::lock_guard guard(BlockTableLock());
  return Table().counts[id];
}

const std::string& WorkingFolder() { return WorkingFolderStorage(); }

void SetWorkingFolder(std::string folder) { WorkingFolderStorage() = std::move(folder); }

void CleanWorkingFolder() {
  const std::string& folder = WorkingFolder();
  if (folder.empty()) return;
  for (std::string_view extension : {std::string_view("aud"), std::string_view("grf")}) {
    std::vector<std::string> doomed;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      std::string name = entry.path().filename().string();
      if (IsBlockFileName(name, extension)) doomed.push_back(JoinPath(folder, name));
    }
    for (const std::string& path : doomed) RemoveFile(path);
  }
}

std::function<std::uint32_t(const std::string&)>& FreeSpaceProbe() {
  static std::function<std::uint32_t(const std::string&)> probe;
  return probe;
}

void SetFreeSpaceProbe(std::function<std::uint32_t(const std::string&)> probe) {
  FreeSpaceProbe() = std::move(probe);
}

std::uint32_t WorkingFolderFreeKB() {
  // Probe the folder the block files really go to; before one is chosen, the default.
  return PathFreeKB(WorkingFolder().empty() ? UserDataFolder() : WorkingFolder());
}

std::uint32_t PathFreeKB(const std::string& path) {
  return FreeSpaceProbe() ? FreeSpaceProbe()(path) : FreeSpaceKB(path);
}

}  // namespace sonavel
