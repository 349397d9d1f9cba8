// The spectrum half of the Layer III decoder: bit reservoir, side information,
// scalefactors, Huffman decoding, requantization, stereo processing, short-block
// reordering and alias reduction. Each granule of each channel then goes to the
// channel's ChannelSynthesis.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "formats/mp3_decoder.h"
#include "formats/mp3_synthesis.h"
#include "formats/mp3_tables.h"

namespace sonavel::mp3 {

namespace {

constexpr int kSubbands = 32;
constexpr int kSubbandLines = 18;
// Main data kept from earlier frames: main_data_begin has 9 bits (8 for MPEG-2).
constexpr int kReservoirBytes = 511;
// The largest frame: 144 × 320 kbit/s ÷ 32 kHz (or 72 × 160 ÷ 8) plus padding.
constexpr int kMaxFrameBytes = 1441;
// Zeros after the main data, so that reads a little past its end stay in the buffer.
constexpr int kPaddingBytes = 64;

// Reads bits from the front of a byte array, most significant bit first. The array must
// hold 8 readable bytes past every position read from.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t bit_position)
      : data_(data), position_(bit_position) {}

  // The next 32 bits, without consuming them.
  std::uint32_t Peek32() const {
    std::uint64_t word;
    std::memcpy(&word, data_ + (position_ >> 3), sizeof word);
    word = __builtin_bswap64(word);
    return static_cast<std::uint32_t>((word << (position_ & 7)) >> 32);
  }
  std::uint32_t Read(int bits) {
    if (bits == 0) return 0;
    const std::uint32_t value = Peek32() >> (32 - bits);
    position_ += static_cast<std::size_t>(bits);
    return value;
  }
  void Skip(int bits) { position_ += static_cast<std::size_t>(bits); }
  std::size_t position() const { return position_; }

 private:
  const std::uint8_t* data_;
  std::size_t position_;
};

// The same bits through a 64-bit register, for the Huffman loops: after Refill at least
// 56 bits are at hand (most significant first). The array must hold 8 readable bytes past
// every position read from.
class BitCache {
 public:
  BitCache(const std::uint8_t* data, std::size_t bit_position)
      : next_(data + (bit_position >> 3)), position_(bit_position & ~std::size_t{7}) {
    Refill();
    Skip(static_cast<int>(bit_position & 7));
  }
  void Refill() {
    std::uint64_t word;
    std::memcpy(&word, next_, sizeof word);
    cache_ |= __builtin_bswap64(word) >> count_;
    next_ += (63 - count_) >> 3;
    count_ |= 56;
  }
  std::uint32_t Peek32() const { return static_cast<std::uint32_t>(cache_ >> 32); }
  std::uint32_t Read(int bits) {  // 1 to 32 bits
    const std::uint32_t value = static_cast<std::uint32_t>(cache_ >> (64 - bits));
    Skip(bits);
    return value;
  }
  void Skip(int bits) {
    cache_ <<= bits;
    count_ -= bits;
    position_ += static_cast<std::size_t>(bits);
  }
  std::size_t position() const { return position_; }

 private:
  const std::uint8_t* next_;
  std::size_t position_;
  std::uint64_t cache_ = 0;
  int count_ = 0;
};

// A two-level lookup decoder for one prefix code: the first level is indexed by the next
// 10 bits; codes longer than that continue in a sub-table indexed by the following bits.
// An entry is (length << 16) | value for a code, kSubTable | (bits << 24) | offset for
// a sub-table, and 0 where no code fits (the code is not complete).
constexpr int kFirstLevelBits = 10;
constexpr std::uint32_t kSubTable = 0x80000000u;

struct CodeDecoder {
  std::vector<std::uint32_t> entries;
};

struct ParsedCode {
  std::uint32_t bits;
  int length;
  int value;
};

// The code words of `text` in order; false when a word is empty, too long or not binary.
bool ParseCodes(const char* text, std::vector<ParsedCode>& codes) {
  codes.clear();
  for (const char* p = text; *p != '\0';) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    ParsedCode code{0, 0, static_cast<int>(codes.size())};
    for (; *p == '0' || *p == '1'; ++p) {
      code.bits = (code.bits << 1) | static_cast<std::uint32_t>(*p - '0');
      ++code.length;
    }
    if (code.length == 0 || code.length > 24 || (*p != ' ' && *p != '\0')) return false;
    codes.push_back(code);
  }
  return true;
}

CodeDecoder BuildDecoder(const std::vector<ParsedCode>& codes, int (*value_of)(int index, int size),
                         int size) {
  CodeDecoder decoder;
  decoder.entries.assign(1u << kFirstLevelBits, 0);
  // Longest code below each first-level prefix, for the sub-table sizes.
  std::array<int, 1 << kFirstLevelBits> longest{};
  for (const ParsedCode& code : codes) {
    if (code.length > kFirstLevelBits) {
      const std::uint32_t prefix = code.bits >> (code.length - kFirstLevelBits);
      longest[prefix] = std::max(longest[prefix], code.length);
    }
  }
  for (std::uint32_t prefix = 0; prefix < longest.size(); ++prefix) {
    if (longest[prefix] == 0) continue;
    const int bits = longest[prefix] - kFirstLevelBits;
    decoder.entries[prefix] = kSubTable | (static_cast<std::uint32_t>(bits) << 24) |
                              static_cast<std::uint32_t>(decoder.entries.size());
    decoder.entries.resize(decoder.entries.size() + (std::size_t{1} << bits), 0);
  }
  for (const ParsedCode& code : codes) {
    const std::uint32_t value = static_cast<std::uint32_t>(value_of(code.value, size));
    if (code.length <= kFirstLevelBits) {
      const int spare = kFirstLevelBits - code.length;
      const std::uint32_t first = code.bits << spare;
      for (std::uint32_t i = 0; i < (1u << spare); ++i)
        decoder.entries[first + i] = (static_cast<std::uint32_t>(code.length) << 16) | value;
    } else {
      const std::uint32_t prefix = code.bits >> (code.length - kFirstLevelBits);
      const std::uint32_t sub = decoder.entries[prefix];
      const int bits = static_cast<int>((sub >> 24) & 31);
      const int rest_length = code.length - kFirstLevelBits;
      const std::uint32_t rest = code.bits & ((1u << rest_length) - 1);
      const int spare = bits - rest_length;
      const std::size_t first = (sub & 0xFFFFFF) + (static_cast<std::size_t>(rest) << spare);
      for (std::size_t i = 0; i < (std::size_t{1} << spare); ++i)
        decoder.entries[first + i] = (static_cast<std::uint32_t>(rest_length) << 16) | value;
    }
  }
  return decoder;
}

