// What ffprobe prints for the media loader: its "key=value" lines about the first audio
// stream, whose values must come out checked whatever the text.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "formats/media_loader.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

void Probe(std::string_view text) {
  const std::optional<sonavel::MediaProbe> probe = sonavel::ParseMediaProbe(text);
  if (!probe) return;
  Check(probe->rate >= 1 && probe->rate <= 196000, "rate out of range");
  Check(probe->channels >= 1 && probe->channels <= 255, "channels out of range");
  Check(std::isfinite(probe->seconds) && probe->seconds >= 0 && probe->seconds <= 1e9,
        "duration out of range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Probe(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
