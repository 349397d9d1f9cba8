// Fuzz target for the Layer III frame decoder: any bytes as a run of frames. Each frame
// starts with four bytes made into a Layer III header the reader accepts (sync, layer,
// a known version, bit rate and rate; the rest as given), followed by as much of its body
// as the input holds. The decoder must never crash or read or write out of bounds, must
// write exactly one frame of samples within its limit, and must keep going after damage.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/mp3_decoder.h"
#include "formats/mp3_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonavel::mp3;
  FrameDecoder decoder;
  constexpr std::int32_t kGuard = 0x5A5A5A5A;
  std::vector<std::int32_t> out;
  std::size_t at = 0;
  for (int frames = 0; at + kHeaderBytes <= size && frames < 64; ++frames) {
    std::vector<std::uint8_t> frame(data + at, data + size);
    frame[0] = 0xFF;
    const int version = (frame[1] >> 3) & 3;
    frame[1] =
        static_cast<std::uint8_t>(0xE0 | (version == 1 ? 3 : version) << 3 | 0x02 | (frame[1] & 1));
    frame[2] = static_cast<std::uint8_t>((1 + (frame[2] >> 4) % 14) << 4 |
                                         (((frame[2] >> 2) & 3) % 3) << 2 | (frame[2] & 3));
    const auto header = ParseFrameHeader(frame.data());
    if (!header) __builtin_trap();  // every header made above is one the reader takes
    // The input's first byte after the header, when odd, cuts the frame short there.
    std::size_t bytes = std::min<std::size_t>(header->frame_bytes, frame.size());
    if (bytes > kHeaderBytes && (frame[kHeaderBytes] & 1))
      bytes = kHeaderBytes + frame[kHeaderBytes] % (bytes - kHeaderBytes);
    frame.resize(bytes);
    const std::size_t samples =
        static_cast<std::size_t>(header->samples_per_frame * header->channels);
    out.assign(samples + 1, kGuard);
    decoder.Decode(*header, frame.data(), frame.size(), out.data());
    if (out[samples] != kGuard) __builtin_trap();  // wrote past the frame
    for (std::size_t i = 0; i < samples; ++i)
      if (std::abs(out[i]) > kDecodedPeak) __builtin_trap();
    at += bytes;
    if (frames % 16 == 15) decoder.Reset();
  }
  return 0;
}