int PairValue(int index, int size) {
  return ((index / size) << 4) | (index % size);
}
int QuadValue(int index, int) {
  return index;
}

// Where the scalefactor bands of one block kind lie: long bands, short bands (one segment
// per band and window, in the order of the Huffman data) or mixed (the long bands of the
// two lowest subbands, then short bands from band 3). Scalefactors are kept per segment.
struct Segment {
  std::uint16_t start;
  std::uint16_t width;
  std::uint8_t band;
  std::int8_t window;  // -1 for a long band
};
constexpr int kMaxSegments = 40;
struct Layout {
  std::array<Segment, kMaxSegments> segments{};
  int count = 0;
  int long_count = 0;  // the long segments at the front
  // The segment of each line; kMaxSegments for a line outside every segment.
  std::array<std::uint8_t, kGranuleLines> segment_of_line{};
};
enum BlockKind { kLong = 0, kShort = 1, kMixed = 2 };
constexpr int kMixedLongLines = 2 * kSubbandLines;
constexpr int kMixedFirstShortBand = 3;

Layout BuildLayout(int rate_table, BlockKind kind) {
  Layout layout;
  auto add = [&](int start, int width, int band, int window) {
    layout.segments[static_cast<std::size_t>(layout.count++)] = {
        static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(width),
        static_cast<std::uint8_t>(band), static_cast<std::int8_t>(window)};
  };
  int line = 0;
  if (kind != kShort) {
    for (int band = 0; band < kLongBands; ++band) {
      const int width = kLongBandWidths[rate_table][band];
      if (kind == kMixed && line + width > kMixedLongLines) break;
      add(line, width, band, -1);
      line += width;
    }
    layout.long_count = layout.count;
    if (kind == kLong) return layout;
  }
  int short_start = 0;
  for (int band = 0; band < kShortBands; ++band) {
    const int width = kShortBandWidths[rate_table][band];
    if (kind == kShort || band >= kMixedFirstShortBand) {
      for (int window = 0; window < 3; ++window)
        add(3 * short_start + window * width, width, band, window);
    }
    short_start += width;
  }
  return layout;
}

