#include "formats/g711.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sox_peer.h"

namespace sonavel {
namespace {

constexpr std::int32_t kStoreFullScale = 0x7FFF0;

TEST(G711Test, CheckValuesAndExtremes) {
  EXPECT_EQ(ExpandMuLaw(0xFF), 0);
  EXPECT_EQ(ExpandMuLaw(0x7F), 0);  // the negative zero
  EXPECT_EQ(ExpandMuLaw(0x00), -(15 << 14) - 268224);
  EXPECT_EQ(ExpandMuLaw(0x80), (15 << 14) + 268224);
  EXPECT_EQ(ExpandMuLaw(0xFE), 128);
  EXPECT_EQ(ExpandMuLaw(0xEF), 2112);
  EXPECT_EQ(ExpandMuLaw(0xAF), 65472);  // segment 5: 2112 × 31, as sox decodes it
  EXPECT_EQ(ExpandMuLaw(0x2F), -65472);
  EXPECT_EQ(ExpandALaw(0xD5), 128);
  EXPECT_EQ(ExpandALaw(0x55), -128);
  EXPECT_EQ(ExpandALaw(0xAA), 15 * 16384 + 270336);
  EXPECT_EQ(ExpandALaw(0x2A), -(15 * 16384 + 270336));
  EXPECT_EQ(ExpandALaw(0xC5), 4224);

  // Segment edges of compression.
  EXPECT_EQ(CompressMuLaw(0), 0xFF);
  EXPECT_EQ(CompressMuLaw(127), 0xFF);
  EXPECT_EQ(CompressMuLaw(128), 0xFE);
  EXPECT_EQ(CompressMuLaw(1983), 0xF0);
  EXPECT_EQ(CompressMuLaw(1984), 0xEF);
  EXPECT_EQ(CompressMuLaw(-1984), 0x6F);
  EXPECT_EQ(CompressMuLaw(-1), 0x7F);
  EXPECT_EQ(CompressMuLaw(63423), 0xB0);
  EXPECT_EQ(CompressMuLaw(63424), 0xAF);
  EXPECT_EQ(CompressMuLaw(260031), 0x90);
  EXPECT_EQ(CompressMuLaw(260032), 0x8F);
  EXPECT_EQ(CompressALaw(0), 0xD5);
  EXPECT_EQ(CompressALaw(-1), 0x55);
  EXPECT_EQ(CompressALaw(255), 0xD5);
  EXPECT_EQ(CompressALaw(256), 0xD4);
  EXPECT_EQ(CompressALaw(4095), 0xDA);
  EXPECT_EQ(CompressALaw(4096), 0xC5);
  EXPECT_EQ(CompressALaw(-4096), 0x45);

  // Beyond the largest segment everything saturates; the most negative value included.
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(CompressMuLaw(kMax), 0x80);
  EXPECT_EQ(CompressMuLaw(kMin), 0x00);
  EXPECT_EQ(CompressMuLaw(kStoreFullScale), 0x80);
  EXPECT_EQ(CompressMuLaw(-kStoreFullScale - 16), 0x00);
  EXPECT_EQ(CompressALaw(kMax), 0xAA);
  EXPECT_EQ(CompressALaw(kMin), 0x2A);
  EXPECT_EQ(CompressALaw(-kStoreFullScale - 16), 0x2A);
}

TEST(G711Test, CompressionInvertsExpansion) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::uint8_t b = static_cast<std::uint8_t>(byte);
    EXPECT_EQ(CompressALaw(ExpandALaw(b)), b) << byte;
    EXPECT_EQ(CompressMuLaw(ExpandMuLaw(b)), byte == 0x7F ? 0xFF : b) << byte;
  }
}

TEST(G711Test, CompressionErrorStaysWithinOneStepOfTheSegment) {
  for (std::int32_t sample = -32768; sample <= 32767; ++sample) {
    const std::int32_t value = sample * 16;
    const std::uint8_t mu = CompressMuLaw(value);
    const int mu_segment = (~mu >> 4) & 7;
    const std::int32_t mu_error = std::abs(ExpandMuLaw(mu) - value);
    // µ-law truncates in its first segment and rounds in the others.
    if (std::abs(value) <= ExpandMuLaw(0x80)) {
      EXPECT_LE(mu_error, mu_segment == 0 ? 127 : 1 << (mu_segment + 6)) << sample;
    }
    const std::uint8_t alaw = CompressALaw(value);
    const int alaw_segment = ((alaw ^ 0x55) >> 4) & 7;
    const std::int32_t alaw_error = std::abs(ExpandALaw(alaw) - value);
    if (std::abs(value) <= ExpandALaw(0xAA)) {
      EXPECT_LE(alaw_error, alaw_segment <= 1 ? 128 : 128 << (alaw_segment - 1)) << sample;
    }
  }
}

class G711SoxTest : public testing::SoxPeerTest {};

// sox decodes every byte of both laws to the same 16-bit value as expansion ÷ 16.
TEST_F(G711SoxTest, ExpansionMatchesSoxForEveryByte) {
  std::vector<std::uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  testing::WriteBytes(Path("all.raw"), bytes);
  for (const std::string law : {"mu-law", "a-law"}) {
    Sox("-D -t raw -r 8000 -c 1 -e " + law + " " + testing::Quote(Path("all.raw")) +
        " -t raw -e signed -b 16 -L " + testing::Quote(Path("out.raw")));
    const std::vector<std::int16_t> decoded = testing::Samples16(testing::ReadBytes(Path("out.raw")));
    ASSERT_EQ(decoded.size(), 256u) << law;
    for (int i = 0; i < 256; ++i) {
      const std::int32_t ours = law == "a-law" ? ExpandALaw(std::uint8_t(i)) : ExpandMuLaw(std::uint8_t(i));
      EXPECT_EQ(decoded[i], ours / 16) << law << " byte " << i;
    }
  }
}

}  // namespace
}  // namespace sonavel
