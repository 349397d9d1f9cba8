#pragma once
// Runs the benchmarks named on the command line in a working folder of their own under the
// temporary folder, which is emptied and removed afterwards whatever they left in it.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "store/block_table.h"

namespace sonavel::bench {

// `before_clean`, when given, runs after the benchmarks and before the folder is emptied
// (e.g. to close files they keep open). Returns main's exit code.
inline int RunInWorkingFolder(int argc, char** argv, void (*before_clean)() = nullptr) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::string folder = JoinPath(TempFolder(), "sonavel-bench-XXXXXX");
  if (::mkdtemp(folder.data()) == nullptr) {
    std::perror("sonavel bench: cannot create a working folder");
    return 1;
  }
  SetWorkingFolder(folder);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (before_clean != nullptr) before_clean();
  CleanWorkingFolder();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  SetWorkingFolder("");
  return 0;
}

}  // namespace sonavel::bench