void IndexLines(Layout& layout) {
  layout.segment_of_line.fill(kMaxSegments);
  for (int s = 0; s < layout.count; ++s) {
    const Segment& segment = layout.segments[static_cast<std::size_t>(s)];
    for (int i = segment.start; i < segment.start + segment.width && i < kGranuleLines; ++i)
      layout.segment_of_line[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(s);
  }
}

struct Tables {
  std::array<CodeDecoder, kPairTableCount> pairs;
  std::array<bool, kPairTableCount> pair_usable{};
  std::array<CodeDecoder, 2> quads;
  std::array<std::array<Layout, 3>, kRateTables> layouts;
  std::array<std::array<int, kLongBands + 1>, kRateTables> long_starts{};
  std::array<std::array<int, kShortBands + 1>, kRateTables> short_starts{};
  std::vector<float>
      pow43;  // sign(x) |x|^(4/3) for every value a code can carry, at [x + kMaxMagnitude]
  std::array<float, 512> pow2_quarter{};  // 2^(q/4) at [q + kQuarterOffset]
  std::array<float, 8> alias_cs{}, alias_ca{};
  std::array<std::array<float, 2>, 7> intensity{};       // MPEG-1: left and right weight per is_pos
  std::array<std::array<float, 32>, 2> intensity_lsf{};  // MPEG-2: i0^n per intensity_scale
  // The count1 tables by the next 10 bits (a code of up to 6 and up to 4 sign bits): the
  // four signed values v w x y, and the bits they take.
  std::array<std::array<std::array<float, 4>, 1024>, 2> quad_values{};
  std::array<std::array<std::uint8_t, 1024>, 2> quad_bits{};
};
constexpr int kQuarterOffset = 400;
constexpr int kMaxMagnitude = 15 + (1 << 13) - 1;

const Tables& GetTables() {
  static const Tables tables = [] {
    Tables t;
    std::vector<ParsedCode> codes;
    for (int i = 0; i < kPairTableCount; ++i) {
      const PairCodeTable& table = kPairTables[i];
      t.pair_usable[static_cast<std::size_t>(i)] = table.size > 1;
      if (table.size > 1 && ParseCodes(table.codes, codes))
        t.pairs[static_cast<std::size_t>(i)] = BuildDecoder(codes, PairValue, table.size);
    }
    for (int i = 0; i < 2; ++i) {
      ParseCodes(kQuadCodes[i], codes);
      t.quads[static_cast<std::size_t>(i)] = BuildDecoder(codes, QuadValue, 16);
    }
    for (int r = 0; r < kRateTables; ++r) {
      for (int kind = 0; kind < 3; ++kind) {
        Layout& layout = t.layouts[static_cast<std::size_t>(r)][static_cast<std::size_t>(kind)];
        layout = BuildLayout(r, static_cast<BlockKind>(kind));
        IndexLines(layout);
      }
      for (int b = 0; b < kLongBands; ++b)
        t.long_starts[static_cast<std::size_t>(r)][static_cast<std::size_t>(b + 1)] =
            t.long_starts[static_cast<std::size_t>(r)][static_cast<std::size_t>(b)] +
            kLongBandWidths[r][b];
      for (int b = 0; b < kShortBands; ++b)
        t.short_starts[static_cast<std::size_t>(r)][static_cast<std::size_t>(b + 1)] =
            t.short_starts[static_cast<std::size_t>(r)][static_cast<std::size_t>(b)] +
            kShortBandWidths[r][b];
    }
    t.pow43.resize(2 * kMaxMagnitude + 1);
    for (int i = 0; i <= kMaxMagnitude; ++i) {
      const float value = static_cast<float>(std::pow(i, 4.0 / 3.0));
      t.pow43[static_cast<std::size_t>(kMaxMagnitude + i)] = value;
      t.pow43[static_cast<std::size_t>(kMaxMagnitude - i)] = -value;
    }
    for (int table = 0; table < 2; ++table) {
      for (std::uint32_t next = 0; next < 1024; ++next) {
        // A quadruple code has at most 6 bits, all within the first level.
        const std::uint32_t entry = t.quads[static_cast<std::size_t>(table)]
                                        .entries[(next << 22) >> (32 - kFirstLevelBits)];
        int used = static_cast<int>(entry >> 16);
        auto& values = t.quad_values[static_cast<std::size_t>(table)][next];
        for (int k = 0; k < 4; ++k) {
          int value = static_cast<int>((entry >> (3 - k)) & 1);
          if (value && ((next >> (9 - used++)) & 1)) value = -1;
          values[static_cast<std::size_t>(k)] = static_cast<float>(value);
        }
        t.quad_bits[static_cast<std::size_t>(table)][next] = static_cast<std::uint8_t>(used);
      }
    }
    for (int i = 0; i < 512; ++i)
      t.pow2_quarter[static_cast<std::size_t>(i)] =
          static_cast<float>(std::exp2((i - kQuarterOffset) / 4.0));
    for (int i = 0; i < 8; ++i) {
      const double c = kAliasCoefficients[i];
      t.alias_cs[static_cast<std::size_t>(i)] = static_cast<float>(1.0 / std::sqrt(1.0 + c * c));
      t.alias_ca[static_cast<std::size_t>(i)] = static_cast<float>(c / std::sqrt(1.0 + c * c));
    }
    for (int p = 0; p < 7; ++p) {
      // is_ratio = tan(p π/12); left gets ratio/(1+ratio), right 1/(1+ratio). Written with
      // sine and cosine so that p = 6 (ratio infinite) gives 1 and 0.
      const double s = std::sin(p * std::numbers::pi / 12.0),
                   c = std::cos(p * std::numbers::pi / 12.0);
      t.intensity[static_cast<std::size_t>(p)] = {static_cast<float>(s / (s + c)),
                                                  static_cast<float>(c / (s + c))};
    }
    for (int scale = 0; scale < 2; ++scale)
      for (int n = 0; n < 32; ++n)
        t.intensity_lsf[static_cast<std::size_t>(scale)][static_cast<std::size_t>(n)] =
            static_cast<float>(std::exp2(-n / (scale ? 2.0 : 4.0)));
    return t;
  }();
  return tables;
}

// The side information of one granule of one channel.
struct GranuleInfo {
  int part2_3_length = 0;
  int big_values = 0;
  int global_gain = 0;
  int scalefac_compress = 0;
  bool window_switching = false;
  int block_type = 0;
  bool mixed_block = false;
  std::array<int, 3> table_select{};
  std::array<int, 3> subblock_gain{};
  int region0_count = 0;
  int region1_count = 0;
  bool preflag = false;
  int scalefac_scale = 0;
  int count1table_select = 0;

  BlockKind kind() const { return block_type != 2 ? kLong : mixed_block ? kMixed : kShort; }
};

struct SideInfo {
  int main_data_begin = 0;
  std::array<std::array<bool, 4>, 2> scfsi{};
  std::array<std::array<GranuleInfo, 2>, 2> granules{};  // [granule][channel]
};

// Reads the side information; false when a field holds a value the standard reserves.
bool ReadSideInfo(const FrameHeader& header, const std::uint8_t* bytes, SideInfo& side) {
  BitReader bits(bytes, 0);
  const bool lsf = header.lower_sampling();
  const int channels = header.channels;
  side.main_data_begin = static_cast<int>(bits.Read(lsf ? 8 : 9));
  bits.Skip(lsf ? (channels == 1 ? 1 : 2) : (channels == 1 ? 5 : 3));
  if (!lsf)
    for (int ch = 0; ch < channels; ++ch)
      for (int group = 0; group < 4; ++group) side.scfsi[ch][group] = bits.Read(1) != 0;
  bool valid = true;
  for (int gr = 0; gr < (lsf ? 1 : 2); ++gr) {
    for (int ch = 0; ch < channels; ++ch) {
      GranuleInfo& info = side.granules[gr][ch];
      info.part2_3_length = static_cast<int>(bits.Read(12));
      info.big_values = static_cast<int>(bits.Read(9));
      info.global_gain = static_cast<int>(bits.Read(8));
      info.scalefac_compress = static_cast<int>(bits.Read(lsf ? 9 : 4));
      info.window_switching = bits.Read(1) != 0;
      if (info.window_switching) {
        info.block_type = static_cast<int>(bits.Read(2));
        info.mixed_block = bits.Read(1) != 0;
        for (int region = 0; region < 2; ++region)
          info.table_select[region] = static_cast<int>(bits.Read(5));
        for (int window = 0; window < 3; ++window)
          info.subblock_gain[window] = static_cast<int>(bits.Read(3));
        if (info.block_type == 0)
          valid = false;  // window switching with a normal block is reserved
        if (info.block_type != 2) info.mixed_block = false;
      } else {
        for (int region = 0; region < 3; ++region)
          info.table_select[region] = static_cast<int>(bits.Read(5));
        info.region0_count = static_cast<int>(bits.Read(4));
        info.region1_count = static_cast<int>(bits.Read(3));
      }
      if (!lsf) info.preflag = bits.Read(1) != 0;
      info.scalefac_scale = static_cast<int>(bits.Read(1));
      info.count1table_select = static_cast<int>(bits.Read(1));
    }
  }
  return valid;
}

// What runs from frame to frame, and the working arrays of one granule.
struct DecoderState {
  std::array<ChannelSynthesis, 2> synthesis;
  // Main data: what is kept from earlier frames, then the current frame's.
  std::array<std::uint8_t, kReservoirBytes + kMaxFrameBytes + kPaddingBytes> main{};
  int kept = 0;  // bytes of earlier frames at the front of `main`

  std::array<int, 2> nonzero{};  // lines at and above are zero, per channel
  // Scalefactors per layout segment, per channel; kept across the granules of a frame
  // for the scalefactor reuse of MPEG-1.
  std::array<std::array<std::uint8_t, kMaxSegments>, 2> scalefactors{};
  // MPEG-2 intensity stereo: the largest value each right-channel scalefactor can hold,
  // which marks an illegal position.
  std::array<std::uint8_t, kMaxSegments> scalefactor_limits{};
  int intensity_scale = 0;
  // Each channel's granule as the synthesis takes it; the stages work on its lines.
  std::array<GranuleSpectrum, 2> spectra;
};
using State = DecoderState;

// MPEG-1 scalefactors of one granule and channel.
void ReadScalefactors(BitReader& bits, const GranuleInfo& info, const Layout& layout, int granule,
                      const std::array<bool, 4>& scfsi,
                      std::array<std::uint8_t, kMaxSegments>& scalefactors) {
  const int slen1 = kSlen[0][info.scalefac_compress];
  const int slen2 = kSlen[1][info.scalefac_compress];
  if (info.kind() != kLong) {
    // Short: bands 0-5 (mixed: the long bands and short bands 3-5) with slen1, the rest
    // with slen2; the top band has no scalefactor.
    const int first_part = info.kind() == kShort ? 18 : layout.long_count + 9;
    const int with_scalefactor = layout.count - 3;
    for (int s = 0; s < layout.count; ++s)
      scalefactors[static_cast<std::size_t>(s)] =
          s < with_scalefactor
              ? static_cast<std::uint8_t>(bits.Read(s < first_part ? slen1 : slen2))
              : 0;
    return;
  }
  static constexpr int kGroupEnds[4] = {6, 11, 16, 21};
  int band = 0;
  for (int group = 0; group < 4; ++group) {
    const bool reuse = granule == 1 && scfsi[static_cast<std::size_t>(group)];
    for (; band < kGroupEnds[group]; ++band)
      if (!reuse)
        scalefactors[static_cast<std::size_t>(band)] =
            static_cast<std::uint8_t>(bits.Read(band < 11 ? slen1 : slen2));
  }
  scalefactors[kLongBands - 1] = 0;
}

// MPEG-2 scalefactors. For the right channel of an intensity-coded frame, also the
// largest value of each (which marks an illegal intensity position) and intensity_scale.
void ReadLsfScalefactors(BitReader& bits, GranuleInfo& info, const Layout& layout,
                         bool intensity_right, std::array<std::uint8_t, kMaxSegments>& scalefactors,
                         std::array<std::uint8_t, kMaxSegments>& limits, int& intensity_scale) {
  int slen[4] = {0, 0, 0, 0};
  int row = 0;
  int sfc = info.scalefac_compress;
  if (!intensity_right) {
    if (sfc < 400) {
      slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc & 15) >> 2,
      slen[3] = sfc & 3;
      row = 0;
    } else if (sfc < 500) {
      sfc -= 400;
      slen[0] = (sfc >> 2) / 5, slen[1] = (sfc >> 2) % 5, slen[2] = sfc & 3;
      row = 1;
    } else {
      sfc -= 500;
      slen[0] = sfc / 3, slen[1] = sfc % 3;
      info.preflag = true;
      row = 2;
    }
  } else {
    intensity_scale = sfc & 1;
    int half = sfc >> 1;
    if (half < 180) {
      slen[0] = half / 36, slen[1] = (half % 36) / 6, slen[2] = half % 6;
      row = 3;
    } else if (half < 244) {
      half -= 180;
      slen[0] = (half & 63) >> 4, slen[1] = (half & 15) >> 2, slen[2] = half & 3;
      row = 4;
    } else {
      half -= 244;
      slen[0] = half / 3, slen[1] = half % 3;
      row = 5;
    }
  }
  const std::uint8_t* counts = kLsfPartCounts[row][info.kind()];
  int s = 0;
  for (int part = 0; part < 4; ++part) {
    for (int i = 0; i < counts[part] && s < layout.count; ++i, ++s) {
      scalefactors[static_cast<std::size_t>(s)] = static_cast<std::uint8_t>(bits.Read(slen[part]));
      limits[static_cast<std::size_t>(s)] = static_cast<std::uint8_t>((1 << slen[part]) - 1);
    }
  }
  for (; s < layout.count; ++s)
    scalefactors[static_cast<std::size_t>(s)] = 0, limits[static_cast<std::size_t>(s)] = 0;
}

