#pragma once
// Frame and millisecond conversions, in integers only, and the time texts.

#include <cstdint>
#include <string>

namespace sonavel {

// (frames / rate) × 1000 + ((frames mod rate) × 1000) / rate
std::int64_t FramesToMs(std::int64_t frames, std::int32_t rate);
// rate × (ms / 1000) + rate × (ms mod 1000) / 1000
std::int64_t MsToFrames(std::int64_t ms, std::int32_t rate);
// "%ld:%.2ld:%.2ld.%.3ld": hours, minutes, seconds, milliseconds; "-" before a negative time.
std::string FormatTimeMs(std::int64_t ms);
// "%ld:%.2ld:%.2ld.%.2ld": hours, minutes, seconds, hundredths, rounded by adding 5 ms to
// the magnitude; "-" before a negative time.
std::string FormatTimeHundredths(std::int64_t ms);
// "%ld:%.2ld:%.2ld.%.1ld": hours, minutes, seconds, tenths (truncated); "-" before a
// negative time.
std::string FormatTimeTenths(std::int64_t ms);
// "%ld:%.2ld:%.2ld": hours, minutes, seconds, rounded by adding 500 ms to the magnitude.
std::string FormatTimeSeconds(std::int64_t ms);

}  // namespace sonavel
