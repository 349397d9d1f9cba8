#pragma once
// Running a peer program on raw 16-bit files, for comparisons in tests.

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace sonavel::testing {

// The command's exit status through the shell, or -1.
inline int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status == -1 ? -1 : WEXITSTATUS(status);
}

// 16-bit samples as raw bytes in the machine's order (little-endian here, as told to the peers).
inline void WriteRaw16(const std::string& path, const std::vector<std::int16_t>& samples) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(2 * samples.size()));
}

inline std::vector<std::int16_t> ReadRaw16(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return {};
  std::vector<std::int16_t> samples(static_cast<std::size_t>(file.tellg()) / 2);
  file.seekg(0).read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(2 * samples.size()));
  return samples;
}

}  // namespace sonavel::testing
