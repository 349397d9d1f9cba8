// The small text and byte inputs the editor reads from users and files: typed times (the
// range dialog, several others) and the envelope editor's "envelope.dat". The first byte
// picks the input; the rest is the text or the file.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "document/edit_commands.h"
#include "effects/envelope.h"
#include "platform/paths.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

void TypedTime(std::string_view text) {
  const std::int64_t ms = sonavel::ParseTypedTime(text);
  // What the range dialog shows reads back as the same time to the hundredth.
  if (ms >= 0 && ms < std::int64_t{1} << 40) {
    const std::int64_t again = sonavel::ParseTypedTime(sonavel::TypedTimeText(ms));
    Check(again >= ms - 5 && again <= ms + 5, "a shown time reads back within 5 ms");
  }
}

void EnvelopeFile(const std::uint8_t* data, std::size_t size) {
  const std::string path = sonavel::EnvelopeFilePath();
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  const sonavel::EnvelopePoints points = sonavel::LoadEnvelopePoints();
  // A short file may leave a single point (the effect then does nothing); never none.
  Check(!points.empty() && points.size() <= sonavel::kMaxEnvelopePoints, "1 to 64 points");
  for (std::size_t i = 1; i < points.size(); ++i) Check(points[i].first >= points[i - 1].first, "x never falls");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/sonavel-text-fuzz-XXXXXX";
  if (::mkdtemp(folder) != nullptr) ::setenv("SONAVEL_DATA_DIR", folder, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0)
    TypedTime(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  else
    EnvelopeFile(data + 1, size - 1);
  return 0;
}
