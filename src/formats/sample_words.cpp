#include "formats/sample_words.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "store/vector_clones.h"

namespace sonavel {

static_assert(std::endian::native == std::endian::little, "file words are read and written in place");

namespace {

// Pieces of this many samples are converted on the stack, then copied out; the memcpy
// calls let the loops work on whole words whatever the alignment of the caller's bytes.
constexpr std::size_t kPiece = 4096;

std::uint16_t Swapped(std::uint16_t word) { return static_cast<std::uint16_t>((word >> 8) | (word << 8)); }

SONAVEL_AVX2_CLONES void WordsToStore(const std::uint16_t* in, std::int32_t* out, std::size_t samples, bool swap) {
  if (swap) {
    for (std::size_t i = 0; i < samples; ++i) out[i] = static_cast<std::int16_t>(Swapped(in[i])) * 16;
  } else {
    for (std::size_t i = 0; i < samples; ++i) out[i] = static_cast<std::int16_t>(in[i]) * 16;
  }
}

// (s + 8) >> 4 without overflow, saturated: StoreTo16 in 32-bit arithmetic.
std::uint16_t Word(std::int32_t sample) {
  const std::int32_t v = (sample >> 4) + ((sample >> 3) & 1);
  return static_cast<std::uint16_t>(std::clamp(v, -32768, 32767));
}

SONAVEL_AVX2_CLONES void StoreToWords(const std::int32_t* in, std::uint16_t* out, std::size_t samples, bool swap) {
  if (swap) {
    for (std::size_t i = 0; i < samples; ++i) out[i] = Swapped(Word(in[i]));
  } else {
    for (std::size_t i = 0; i < samples; ++i) out[i] = Word(in[i]);
  }
}

}  // namespace

void Words16ToStore(const std::uint8_t* in, std::int32_t* out, std::size_t samples, bool big_endian) {
  std::uint16_t words[kPiece];
  for (std::size_t done = 0; done < samples; done += kPiece) {
    const std::size_t n = std::min(kPiece, samples - done);
    std::memcpy(words, in + 2 * done, 2 * n);
    WordsToStore(words, out + done, n, big_endian);
  }
}

void StoreToWords16(const std::int32_t* in, std::uint8_t* out, std::size_t samples, bool big_endian) {
  std::uint16_t words[kPiece];
  for (std::size_t done = 0; done < samples; done += kPiece) {
    const std::size_t n = std::min(kPiece, samples - done);
    StoreToWords(in + done, words, n, big_endian);
    std::memcpy(out + 2 * done, words, 2 * n);
  }
}

}  // namespace sonavel
