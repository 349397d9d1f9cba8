#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "formats/mp3_header.h"

namespace sonavel::mp3 {
namespace {

TEST(Mp3HeaderTest, FrameLengthsAndRefusals) {
  // 128 kbit/s, 44.1 kHz, MPEG-1, joint stereo, no CRC: 417 bytes, 418 with padding.
  std::uint8_t bytes[4] = {0xFF, 0xFB, 0x90, 0x40};
  auto header = ParseFrameHeader(bytes);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->frame_bytes, 417);
  EXPECT_EQ(header->samples_per_frame, 1152);
  EXPECT_EQ(header->channels, 2);
  EXPECT_EQ(header->main_data_offset(), 36);
  bytes[2] |= 0x02;
  EXPECT_EQ(ParseFrameHeader(bytes)->frame_bytes, 418);

  // MPEG-2.5, 8 kHz, 8 kbit/s, mono, with CRC: 72 bytes, side information after the CRC.
  const std::uint8_t low[4] = {0xFF, 0xE2, 0x18, 0xC0};
  header = ParseFrameHeader(low);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->version, MpegVersion::k25);
  EXPECT_EQ(header->sample_rate, 8000);
  EXPECT_EQ(header->frame_bytes, 72);
  EXPECT_EQ(header->samples_per_frame, 576);
  EXPECT_EQ(header->main_data_offset(), 6 + 9);

  // Free format, bit-rate index 15, rate index 3, Layer II, the reserved version.
  for (const auto& bad : {std::array<std::uint8_t, 4>{0xFF, 0xFB, 0x00, 0x40}, {0xFF, 0xFB, 0xF0, 0x40},
                          {0xFF, 0xFB, 0x9C, 0x40}, {0xFF, 0xFD, 0x90, 0x40}, {0xFF, 0xEB, 0x90, 0x40},
                          {0xFE, 0xFB, 0x90, 0x40}})
    EXPECT_FALSE(ParseFrameHeader(bad.data()));
}

}  // namespace
}  // namespace sonavel::mp3
