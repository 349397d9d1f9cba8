#pragma once
// The synthesis half of the Layer III decoder: the hybrid filter bank (inverse MDCT with
// the block type's window, overlap-add, frequency inversion) and the polyphase synthesis
// filter bank, one granule of one channel at a time.

#include <array>
#include <cstdint>

namespace sonavel::mp3 {

inline constexpr int kGranuleLines = 576;

// One granule of one channel as the spectrum stage hands it over: the 576 lines
// requantized (full scale 1.0), stereo-processed, short blocks reordered into subband
// order and aliasing reduced where the standard reduces it.
struct GranuleSpectrum {
  float lines[kGranuleLines];
  int block_type = 0;        // 0 normal, 1 start, 2 short (three windows), 3 stop
  bool mixed_block = false;  // short blocks above the two lowest subbands only
  // Lines at and above this index are all zero (an upper bound; 576 when unknown).
  int nonzero_lines = kGranuleLines;
};

namespace detail {
// The coefficients D[0] ... D[511] of the synthesis window as the standard prints them.
extern const std::array<double, 512> kSynthesisWindow;
}  // namespace detail

// The synthesis state of one channel.
class ChannelSynthesis {
 public:
  ChannelSynthesis();
  // Forgets the overlap and the polyphase history.
  void Reset();
  // The 576 time samples of one granule, written to out[0], out[stride], ... scaled so that
  // full scale is 524288 and limited to ±2097152.
  void Granule(const GranuleSpectrum& spectrum, std::int32_t* out, int stride);

 private:
  // The second halves of the last granule's inverse transforms, per subband.
  alignas(32) float overlap_[32][18];
  // The polyphase filter bank's history: per DCT output, its values in the last 15 time
  // slots of the previous granule, then room for this granule's (padded to whole vectors).
  alignas(32) float history_[32][40];
};

}  // namespace sonavel::mp3
