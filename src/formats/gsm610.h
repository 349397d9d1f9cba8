#pragma once
// The GSM 06.10 full-rate speech codec (RPE-LTP), bit-exact to the standard's fixed-point
// arithmetic: 160 samples at 8000 Hz per 20 ms frame, 76 parameters in 260 bits.
//
// The core works on the signal the standard's LPC analysis receives and its short-term
// synthesis delivers (15-bit range). Two front ends wrap it: the standard's own 13-bit
// pre- and post-processing on 16-bit PCM (GSM in WAV), and the same steps in store units
// for ".gsm" files (the store's full scale is 16 times the 16-bit one).

#include <cstddef>
#include <cstdint>

namespace sonavel {

inline constexpr int kGsmFrameSamples = 160;
inline constexpr std::size_t kGsmFrameBytes = 33;       // one frame with the 0xD signature nibble
inline constexpr std::size_t kGsmWavBlockBytes = 65;    // two frames, as GSM in WAV packs them
inline constexpr int kGsmWavBlockSamples = 320;
// The largest magnitude the store-unit decoder delivers.
inline constexpr std::int32_t kGsmPeak = 1048544;

// The 76 parameters of one frame, each as its unsigned code.
struct GsmFrame {
  std::uint8_t lar[8];  // log-area ratios: 6, 6, 5, 5, 4, 4, 3, 3 bits
  struct Subframe {
    std::uint8_t lag;         // LTP lag, 7 bits (40..120 when valid)
    std::uint8_t gain;        // LTP gain, 2 bits
    std::uint8_t grid;        // RPE grid position, 2 bits
    std::uint8_t xmax;        // block amplitude, 6 bits
    std::uint8_t pulses[13];  // RPE pulses, 3 bits each
  } sub[4];
};

class GsmEncoder {
 public:
  // 160 samples of 16-bit PCM, of which the top 13 bits count: the standard's scaling,
  // offset compensation and pre-emphasis, then the analysis.
  void EncodePcm16(const std::int16_t* pcm, GsmFrame& frame);
  // 160 store samples: offset compensation and pre-emphasis in store units, then the
  // analysis of (e + 16) >> 5, limited to 16 bits.
  void EncodeStore(const std::int32_t* samples, GsmFrame& frame);
  void Reset() { *this = GsmEncoder{}; }

 private:
  void Analyse(std::int16_t* s, GsmFrame& frame);

  // The standard's pre-processing.
  std::int32_t z1_ = 0;
  std::int32_t l_z2_ = 0;
  std::int32_t mp_ = 0;
  // The store-unit pre-processing.
  std::int64_t accumulator_ = 0;
  std::int64_t previous_input_ = 0;
  std::int64_t previous_offset_free_ = 0;
  // The analysis.
  std::int16_t u_[8] = {};
  std::int16_t previous_larpp_[8] = {};
  std::int16_t dp_[120] = {};
};

class GsmDecoder {
 public:
  // 160 samples of 16-bit PCM through the standard's de-emphasis and 13-bit truncation.
  void DecodePcm16(const GsmFrame& frame, std::int16_t* pcm);
  // 160 store samples: synthesis × 32 plus (previous × 880 + 512) >> 10. The recursion
  // runs unclamped; what is delivered is limited to ±kGsmPeak.
  void DecodeStore(const GsmFrame& frame, std::int32_t* samples);
  void Reset() { *this = GsmDecoder{}; }

 private:
  void Synthesise(const GsmFrame& frame, std::int16_t* sr);

  std::int16_t drp_[160] = {};  // 120 of history, then the subframe being built
  std::int32_t nrp_ = 40;
  std::int16_t v_[9] = {};
  std::int16_t previous_larpp_[8] = {};
  std::int32_t msr_ = 0;
  std::int64_t previous_output_ = 0;
};

// The 33-byte layout: the signature nibble 0xD, then the parameters in order, each most
// significant bit first.
void PackGsmFrame(const GsmFrame& frame, std::uint8_t* out);
void UnpackGsmFrame(const std::uint8_t* in, GsmFrame& frame);
// The 65-byte layout of GSM in WAV: two frames of 260 bits, the parameters in the same
// order, each least significant bit first, filled into the bytes from their low bits.
void PackGsmWavBlock(const GsmFrame& first, const GsmFrame& second, std::uint8_t* out);
void UnpackGsmWavBlock(const std::uint8_t* in, GsmFrame& first, GsmFrame& second);

}  // namespace sonavel
