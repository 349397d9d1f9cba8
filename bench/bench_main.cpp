// Runs the store benchmarks in a working folder of their own under the temporary folder,
// which is emptied and removed afterwards whatever the benchmarks left in it.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "store/block_table.h"

namespace sonavel::bench {
void ReleaseReadFiles();
}  // namespace sonavel::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::string pattern = sonavel::JoinPath(sonavel::TempFolder(), "sonavel-bench-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("sonavel bench: cannot create a working folder");
    return 1;
  }
  sonavel::SetWorkingFolder(pattern);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  sonavel::bench::ReleaseReadFiles();
  sonavel::CleanWorkingFolder();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return 0;
}
