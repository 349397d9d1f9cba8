#pragma once
// The data tables of Layer III decoding as the MPEG audio standards print them: the
// Huffman code words, the scalefactor band widths of all nine sampling rates, the
// pre-emphasis, the alias-reduction coefficients and the scalefactor length tables.

#include <cstdint>

namespace sonavel::mp3 {

// A big-value code table. Its code words are listed for x = 0..size-1 and, within each x,
// y = 0..size-1, as strings of '0' and '1' separated by one space; a code's length is its
// string's length. size is 0 for the two tables that are not used (4 and 14); table 0
// has size 1 and no code at all (every value is zero and costs no bits).
struct PairCodeTable {
  int size;
  int linbits;
  const char* codes;
};
inline constexpr int kPairTableCount = 32;
extern const PairCodeTable kPairTables[kPairTableCount];

// The two count1 tables (A and B): the code words of the quadruples v w x y = 0000 ..
// 1111 in that order (v is the bit of weight 8), separated by one space.
extern const char* const kQuadCodes[2];

// Scalefactor band widths in lines, per rate in the order of FrameHeader: MPEG-1 44.1,
// 48, 32 kHz; MPEG-2 22.05, 24, 16 kHz; MPEG-2.5 11.025, 12, 8 kHz. Long blocks have 21
// bands with scalefactors and a 22nd up to line 576; short blocks 12 and a 13th up to
// line 192 of each window.
inline constexpr int kRateTables = 9;
inline constexpr int kLongBands = 22;
inline constexpr int kShortBands = 13;
extern const std::uint8_t kLongBandWidths[kRateTables][kLongBands];
extern const std::uint8_t kShortBandWidths[kRateTables][kShortBands];

// Added to the long-block scalefactors when preflag is set.
extern const std::uint8_t kPretab[kLongBands];

// The alias-reduction coefficients ci.
extern const double kAliasCoefficients[8];

// MPEG-1: the scalefactor lengths slen1 and slen2 per scalefac_compress.
extern const std::uint8_t kSlen[2][16];

// MPEG-2 and -2.5: the number of scalefactors in each of the four parts, per row (0-2 for
// scalefac_compress ranges 0-399, 400-499, 500-511; 3-5 for the intensity-coded right
// channel's ranges of scalefac_compress/2: 0-179, 180-243, 244-255) and block kind (long,
// short, mixed). Short counts are scalefactor bands times three windows; a mixed row
// counts long bands first.
extern const std::uint8_t kLsfPartCounts[6][3][4];

}  // namespace sonavel::mp3
