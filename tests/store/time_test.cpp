#include <gtest/gtest.h>

#include "store/time.h"

namespace sonavel {
namespace {

TEST(Time, ConversionsUseIntegersOnly) {
  EXPECT_EQ(FramesToMs(44100, 44100), 1000);
  EXPECT_EQ(FramesToMs(44099, 44100), 999);            // truncated, never rounded up
  EXPECT_EQ(FramesToMs(158760000, 44100), 3600000);     // an hour
  EXPECT_EQ(FramesToMs(2147483647, 96000), 22369621);   // no overflow at the largest length
  EXPECT_EQ(FramesToMs(100, 0), 0);
  EXPECT_EQ(MsToFrames(1500, 44100), 66150);
  EXPECT_EQ(MsToFrames(1, 22050), 22);
  EXPECT_EQ(MsToFrames(999, 8000), 7992);
}

TEST(Time, TextsInMillisecondsAndHundredths) {
  EXPECT_EQ(FormatTimeMs(0), "0:00:00.000");
  EXPECT_EQ(FormatTimeMs(3723004), "1:02:03.004");
  EXPECT_EQ(FormatTimeMs(-1500), "-0:00:01.500");
  EXPECT_EQ(FormatTimeHundredths(1234), "0:00:01.23");
  EXPECT_EQ(FormatTimeHundredths(1235), "0:00:01.24");  // 5 ms rounds up
  EXPECT_EQ(FormatTimeHundredths(59995), "0:01:00.00");
  EXPECT_EQ(FormatTimeHundredths(-1235), "-0:00:01.24");
  EXPECT_EQ(FormatTimeTenths(3723999), "1:02:03.9");  // tenths are cut, not rounded
  EXPECT_EQ(FormatTimeTenths(-1500), "-0:00:01.5");
}

}  // namespace
}  // namespace sonavel
