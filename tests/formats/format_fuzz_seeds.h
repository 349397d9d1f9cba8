#pragma once
// Seeds for the table-driven format readers' fuzz target, written by the format tests
// when SONAVEL_FORMAT_FUZZ_SEEDS names a folder (fuzz/build.sh runs the tests whose
// fixture ends in "FormatSeeds" that way). A seed is the file with one byte in front:
// the place of the file's format among the table's entries other than WAV, which is how
// the target picks the reader.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/format_table.h"
#include "platform/paths.h"
#include "wav_fixture.h"

namespace sonavel::testing {

inline void SaveFormatFuzzSeed(const std::string& path) {
  const char* corpus = std::getenv("SONAVEL_FORMAT_FUZZ_SEEDS");
  if (corpus == nullptr || *corpus == '\0') return;
  const FileFormat* format = FormatForPath(path);
  ASSERT_NE(format, nullptr) << path;
  std::uint8_t index = 0;
  for (const FileFormat& entry : FormatTable()) {
    if (&entry == format) break;
    if (entry.name != "WAV") ++index;
  }
  std::vector<std::uint8_t> seed = ReadBytes(path);
  seed.insert(seed.begin(), index);
  WriteBytes(JoinPath(corpus, path.substr(path.find_last_of('/') + 1)), seed);
}

}  // namespace sonavel::testing
