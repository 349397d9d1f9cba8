#include "formats/gsm610.h"

#include <algorithm>
#include <cstring>

namespace sonavel {

namespace {

// The standard's basic operations on 16-bit words and 32-bit longwords, with saturation.
constexpr std::int32_t kMinWord = -32768;
constexpr std::int32_t kMaxWord = 32767;
constexpr std::int32_t kMinLong = -2147483647 - 1;
constexpr std::int32_t kMaxLong = 2147483647;

// Saturation is rare on sound: a branch the processor predicts keeps it off the filters'
// chains of dependent steps, which conditional moves would lengthen.
inline std::int32_t Saturate(std::int32_t x) {
  if (__builtin_expect(static_cast<std::uint32_t>(x - kMinWord) > 0xFFFFu, 0)) return x < 0 ? kMinWord : kMaxWord;
  return x;
}
inline std::int32_t Add(std::int32_t a, std::int32_t b) { return Saturate(a + b); }
inline std::int32_t Sub(std::int32_t a, std::int32_t b) { return Saturate(a - b); }
inline std::int32_t Mult(std::int32_t a, std::int32_t b) {
  return a == kMinWord && b == kMinWord ? kMaxWord : (a * b) >> 15;
}
inline std::int32_t MultR(std::int32_t a, std::int32_t b) {
  return a == kMinWord && b == kMinWord ? kMaxWord : (a * b + 16384) >> 15;
}
// MultR for a coefficient that is never -32768 (reflection coefficients, LTP gains): the
// special case cannot arise.
inline std::int32_t MultRBy(std::int32_t coefficient, std::int32_t x) { return (coefficient * x + 16384) >> 15; }
inline std::int32_t Abs(std::int32_t a) { return a == kMinWord ? kMaxWord : a < 0 ? -a : a; }
inline std::int32_t LMult(std::int32_t a, std::int32_t b) {
  const std::int32_t product = a * b;
  return product == 0x40000000 ? kMaxLong : product * 2;
}
inline std::int32_t LAdd(std::int32_t a, std::int32_t b) {
  std::int32_t sum;
  if (__builtin_expect(__builtin_add_overflow(a, b, &sum), 0)) return a < 0 ? kMinLong : kMaxLong;
  return sum;
}
// Left shifts that normalise a positive longword.
inline int Norm(std::int32_t a) { return a <= 0 ? 0 : __builtin_clz(static_cast<std::uint32_t>(a)) - 1; }
// num / denom in Q15, for 0 <= num <= denom.
std::int32_t Div(std::int32_t num, std::int32_t denom) {
  std::int32_t quotient = 0;
  for (int k = 0; k < 15; ++k) {
    quotient <<= 1;
    num <<= 1;
    if (num >= denom) {
      num -= denom;
      ++quotient;
    }
  }
  return quotient;
}

// The standard's tables: LAR quantisation (A, B, MIC, MAC) and its inverse (INVA), the LTP
// gain decision levels (DLB) and quantised gains (QLB), the weighting filter's impulse
// response (H), and the normalised inverse (NRFAC) and direct (FAC) mantissas of the APCM.
constexpr std::int32_t kA[8] = {20480, 20480, 20480, 20480, 13964, 15360, 8534, 9036};
constexpr std::int32_t kB[8] = {0, 0, 2048, -2560, 94, -1792, -341, -1144};
constexpr std::int32_t kMic[8] = {-32, -32, -16, -16, -8, -8, -4, -4};
constexpr std::int32_t kMac[8] = {31, 31, 15, 15, 7, 7, 3, 3};
constexpr std::int32_t kInvA[8] = {13107, 13107, 13107, 13107, 19223, 17476, 31454, 29708};
constexpr std::int32_t kDlb[4] = {6554, 16384, 26214, 32767};
constexpr std::int32_t kQlb[4] = {3277, 11469, 21299, 32767};
constexpr std::int32_t kH[11] = {-134, -374, 0, 2054, 5741, 8192, 5741, 2054, 0, -374, -134};
constexpr std::int32_t kNrFac[8] = {29128, 26215, 23832, 21846, 20165, 18725, 17476, 16384};
constexpr std::int32_t kFac[8] = {18431, 20479, 22527, 24575, 26623, 28671, 30719, 32767};

// Decoded log-area ratios of the coded ones.
void DecodeLars(const std::uint8_t* larc, std::int16_t* larpp) {
  for (int i = 0; i < 8; ++i) {
    std::int32_t temp1 = Add(larc[i], kMic[i]) << 10;
    temp1 = Sub(temp1, kB[i] << 1);
    temp1 = MultR(kInvA[i], temp1);
    larpp[i] = static_cast<std::int16_t>(Add(temp1, temp1));
  }
}

// The reflection coefficients of segment `segment` (0..3: samples 0..12, 13..26, 27..39,
// 40..159), interpolated between the previous frame's LARs and this one's.
void ReflectionCoefficients(int segment, const std::int16_t* previous, const std::int16_t* current,
                            std::int32_t* rp) {
  for (int i = 0; i < 8; ++i) {
    std::int32_t lar;
    switch (segment) {
      case 0: lar = Add(Add(previous[i] >> 2, current[i] >> 2), previous[i] >> 1); break;
      case 1: lar = Add(previous[i] >> 1, current[i] >> 1); break;
      case 2: lar = Add(Add(previous[i] >> 2, current[i] >> 2), current[i] >> 1); break;
      default: lar = current[i]; break;
    }
    std::int32_t temp = Abs(lar);
    if (temp < 11059)
      temp <<= 1;
    else if (temp < 20070)
      temp += 11059;
    else
      temp = Add(temp >> 2, 26112);
    rp[i] = lar < 0 ? -temp : temp;
  }
}

constexpr int kSegmentStart[5] = {0, 13, 27, 40, 160};

// Exponent and mantissa (0..7) of a coded block amplitude.
void ExponentAndMantissa(std::int32_t xmaxc, std::int32_t& exponent, std::int32_t& mantissa) {
  exponent = xmaxc > 15 ? (xmaxc >> 3) - 1 : 0;
  mantissa = xmaxc - (exponent << 3);
  if (mantissa == 0) {
    exponent = -4;
    mantissa = 15;
  } else {
    while (mantissa <= 7) {
      mantissa = mantissa << 1 | 1;
      --exponent;
    }
  }
  mantissa -= 8;
}

// The 13 RPE pulses of a subframe as residual samples.
void InverseApcm(const std::uint8_t* pulses, std::int32_t exponent, std::int32_t mantissa, std::int32_t* xmp) {
  const std::int32_t factor = kFac[mantissa];
  const std::int32_t shift = Sub(6, exponent);
  // A shift of 0 rounds by nothing (1 << -1 in the standard's shift, which turns to 0).
  const std::int32_t rounding = shift > 0 ? 1 << (shift - 1) : 0;
  for (int i = 0; i < 13; ++i) {
    std::int32_t temp = ((pulses[i] << 1) - 7) << 12;
    temp = MultR(factor, temp);
    temp = Add(temp, rounding);
    xmp[i] = temp >> shift;
  }
}

}  // namespace

void GsmEncoder::EncodePcm16(const std::int16_t* pcm, GsmFrame& frame) {
  std::int16_t s[kGsmFrameSamples];
  for (int k = 0; k < kGsmFrameSamples; ++k) {
    const std::int32_t so = (pcm[k] >> 3) << 2;
    // Offset compensation: a high-pass with its pole at 32735 / 32768.
    const std::int32_t s1 = Sub(so, z1_);
    z1_ = so;
    std::int32_t l_s2 = s1 << 15;
    const std::int32_t msp = l_z2_ >> 15;
    const std::int32_t lsp = l_z2_ - (msp << 15);
    l_s2 += MultR(lsp, 32735);
    l_z2_ = LAdd(msp * 32735, l_s2);
    const std::int32_t sof = LAdd(l_z2_, 16384) >> 15;
    // Pre-emphasis.
    s[k] = static_cast<std::int16_t>(Add(sof, MultR(mp_, -28180)));
    mp_ = sof;
  }
  Analyse(s, frame);
}

void GsmEncoder::EncodeStore(const std::int32_t* samples, GsmFrame& frame) {
  std::int16_t s[kGsmFrameSamples];
  for (int k = 0; k < kGsmFrameSamples; ++k) {
    accumulator_ += (samples[k] - previous_input_) * 1024;
    previous_input_ = samples[k];
    const std::int64_t y = (accumulator_ + 512) >> 10;
    accumulator_ -= y;
    const std::int64_t e = y - ((previous_offset_free_ * 880 + 512) >> 10);
    previous_offset_free_ = y;
    s[k] = static_cast<std::int16_t>(std::clamp<std::int64_t>((e + 16) >> 5, kMinWord, kMaxWord));
  }
  Analyse(s, frame);
}

void GsmEncoder::Analyse(std::int16_t* s, GsmFrame& frame) {
  // Autocorrelation of the signal scaled down so that its sums cannot overflow; the signal
  // keeps the rounding of that scaling when it is scaled back.
  std::int32_t smax = 0;
  for (int k = 0; k < kGsmFrameSamples; ++k) smax = std::max(smax, Abs(s[k]));
  const int scale = smax == 0 ? 0 : 4 - Norm(smax << 16);
  if (scale > 0) {
    const std::int32_t factor = 16384 >> (scale - 1);
    for (int k = 0; k < kGsmFrameSamples; ++k) s[k] = static_cast<std::int16_t>(MultR(s[k], factor));
  }
  std::int32_t l_acf[9];
  for (int k = 0; k < 9; ++k) {
    std::int32_t sum = 0;
    for (int i = k; i < kGsmFrameSamples; ++i) sum = LAdd(sum, LMult(s[i], s[i - k]));
    l_acf[k] = sum;
  }
  if (scale > 0)
    for (int k = 0; k < kGsmFrameSamples; ++k) s[k] = static_cast<std::int16_t>(s[k] << scale);

  // Schur recursion: the reflection coefficients.
  std::int32_t r[8] = {};
  if (l_acf[0] != 0) {
    const int shift = Norm(l_acf[0]);
    std::int32_t p[9];
    std::int32_t k_[9];
    for (int i = 0; i < 9; ++i) p[i] = (l_acf[i] << shift) >> 16;
    for (int i = 1; i <= 7; ++i) k_[9 - i] = p[i];
    for (int n = 1; n <= 8; ++n) {
      if (p[0] < Abs(p[1])) break;  // the rest stay 0
      std::int32_t rn = Div(Abs(p[1]), p[0]);
      if (p[1] > 0) rn = -rn;
      r[n - 1] = rn;
      if (n == 8) break;
      p[0] = Add(p[0], MultR(p[1], rn));
      for (int m = 1; m <= 8 - n; ++m) {
        p[m] = Add(p[m + 1], MultR(k_[9 - m], rn));
        k_[9 - m] = Add(k_[9 - m], MultR(p[m + 1], rn));
      }
    }
  }

  // Log-area ratios, quantised and coded.
  for (int i = 0; i < 8; ++i) {
    std::int32_t temp = Abs(r[i]);
    if (temp < 22118)
      temp >>= 1;
    else if (temp < 31130)
      temp -= 11059;
    else
      temp = (temp - 26112) << 2;
    const std::int32_t lar = r[i] < 0 ? -temp : temp;
    temp = Add(Add(Mult(kA[i], lar), kB[i]), 256) >> 9;
    frame.lar[i] = static_cast<std::uint8_t>(std::clamp(temp, kMic[i], kMac[i]) - kMic[i]);
  }

  // Short-term analysis filtering with the decoded LARs, interpolated in four segments.
  // The filter state lives in locals while it runs, which the compiler keeps in registers
  // (the output array might otherwise alias it).
  std::int16_t larpp[8];
  DecodeLars(frame.lar, larpp);
  std::int32_t u[8];
  std::copy_n(u_, 8, u);
  for (int segment = 0; segment < 4; ++segment) {
    std::int32_t rp[8];
    ReflectionCoefficients(segment, previous_larpp_, larpp, rp);
    for (int k = kSegmentStart[segment]; k < kSegmentStart[segment + 1]; ++k) {
      std::int32_t di = s[k];
      std::int32_t sav = di;
      for (int i = 0; i < 8; ++i) {
        const std::int32_t temp = Add(u[i], MultRBy(rp[i], di));
        di = Add(di, MultRBy(rp[i], u[i]));
        u[i] = sav;
        sav = temp;
      }
      s[k] = static_cast<std::int16_t>(di);
    }
  }
  for (int i = 0; i < 8; ++i) u_[i] = static_cast<std::int16_t>(u[i]);
  std::memcpy(previous_larpp_, larpp, sizeof larpp);

  for (int j = 0; j < 4; ++j) {
    const std::int16_t* d = s + 40 * j;
    GsmFrame::Subframe& sub = frame.sub[j];
    // Long-term prediction: the lag of the largest cross-correlation with the
    // reconstructed residual, on a copy of the residual scaled to 9 bits or fewer.
    std::int32_t dmax = 0;
    for (int k = 0; k < 40; ++k) dmax = std::max(dmax, Abs(d[k]));
    int scal = 0;
    if (dmax != 0) {
      const int temp = Norm(dmax << 16);
      scal = temp > 6 ? 0 : 6 - temp;
    }
    std::int16_t wt[40];
    for (int k = 0; k < 40; ++k) wt[k] = static_cast<std::int16_t>(d[k] >> scal);
    std::int32_t l_max = 0;
    int lag = 40;
    for (int lambda = 40; lambda <= 120; ++lambda) {
      // No saturation can happen here: 40 products of 9 and 16 bits.
      const std::int16_t* past = dp_ + 120 - lambda;
      std::int32_t sum = 0;
      for (int k = 0; k < 40; ++k) sum += wt[k] * past[k];
      sum *= 2;
      if (sum > l_max) {
        lag = lambda;
        l_max = sum;
      }
    }
    l_max >>= 6 - scal;
    const std::int16_t* chosen = dp_ + 120 - lag;
    std::int32_t l_power = 0;
    for (int k = 0; k < 40; ++k) {
      const std::int32_t temp = chosen[k] >> 3;
      l_power = LAdd(l_power, LMult(temp, temp));
    }
    int gain = 0;
    if (l_max <= 0) {
      gain = 0;
    } else if (l_max >= l_power) {
      gain = 3;
    } else {
      const int temp = Norm(l_power);
      const std::int32_t rr = (l_max << temp) >> 16;
      const std::int32_t ss = (l_power << temp) >> 16;
      for (gain = 0; gain < 3; ++gain)
        if (rr <= Mult(ss, kDlb[gain])) break;
    }
    sub.lag = static_cast<std::uint8_t>(lag);
    sub.gain = static_cast<std::uint8_t>(gain);

    // Long-term analysis filtering, with room for the weighting filter on both sides.
    std::int32_t dpp[40];
    std::int32_t e[50] = {};
    for (int k = 0; k < 40; ++k) {
      dpp[k] = MultRBy(kQlb[gain], chosen[k]);
      e[k + 5] = Sub(d[k], dpp[k]);
    }

    // Weighting filter.
    std::int32_t x[40];
    for (int k = 0; k < 40; ++k) {
      std::int32_t sum = 8192;
      for (int i = 0; i < 11; ++i) sum += e[k + i] * kH[i] * 2;
      sum = LAdd(sum, sum);
      sum = LAdd(sum, sum);
      x[k] = sum >> 16;
    }

    // RPE grid selection: the decimated sequence of the largest energy.
    std::int32_t em = 0;
    int grid = 0;
    for (int m = 0; m < 4; ++m) {
      std::int32_t sum = 0;
      for (int i = 0; i < 13; ++i) {
        const std::int32_t temp = x[m + 3 * i] >> 2;
        sum += temp * temp * 2;
      }
      if (sum > em) {
        grid = m;
        em = sum;
      }
    }
    std::int32_t xm[13];
    for (int i = 0; i < 13; ++i) xm[i] = x[grid + 3 * i];
    sub.grid = static_cast<std::uint8_t>(grid);

    // APCM quantisation: the block amplitude, then the pulses relative to it.
    std::int32_t xmax = 0;
    for (int i = 0; i < 13; ++i) xmax = std::max(xmax, Abs(xm[i]));
    std::int32_t exponent = 0;
    for (std::int32_t temp = xmax >> 9; temp > 0 && exponent < 6; temp >>= 1) ++exponent;
    const std::int32_t xmaxc = Add(xmax >> (exponent + 5), exponent << 3);
    sub.xmax = static_cast<std::uint8_t>(xmaxc);
    std::int32_t mantissa;
    ExponentAndMantissa(xmaxc, exponent, mantissa);
    const int up = 6 - exponent;
    for (int i = 0; i < 13; ++i) {
      const std::int32_t temp = Mult(static_cast<std::int16_t>(xm[i] << up), kNrFac[mantissa]);
      sub.pulses[i] = static_cast<std::uint8_t>((temp >> 12) + 4);
    }

    // The reconstructed residual for the next subframes' prediction.
    std::int32_t xmp[13];
    InverseApcm(sub.pulses, exponent, mantissa, xmp);
    std::int32_t ep[40] = {};
    for (int i = 0; i < 13; ++i) ep[grid + 3 * i] = xmp[i];
    std::memmove(dp_, dp_ + 40, 80 * sizeof dp_[0]);
    for (int k = 0; k < 40; ++k) dp_[80 + k] = static_cast<std::int16_t>(Add(ep[k], dpp[k]));
  }
}

void GsmDecoder::Synthesise(const GsmFrame& frame, std::int16_t* sr) {
  std::int16_t wt[kGsmFrameSamples];
  for (int j = 0; j < 4; ++j) {
    const GsmFrame::Subframe& sub = frame.sub[j];
    std::int32_t exponent;
    std::int32_t mantissa;
    ExponentAndMantissa(sub.xmax, exponent, mantissa);
    std::int32_t xmp[13];
    InverseApcm(sub.pulses, exponent, mantissa, xmp);
    std::int32_t erp[40] = {};
    for (int i = 0; i < 13; ++i) erp[(sub.grid & 3) + 3 * i] = xmp[i];
    // Long-term synthesis; a lag outside 40..120 repeats the previous one.
    const std::int32_t lag = sub.lag >= 40 && sub.lag <= 120 ? sub.lag : nrp_;
    nrp_ = lag;
    const std::int32_t gain = kQlb[sub.gain & 3];
    for (int k = 0; k < 40; ++k) {
      drp_[120 + k] = static_cast<std::int16_t>(Add(erp[k], MultRBy(gain, drp_[120 + k - lag])));
      wt[40 * j + k] = drp_[120 + k];
    }
    std::memmove(drp_, drp_ + 40, 120 * sizeof drp_[0]);
  }

  std::int16_t larpp[8];
  DecodeLars(frame.lar, larpp);
  std::int32_t v[9];
  std::copy_n(v_, 9, v);
  for (int segment = 0; segment < 4; ++segment) {
    std::int32_t rrp[8];
    ReflectionCoefficients(segment, previous_larpp_, larpp, rrp);
    for (int k = kSegmentStart[segment]; k < kSegmentStart[segment + 1]; ++k) {
      std::int32_t sri = wt[k];
      for (int i = 7; i >= 0; --i) {
        sri = Sub(sri, MultRBy(rrp[i], v[i]));
        v[i + 1] = Add(v[i], MultRBy(rrp[i], sri));
      }
      sr[k] = static_cast<std::int16_t>(sri);
      v[0] = sri;
    }
  }
  for (int i = 0; i < 9; ++i) v_[i] = static_cast<std::int16_t>(v[i]);
  std::memcpy(previous_larpp_, larpp, sizeof larpp);
}

void GsmDecoder::DecodePcm16(const GsmFrame& frame, std::int16_t* pcm) {
  std::int16_t sr[kGsmFrameSamples];
  Synthesise(frame, sr);
  for (int k = 0; k < kGsmFrameSamples; ++k) {
    msr_ = Add(sr[k], MultR(msr_, 28180));
    pcm[k] = static_cast<std::int16_t>(Add(msr_, msr_) & 0xFFF8);
  }
}

void GsmDecoder::DecodeStore(const GsmFrame& frame, std::int32_t* samples) {
  std::int16_t sr[kGsmFrameSamples];
  Synthesise(frame, sr);
  std::int64_t previous = previous_output_;
  for (int k = 0; k < kGsmFrameSamples; ++k) {
    previous = std::int64_t{sr[k]} * 32 + ((previous * 880 + 512) >> 10);
    samples[k] = static_cast<std::int32_t>(std::clamp<std::int64_t>(previous, -kGsmPeak, kGsmPeak));
  }
  previous_output_ = previous;
}

namespace {

constexpr int kLarBits[8] = {6, 6, 5, 5, 4, 4, 3, 3};

// Visits every parameter of a frame in stream order with its width in bits.
template <typename Frame, typename Visit>
void ForEachParameter(Frame& frame, const Visit& visit) {
  for (int i = 0; i < 8; ++i) visit(frame.lar[i], kLarBits[i]);
  for (auto& sub : frame.sub) {
    visit(sub.lag, 7);
    visit(sub.gain, 2);
    visit(sub.grid, 2);
    visit(sub.xmax, 6);
    for (auto& pulse : sub.pulses) visit(pulse, 3);
  }
}

}  // namespace

void PackGsmFrame(const GsmFrame& frame, std::uint8_t* out) {
  std::uint32_t bits = 0xD;
  int count = 4;
  ForEachParameter(frame, [&](std::uint8_t value, int width) {
    bits = bits << width | (value & ((1u << width) - 1));
    count += width;
    while (count >= 8) {
      count -= 8;
      *out++ = static_cast<std::uint8_t>(bits >> count);
    }
  });
}

void UnpackGsmFrame(const std::uint8_t* in, GsmFrame& frame) {
  std::uint32_t bits = *in++ & 15u;
  int count = 4;
  ForEachParameter(frame, [&](std::uint8_t& value, int width) {
    while (count < width) {
      bits = bits << 8 | *in++;
      count += 8;
    }
    count -= width;
    value = static_cast<std::uint8_t>((bits >> count) & ((1u << width) - 1));
  });
}

void PackGsmWavBlock(const GsmFrame& first, const GsmFrame& second, std::uint8_t* out) {
  std::uint32_t bits = 0;
  int count = 0;
  auto put = [&](std::uint8_t value, int width) {
    bits |= static_cast<std::uint32_t>(value & ((1u << width) - 1)) << count;
    count += width;
    while (count >= 8) {
      *out++ = static_cast<std::uint8_t>(bits);
      bits >>= 8;
      count -= 8;
    }
  };
  ForEachParameter(first, put);
  ForEachParameter(second, put);
}

void UnpackGsmWavBlock(const std::uint8_t* in, GsmFrame& first, GsmFrame& second) {
  std::uint32_t bits = 0;
  int count = 0;
  auto get = [&](std::uint8_t& value, int width) {
    while (count < width) {
      bits |= static_cast<std::uint32_t>(*in++) << count;
      count += 8;
    }
    value = static_cast<std::uint8_t>(bits & ((1u << width) - 1));
    bits >>= width;
    count -= width;
  };
  ForEachParameter(first, get);
  ForEachParameter(second, get);
}

}  // namespace sonavel
