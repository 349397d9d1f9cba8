// Fuzz target for the project reader: the input is a project file, read from memory.
// Nothing may crash or read out of bounds; every text kept is at most 519 bytes; a project
// that loads is saved, loaded again and saved again, and both saves must be equal.

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "document/project_file.h"
#include "store/block_table.h"
#include "store/segment_reader.h"

namespace {

void RemoveWorkingFolder() {
  sonavel::CleanWorkingFolder();
  std::error_code ignored;
  std::filesystem::remove_all(sonavel::WorkingFolder(), ignored);
}

bool Prepare() {
  std::string folder = "/tmp/sonavel-project-fuzz-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  sonavel::SetWorkingFolder(folder);
  std::atexit(RemoveWorkingFolder);
  return true;
}

std::vector<std::uint8_t> SaveBytes(const sonavel::Project& project) {
  const std::string path = sonavel::WorkingFolder() + "/saved.snp";
  sonavel::SilentProgress progress;
  std::string error;
  if (sonavel::SaveProject(project, path, progress, error) != sonavel::kDone) __builtin_trap();
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

sonavel::Result Load(std::vector<std::uint8_t> bytes, sonavel::Project& project) {
  sonavel::SilentProgress progress;
  std::string error;
  std::unique_ptr<sonavel::ByteSource> source = sonavel::MemoryBytes(std::move(bytes));
  const sonavel::Result result = sonavel::LoadProject(*source, project, progress, error);
  if (result != sonavel::kDone && error.empty()) __builtin_trap();
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool prepared = Prepare();
  (void)prepared;
  {
    sonavel::Project project;
    if (Load({data, data + size}, project) != sonavel::kDone) return 0;
    for (const auto& document : project.documents) {
      if (document.path.size() > 519) __builtin_trap();
      for (const auto& mark : document.bookmarks)
        if (mark.name.size() > 519 || mark.source_title.size() > 519) __builtin_trap();
    }
    const std::vector<std::uint8_t> first = SaveBytes(project);
    sonavel::Project again;
    if (Load(first, again) != sonavel::kDone) __builtin_trap();
    if (again.documents.size() != project.documents.size() ||
        again.regions.size() != project.regions.size())
      __builtin_trap();
    for (std::size_t i = 0; i < project.regions.size(); ++i)
      if (sonavel::SoundLength(again.regions[i].audio) !=
          sonavel::SoundLength(project.regions[i].audio))
        __builtin_trap();
    if (SaveBytes(again) != first) __builtin_trap();
  }
  for (std::uint32_t id = 0; id < sonavel::kNoBlock; ++id)
    if (sonavel::BlockRefCount(static_cast<sonavel::BlockId>(id)) != 0) __builtin_trap();
  return 0;
}