// The gain of each segment of a granule's layout: global gain, subblock gain,
// scalefactor and pre-emphasis, as one power of 2^(1/4).
void SegmentGains(const GranuleInfo& info, const Layout& layout,
                  const std::array<std::uint8_t, kMaxSegments>& scalefactors,
                  std::array<float, kMaxSegments + 1>& gains) {
  const Tables& tables = GetTables();
  const int shift = 2 * (1 + info.scalefac_scale);
  for (int s = 0; s < layout.count; ++s) {
    const Segment& segment = layout.segments[static_cast<std::size_t>(s)];
    int quarter = info.global_gain - 210;
    int scalefactor = scalefactors[static_cast<std::size_t>(s)];
    if (segment.window >= 0) {
      quarter -= 8 * info.subblock_gain[static_cast<std::size_t>(segment.window)];
    } else if (info.preflag) {
      scalefactor += kPretab[segment.band];
    }
    quarter -= shift * scalefactor;
    gains[static_cast<std::size_t>(s)] =
        tables.pow2_quarter[static_cast<std::size_t>(std::clamp(quarter + kQuarterOffset, 0, 511))];
  }
  gains[kMaxSegments] = 0.0f;  // lines outside every segment (a malformed mixed block)
}

// Decodes the big-value pairs of lines [from, to) with one table and requantizes them
// with their segments' gains; false when the bits run past `end`.
bool DecodePairs(BitCache& bits, std::size_t end, int table_number, const Layout& layout,
                 const float* gains, float* lines, int from, int to) {
  if (from >= to) return true;
  if (table_number == 0) {
    std::fill(lines + from, lines + to, 0.0f);
    return true;
  }
  const Tables& tables = GetTables();
  if (!tables.pair_usable[static_cast<std::size_t>(table_number)]) return false;
  const std::uint32_t* entries =
      tables.pairs[static_cast<std::size_t>(table_number)].entries.data();
  const int linbits = kPairTables[table_number].linbits;
  const float* pow43 = tables.pow43.data() + kMaxMagnitude;
  for (int i = from; i < to;) {
    // The pairs of one segment share its gain (segments start on even lines).
    const int segment = layout.segment_of_line[static_cast<std::size_t>(i)];
    const float gain = gains[segment];
    const int stop =
        segment < layout.count
            ? std::min<int>(to, layout.segments[static_cast<std::size_t>(segment)].start +
                                    layout.segments[static_cast<std::size_t>(segment)].width)
            : i + 2;
    for (; i < stop; i += 2) {
      bits.Refill();  // enough for a code, its signs and both linbits fields
      const std::uint32_t word = bits.Peek32();
      std::uint32_t entry = entries[word >> (32 - kFirstLevelBits)];
      int length;
      if (entry & kSubTable) {
        const int sub_bits = static_cast<int>((entry >> 24) & 31);
        entry = entries[(entry & 0xFFFFFF) + ((word << kFirstLevelBits) >> (32 - sub_bits))];
        length = kFirstLevelBits + static_cast<int>(entry >> 16);
      } else {
        length = static_cast<int>(entry >> 16);
      }
      int x = static_cast<int>((entry >> 4) & 15);
      int y = static_cast<int>(entry & 15);
      if (linbits == 0 || (x != 15 && y != 15)) {
        // The sign bits follow the code within the 32 bits at hand (a code has at most 19).
        std::uint32_t rest = word << length;
        const int x_signed = x != 0, y_signed = y != 0;
        const int x_sign = -static_cast<int>((rest >> 31) & static_cast<std::uint32_t>(x_signed));
        rest <<= x_signed;
        const int y_sign = -static_cast<int>((rest >> 31) & static_cast<std::uint32_t>(y_signed));
        x = (x ^ x_sign) - x_sign;
        y = (y ^ y_sign) - y_sign;
        bits.Skip(length + x_signed + y_signed);
      } else {
        bits.Skip(length);
        if (x == 15) x += static_cast<int>(bits.Read(linbits));
        if (x && bits.Read(1)) x = -x;
        if (y == 15) y += static_cast<int>(bits.Read(linbits));
        if (y && bits.Read(1)) y = -y;
      }
      lines[i] = pow43[x] * gain;
      lines[i + 1] = pow43[y] * gain;
      if (bits.position() > end) return false;
    }
  }
  return true;
}

