// The small text and byte inputs the editor reads from users and files: typed times (the
// range dialog, several others), typed numbers (every dialog field and command-line value)
// the envelope editor's "envelope.dat" and the equaliser's "equalizer.dat". The first byte
// picks the input; the rest is the text or the file.

#include <stdlib.h>

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

#include "document/edit_commands.h"
#include "effects/envelope.h"
#include "effects/equalizer.h"
#include "platform/paths.h"
#include "platform/settings.h"

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

void TypedNumber(std::string_view text) {
  // A whole number that is accepted is exactly what its decimal text reads as again.
  if (const std::optional<std::int64_t> whole = sonavel::ParseWholeNumber(text))
    Check(sonavel::ParseWholeNumber(std::to_string(*whole)) == whole, "a whole number reads back");
  if (const std::optional<double> real = sonavel::ParseRealNumber(text)) Check(std::isfinite(*real), "reals are finite");
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

// The equaliser's curve: the same reader, then its response table at a rate taken from
// the file's first point, which must stay within the table whatever the points are.
void EqualizerFile(const std::uint8_t* data, std::size_t size) {
  const std::string path = sonavel::EqualizerFilePath();
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  const sonavel::EnvelopePoints points = sonavel::LoadEqualizerPoints();
  Check(!points.empty() && points.size() <= sonavel::kMaxEnvelopePoints, "1 to 64 points");
  for (std::size_t i = 1; i < points.size(); ++i) Check(points[i].first >= points[i - 1].first, "x never falls");
  const std::int32_t rate = 1000 + 375 * points.front().second;
  const sonavel::EqualizerTable table = sonavel::BuildEqualizerTable(points, rate);
  // Every entry lies between the lowest and the highest point.
  std::uint8_t lowest = 255, highest = 0;
  for (const auto& point : points) {
    lowest = std::min(lowest, point.second);
    highest = std::max(highest, point.second);
  }
  for (const std::uint8_t y : table) Check(y >= lowest && y <= highest, "table within the points' heights");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/sonavel-text-fuzz-XXXXXX";
  if (::mkdtemp(folder) != nullptr) ::setenv("SONAVEL_DATA_DIR", folder, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0: TypedTime(text); break;
    case 1: EnvelopeFile(data + 1, size - 1); break;
    case 3: EqualizerFile(data + 1, size - 1); break;
    default: TypedNumber(text); break;
  }
  return 0;
}
