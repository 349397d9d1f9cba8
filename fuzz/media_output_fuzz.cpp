// What ffmpeg and ffprobe print for the media loader: the -progress reports and the probe's
// "key=value" lines. The first byte picks the reader and, for the reports, the size of the
// pieces they arrive in; the rest is the output.

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

// Reports read in pieces of `piece` bytes must come out as when read at once.
void Reports(std::string_view text, std::size_t piece) {
  sonavel::MediaProgressReader whole;
  whole.Feed(text);
  sonavel::MediaProgressReader pieces;
  bool ended = false;
  for (std::size_t at = 0; at < text.size(); at += piece) {
    pieces.Feed(text.substr(at, piece));
    Check(!ended || pieces.ended(), "an end was taken back");
    ended = pieces.ended();
    Check(pieces.out_time_us() >= -1, "a negative time");
  }
  Check(whole.out_time_us() == pieces.out_time_us(), "the pieces changed the time");
  Check(whole.ended() == pieces.ended(), "the pieces changed the end");
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
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1)
    Probe(text);
  else
    Reports(text, std::size_t{data[0]} / 2 + 1);
  return 0;
}