// Huffman-decodes and requantizes the granule's lines up to `end` (full scale 1.0);
// returns the number of lines decoded (the rest are zero) or -1 when the data are bad.
int DecodeLines(const BitReader& reader, std::size_t end, const GranuleInfo& info, int rate_table,
                const Layout& layout, const std::array<std::uint8_t, kMaxSegments>& scalefactors,
                const std::uint8_t* data, float* lines) {
  const Tables& tables = GetTables();
  BitCache bits(data, reader.position());
  const int big = info.big_values * 2;
  if (big > kGranuleLines) return -1;
  std::array<float, kMaxSegments + 1> gains;
  SegmentGains(info, layout, scalefactors, gains);

  const auto& long_starts = tables.long_starts[static_cast<std::size_t>(rate_table)];
  int region1, region2;
  if (info.window_switching) {
    region1 = info.kind() == kShort
                  ? 3 * tables.short_starts[static_cast<std::size_t>(rate_table)][3]
              : info.kind() == kMixed ? kMixedLongLines
                                      : long_starts[8];
    region2 = kGranuleLines;
  } else {
    region1 = long_starts[static_cast<std::size_t>(std::min(info.region0_count + 1, kLongBands))];
    region2 = long_starts[static_cast<std::size_t>(
        std::min(info.region0_count + info.region1_count + 2, kLongBands))];
  }
  region1 = std::min(region1, big);
  region2 = std::clamp(region2, region1, big);
  if (!DecodePairs(bits, end, info.table_select[0], layout, gains.data(), lines, 0, region1) ||
      !DecodePairs(bits, end, info.table_select[1], layout, gains.data(), lines, region1,
                   region2) ||
      !DecodePairs(bits, end, info.table_select[2], layout, gains.data(), lines, region2, big))
    return -1;

  const auto& quad_values = tables.quad_values[static_cast<std::size_t>(info.count1table_select)];
  const auto& quad_bits = tables.quad_bits[static_cast<std::size_t>(info.count1table_select)];
  int line = big;
  // The gain of the segment the current quadruple starts in, and where that segment ends.
  float gain = 0.0f;
  int segment_end = line;
  bool more = true;
  while (more) {
    bits.Refill();
    // Each quadruple takes at most 10 bits: five fit the 56 at hand.
    for (int q = 0; q < 5; ++q) {
      if (line + 4 > kGranuleLines || bits.position() >= end) {
        more = false;
        break;
      }
      const std::uint32_t next = bits.Peek32() >> 22;
      bits.Skip(quad_bits[next]);
      // A quadruple that runs past the granule's bits is not part of it.
      if (bits.position() > end) {
        more = false;
        break;
      }
      const auto& values = quad_values[next];
      if (line + 4 <= segment_end) {
        for (int k = 0; k < 4; ++k) lines[line + k] = values[static_cast<std::size_t>(k)] * gain;
      } else {
        for (int k = 0; k < 4; ++k)
          lines[line + k] = values[static_cast<std::size_t>(k)] *
                            gains[layout.segment_of_line[static_cast<std::size_t>(line + k)]];
        const int segment = line + 4 < kGranuleLines
                                ? layout.segment_of_line[static_cast<std::size_t>(line + 4)]
                                : kMaxSegments;
        gain = gains[segment];
        segment_end = segment < layout.count
                          ? layout.segments[static_cast<std::size_t>(segment)].start +
                                layout.segments[static_cast<std::size_t>(segment)].width
                          : line + 4;
      }
      line += 4;
    }
  }
  std::fill(lines + line, lines + kGranuleLines, 0.0f);
  return line;
}

