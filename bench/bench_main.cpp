// Runs the store benchmarks in a working folder of their own under the temporary folder,
// which is emptied and removed afterwards whatever the benchmarks left in it.

#include "bench_folder.h"

namespace sonavel::bench {
void ReleaseReadFiles();
}  // namespace sonavel::bench

int main(int argc, char** argv) {
  return sonavel::bench::RunInWorkingFolder(argc, argv, sonavel::bench::ReleaseReadFiles);
}
