#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/instance_block.h"

namespace sonavel {
namespace {

std::uint32_t CountField(const std::vector<std::uint8_t>& block) {
  return block[0] | block[1] << 8 | block[2] << 16 | static_cast<std::uint32_t>(block[3]) << 24;
}

std::vector<std::string> RoundTrip(const std::vector<std::string>& arguments) {
  const std::vector<std::uint8_t> block = EncodeArgumentBlock(arguments);
  auto decoded = DecodeArgumentBlock(block.data(), block.size());
  EXPECT_TRUE(decoded.has_value());
  return decoded.value_or(std::vector<std::string>{});
}

TEST(ArgumentBlock, HasTheFixedSizeAndLayout) {
  const std::vector<std::uint8_t> block = EncodeArgumentBlock({"/usr/bin/sonavel", "-exit", "a b.wav"});
  ASSERT_EQ(block.size(), 33284u);
  EXPECT_EQ(CountField(block), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[4])), "/usr/bin/sonavel");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[4 + 260])), "-exit");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[4 + 2 * 260])), "a b.wav");
  EXPECT_EQ(block[4 + 260 + 5], 0);
  // Everything after the last argument is zero.
  for (std::size_t i = 4 + 2 * 260 + 7; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
}

TEST(ArgumentBlock, CountIsLittleEndian) {
  std::vector<std::uint8_t> block = EncodeArgumentBlock(std::vector<std::string>(5, "x"));
  EXPECT_EQ(block[0], 5);
  EXPECT_EQ(block[1], 0);
  EXPECT_EQ(block[2], 0);
  EXPECT_EQ(block[3], 0);
  block[0] = 0, block[1] = 5;  // 1280: clipped
  EXPECT_EQ(DecodeArgumentBlock(block.data(), block.size())->size(), 128u);
  block[0] = 2, block[1] = 0;
  EXPECT_EQ(DecodeArgumentBlock(block.data(), block.size())->size(), 2u);
}

TEST(ArgumentBlock, EmptyListGivesAZeroBlock) {
  const std::vector<std::uint8_t> block = EncodeArgumentBlock({});
  ASSERT_EQ(block.size(), 33284u);
  for (std::uint8_t byte : block) ASSERT_EQ(byte, 0);
  EXPECT_TRUE(RoundTrip({}).empty());
}

TEST(ArgumentBlock, RoundTripsArguments) {
  const std::vector<std::string> arguments = {"sonavel", "-open", "/home/u/Müll é.wav", ""};
  EXPECT_EQ(RoundTrip(arguments), arguments);
}

TEST(ArgumentBlock, KeepsAtMost128Arguments) {
  std::vector<std::string> arguments;
  for (int i = 0; i < 200; ++i) arguments.push_back("arg" + std::to_string(i));
  const std::vector<std::uint8_t> block = EncodeArgumentBlock(arguments);
  ASSERT_EQ(block.size(), 33284u);
  EXPECT_EQ(CountField(block), 128u);
  const std::vector<std::string> decoded = RoundTrip(arguments);
  ASSERT_EQ(decoded.size(), 128u);
  EXPECT_EQ(decoded.front(), "arg0");
  EXPECT_EQ(decoded.back(), "arg127");
}

TEST(ArgumentBlock, TruncatesLongArgumentsTo259Bytes) {
  const std::string long_argument(300, 'q');
  const std::vector<std::uint8_t> block = EncodeArgumentBlock({"sonavel", long_argument, "next"});
  EXPECT_EQ(block[4 + 260 + 258], 'q');
  EXPECT_EQ(block[4 + 260 + 259], 0);  // the terminator, not the 260th character
  const std::vector<std::string> decoded = RoundTrip({"sonavel", long_argument, "next"});
  ASSERT_EQ(decoded.size(), 3u);
  EXPECT_EQ(decoded[1], std::string(259, 'q'));
  EXPECT_EQ(decoded[2], "next");
}

TEST(ArgumentBlock, RejectsBlocksOfAnyOtherSize) {
  std::vector<std::uint8_t> block = EncodeArgumentBlock({"sonavel", "-exit"});
  EXPECT_FALSE(DecodeArgumentBlock(block.data(), block.size() - 1).has_value());
  block.push_back(0);
  EXPECT_FALSE(DecodeArgumentBlock(block.data(), block.size()).has_value());
  EXPECT_FALSE(DecodeArgumentBlock(block.data(), 0).has_value());
  EXPECT_FALSE(DecodeArgumentBlock(nullptr, 33284).has_value());
}

TEST(ArgumentBlock, ClipsTheCount) {
  std::vector<std::uint8_t> block = EncodeArgumentBlock({"sonavel", "-exit"});
  block[0] = 0xFF;  // 255
  auto decoded = DecodeArgumentBlock(block.data(), block.size());
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->size(), 128u);
  EXPECT_EQ((*decoded)[1], "-exit");
  EXPECT_EQ((*decoded)[2], "");

  block[0] = block[1] = block[2] = block[3] = 0xFF;  // -1
  decoded = DecodeArgumentBlock(block.data(), block.size());
  ASSERT_TRUE(decoded.has_value());
  EXPECT_TRUE(decoded->empty());

  block[0] = 0x00, block[1] = 0x00, block[2] = 0x00, block[3] = 0x7F;  // huge positive
  decoded = DecodeArgumentBlock(block.data(), block.size());
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->size(), 128u);
}

TEST(ArgumentBlock, SlotWithoutTerminatorStopsAt259Bytes) {
  std::vector<std::uint8_t> block(33284, 'z');
  block[0] = 2, block[1] = block[2] = block[3] = 0;
  const auto decoded = DecodeArgumentBlock(block.data(), block.size());
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->size(), 2u);
  EXPECT_EQ((*decoded)[0], std::string(259, 'z'));
  EXPECT_EQ((*decoded)[1], std::string(259, 'z'));
}

TEST(Relaunch, OnlyWithArgumentsOfItsOwn) {
  EXPECT_FALSE(NeedsRelaunch({}));
  EXPECT_FALSE(NeedsRelaunch({"sonavel"}));
  EXPECT_TRUE(NeedsRelaunch({"sonavel", "song.wav"}));
  EXPECT_TRUE(NeedsRelaunch({"sonavel", "-exit"}));
}

TEST(Relaunch, NotWhenTheLastArgumentIsBlock) {
  EXPECT_FALSE(NeedsRelaunch({"sonavel", "song.wav", "-block"}));
  EXPECT_FALSE(NeedsRelaunch({"sonavel", "-BLOCK"}));
  EXPECT_TRUE(NeedsRelaunch({"sonavel", "-block", "song.wav"}));
  EXPECT_TRUE(NeedsRelaunch({"sonavel", "song.wav", "-blocks"}));
}

TEST(Relaunch, NotWhenInstalling) {
  EXPECT_FALSE(NeedsRelaunch({"sonavel", "-install"}));
  EXPECT_FALSE(NeedsRelaunch({"sonavel", "-Install", "song.wav"}));
  // Only the first argument after the program path counts.
  EXPECT_TRUE(NeedsRelaunch({"sonavel", "song.wav", "-install"}));
  EXPECT_TRUE(NeedsRelaunch({"-install", "song.wav"}));
}

TEST(Relaunch, AppendsBlock) {
  const std::vector<std::string> relaunch = RelaunchArguments({"sonavel", "a.wav", "-exit"});
  EXPECT_EQ(relaunch, (std::vector<std::string>{"sonavel", "a.wav", "-exit", "-block"}));
  EXPECT_FALSE(NeedsRelaunch(relaunch));
}

}  // namespace
}  // namespace sonavel