constexpr float kInvSqrt2 = 0.70710678118654752f;

void MidSide(float* left, float* right, int from, int to) {
  for (int i = from; i < to; ++i) {
    const float m = left[i], s = right[i];
    left[i] = (m + s) * kInvSqrt2;
    right[i] = (m - s) * kInvSqrt2;
  }
}

// Joint stereo of one granule: mid/side and intensity stereo, in place on both channels.
void JointStereo(State& state, const FrameHeader& header, const Layout& layout) {
  const bool mid_side = (header.mode_extension & 2) != 0;
  const bool intensity = (header.mode_extension & 1) != 0;
  float* left = state.spectra[0].lines;
  float* right = state.spectra[1].lines;
  const int both = std::max(state.nonzero[0], state.nonzero[1]);
  if (!intensity) {
    if (mid_side) MidSide(left, right, 0, both);
    state.nonzero[0] = state.nonzero[1] = both;
    return;
  }

  // Intensity stereo starts above the last non-zero value of the right channel: in the
  // long bands as a whole, in the short bands per window.
  const int decoded = state.nonzero[1];
  auto segment_has_values = [&](const Segment& segment) {
    const int stop = std::min<int>(segment.start + segment.width, decoded);
    for (int i = segment.start; i < stop; ++i)
      if (right[i] != 0.0f) return true;
    return false;
  };
  int long_start = 0;
  std::array<int, 3> window_start{layout.long_count, layout.long_count, layout.long_count};
  bool short_values = false;
  for (int s = 0; s < layout.count; ++s) {
    const Segment& segment = layout.segments[static_cast<std::size_t>(s)];
    if (!segment_has_values(segment)) continue;
    if (segment.window < 0) {
      long_start = s + 1;
    } else {
      window_start[static_cast<std::size_t>(segment.window)] = s + 3;
      short_values = true;
    }
  }
  // In a mixed block, values in the short part keep the whole long part out of intensity.
  if (short_values) long_start = layout.long_count;
  // The first intensity-coded segment: [0] among the long bands, [1 + w] in window w.
  const std::array<int, 4> first_coded = {long_start, window_start[0], window_start[1],
                                          window_start[2]};

  const Tables& tables = GetTables();
  const bool lsf = header.lower_sampling();
  const auto& positions = state.scalefactors[1];
  for (int s = 0; s < layout.count; ++s) {
    const Segment& segment = layout.segments[static_cast<std::size_t>(s)];
    const int from = segment.start, to = segment.start + segment.width;
    if (s < first_coded[static_cast<std::size_t>(segment.window + 1)]) {
      if (mid_side) MidSide(left, right, from, std::min(to, std::max(both, from)));
      continue;
    }
    // The top band has no scalefactor of its own: it takes the position of the band below.
    const bool top =
        segment.window < 0 ? segment.band == kLongBands - 1 : segment.band == kShortBands - 1;
    const int source = top ? s - (segment.window < 0 ? 1 : 3) : s;
    const int position = source >= 0 ? positions[static_cast<std::size_t>(source)] : 0;
    float left_weight, right_weight;
    if (!lsf) {
      // 7 marks an illegal position; 8 and up (possible only where scalefactors have four
      // bits) lie outside the positions defined. Such a band stays as it is.
      if (source < 0 || position >= 7) {
        if (mid_side) MidSide(left, right, from, to);
        continue;
      }
      left_weight = tables.intensity[static_cast<std::size_t>(position)][0];
      right_weight = tables.intensity[static_cast<std::size_t>(position)][1];
    } else {
      if (source < 0 || position == state.scalefactor_limits[static_cast<std::size_t>(source)]) {
        if (mid_side) MidSide(left, right, from, to);
        continue;
      }
      const auto& steps = tables.intensity_lsf[static_cast<std::size_t>(state.intensity_scale)];
      left_weight = position % 2 == 1 ? steps[static_cast<std::size_t>((position + 1) / 2)] : 1.0f;
      right_weight = position % 2 == 0 ? steps[static_cast<std::size_t>(position / 2)] : 1.0f;
    }
    for (int i = from; i < to; ++i) {
      const float value = left[i];
      left[i] = value * left_weight;
      right[i] = value * right_weight;
    }
  }
  state.nonzero[0] = state.nonzero[1] = kGranuleLines;
}

// Puts the short-block lines, which arrive band by band and window by window, into the
// order of the filter bank: subband by subband, within a subband the six lines of each
// window interleaved (line k of window w at 3k + w).
void ReorderShort(const Layout& layout, float* lines) {
  std::array<float, kGranuleLines> reordered;
  const int first = layout.segments[static_cast<std::size_t>(layout.long_count)].start;
  for (int s = layout.long_count; s < layout.count; s += 3) {
    const Segment& segment = layout.segments[static_cast<std::size_t>(s)];
    const int short_start = segment.start / 3;  // the band's first line within a window
    for (int window = 0; window < 3; ++window) {
      const float* source = lines + segment.start + window * segment.width;
      for (int k = 0; k < segment.width; ++k)
        reordered[static_cast<std::size_t>(3 * (short_start + k) + window)] = source[k];
    }
  }
  std::copy(reordered.begin() + first, reordered.end(), lines + first);
}

// The alias-reduction butterflies between neighbouring long subbands, for lines below
// `nonzero`; returns the new bound of the non-zero lines.
int ReduceAliasing(const GranuleInfo& info, float* lines, int nonzero) {
  if (info.kind() == kShort || nonzero == 0) return nonzero;
  const Tables& tables = GetTables();
  const int boundaries =
      info.kind() == kMixed
          ? 1
          : std::min(kSubbands - 1, (nonzero + kSubbandLines - 1) / kSubbandLines);
  const float* cs = tables.alias_cs.data();
  const float* ca = tables.alias_ca.data();
  for (int sb = 1; sb <= boundaries; ++sb) {
    float* upper = lines + sb * kSubbandLines;
    float below[8], above[8];
    for (int i = 0; i < 8; ++i) below[i] = upper[-1 - i], above[i] = upper[i];
    for (int i = 0; i < 8; ++i) {
      upper[-1 - i] = below[i] * cs[i] - above[i] * ca[i];
      upper[i] = above[i] * cs[i] + below[i] * ca[i];
    }
  }
  return std::max(nonzero, std::min(kGranuleLines, boundaries * kSubbandLines + 8));
}

int RateTable(const FrameHeader& header) {
  return static_cast<int>(header.version) * 3 + header.rate_index;
}

}  // namespace

struct FrameDecoder::State : DecoderState {};

FrameDecoder::FrameDecoder() : state_(std::make_unique<State>()) {
  GetTables();
}
FrameDecoder::~FrameDecoder() = default;

void FrameDecoder::Reset() {
  for (ChannelSynthesis& synthesis : state_->synthesis) synthesis.Reset();
  state_->kept = 0;
}

bool FrameDecoder::Decode(const FrameHeader& header, const std::uint8_t* frame, std::size_t bytes,
                          std::int32_t* out) {
  State& state = *state_;
  const Tables& tables = GetTables();
  const int channels = header.channels;
  const int granules = header.lower_sampling() ? 1 : 2;
  const int rate_table = RateTable(header);
  const std::size_t present = std::min(bytes, static_cast<std::size_t>(header.frame_bytes));

  // The side information, zero-padded when the frame is cut short inside it.
  SideInfo side;
  const bool whole_side_info = present >= static_cast<std::size_t>(header.main_data_offset());
  bool ok = whole_side_info;
  if (whole_side_info) {
    std::array<std::uint8_t, 32 + 8> side_bytes{};
    std::memcpy(side_bytes.data(), frame + header.side_info_offset(),
                static_cast<std::size_t>(header.side_info_bytes));
    ok = ReadSideInfo(header, side_bytes.data(), side);
  }

  // Append this frame's main data behind what is kept of the earlier frames (also when
  // its side information is bad: later frames may refer back into it).
  const int fresh = whole_side_info ? static_cast<int>(present) - header.main_data_offset() : 0;
  if (fresh > 0)
    std::memcpy(state.main.data() + state.kept, frame + header.main_data_offset(),
                static_cast<std::size_t>(fresh));
  const int available = state.kept + fresh;
  std::memset(state.main.data() + available, 0, kPaddingBytes);
  // Main data missing (after a reset, or a count pointing before what is kept): the
  // frame's granules are silent.
  if (ok && side.main_data_begin > state.kept) ok = false;

  std::size_t position = ok ? static_cast<std::size_t>(state.kept - side.main_data_begin) * 8 : 0;
  const std::size_t available_bits = static_cast<std::size_t>(available) * 8;
  const bool joint = header.mode == ChannelMode::kJointStereo && channels == 2;
  for (int gr = 0; gr < granules; ++gr) {
    std::array<bool, 2> good{};
    for (int ch = 0; ch < channels; ++ch) {
      GranuleInfo& info = side.granules[gr][ch];
      const std::size_t end = position + static_cast<std::size_t>(info.part2_3_length);
      const Layout& layout =
          tables
              .layouts[static_cast<std::size_t>(rate_table)][static_cast<std::size_t>(info.kind())];
      int decoded = -1;
      if (ok && end <= available_bits) {
        BitReader bits(state.main.data(), position);
        auto& scalefactors = state.scalefactors[static_cast<std::size_t>(ch)];
        if (header.lower_sampling())
          ReadLsfScalefactors(bits, info, layout, ch == 1 && joint && (header.mode_extension & 1),
                              scalefactors, state.scalefactor_limits, state.intensity_scale);
        else
          ReadScalefactors(bits, info, layout, gr, side.scfsi[static_cast<std::size_t>(ch)],
                           scalefactors);
        if (bits.position() <= end)
          decoded =
              DecodeLines(bits, end, info, rate_table, layout, scalefactors, state.main.data(),
                          state.spectra[static_cast<std::size_t>(ch)].lines);
      }
      position = end;
      good[static_cast<std::size_t>(ch)] = decoded >= 0;
      state.nonzero[static_cast<std::size_t>(ch)] = std::max(decoded, 0);
      if (decoded < 0) {
        float* lines = state.spectra[static_cast<std::size_t>(ch)].lines;
        std::fill(lines, lines + kGranuleLines, 0.0f);
      }
    }
    // Short-block lines go into subband order, where the synthesis takes them.
    std::array<bool, 2> reordered{};
    auto reorder = [&](int ch) {
      const GranuleInfo& info = side.granules[gr][ch];
      if (!good[static_cast<std::size_t>(ch)] || info.kind() == kLong) return;
      ReorderShort(tables.layouts[static_cast<std::size_t>(rate_table)]
                                 [static_cast<std::size_t>(info.kind())],
                   state.spectra[static_cast<std::size_t>(ch)].lines);
      state.nonzero[static_cast<std::size_t>(ch)] = kGranuleLines;
      reordered[static_cast<std::size_t>(ch)] = true;
    };
    if (joint) {
      const GranuleInfo& left = side.granules[gr][0];
      const GranuleInfo& right = side.granules[gr][1];
      if (good[0] && good[1] && left.kind() == right.kind()) {
        JointStereo(state, header,
                    tables.layouts[static_cast<std::size_t>(rate_table)]
                                  [static_cast<std::size_t>(right.kind())]);
      } else if (good[0] && good[1]) {
        // Channels of different block kinds: their lines meet in subband order, where
        // mid/side pairs the same frequencies; intensity positions have no common
        // scalefactor bands to apply to.
        reorder(0);
        reorder(1);
        const int both = std::max(state.nonzero[0], state.nonzero[1]);
        if (header.mode_extension & 2)
          MidSide(state.spectra[0].lines, state.spectra[1].lines, 0, both);
        state.nonzero = {both, both};
      } else {
        // The channels are coded together: without both, both are silent.
        for (GranuleSpectrum& spectrum : state.spectra)
          std::fill(spectrum.lines, spectrum.lines + kGranuleLines, 0.0f);
        state.nonzero = {0, 0};
        good = {false, false};
      }
    }
    for (int ch = 0; ch < channels; ++ch) {
      const GranuleInfo& info = side.granules[gr][ch];
      if (!good[static_cast<std::size_t>(ch)]) ok = false;
      GranuleSpectrum& spectrum = state.spectra[static_cast<std::size_t>(ch)];
      float* lines = spectrum.lines;
      const bool usable = good[static_cast<std::size_t>(ch)];
      spectrum.block_type = usable && info.window_switching ? info.block_type : 0;
      spectrum.mixed_block = usable && info.mixed_block;
      if (!reordered[static_cast<std::size_t>(ch)]) reorder(ch);
      int nonzero = state.nonzero[static_cast<std::size_t>(ch)];
      if (usable) nonzero = ReduceAliasing(info, lines, nonzero);
      while (nonzero > 0 && lines[nonzero - 1] == 0.0f) --nonzero;
      spectrum.nonzero_lines = nonzero;
      state.synthesis[static_cast<std::size_t>(ch)].Granule(
          spectrum, out + static_cast<std::ptrdiff_t>(gr) * kGranuleLines * channels + ch,
          channels);
    }
  }

  // Keep the last main data bytes for the frames that follow.
  const int keep = std::min(available, kReservoirBytes);
  std::memmove(state.main.data(), state.main.data() + available - keep,
               static_cast<std::size_t>(keep));
  state.kept = keep;
  return ok;
}

}  // namespace sonavel::mp3
