#include "store/time.h"

#include <cstdio>

namespace sonavel {

std::int64_t FramesToMs(std::int64_t frames, std::int32_t rate) {
  if (rate <= 0) return 0;
  return (frames / rate) * 1000 + ((frames % rate) * 1000) / rate;
}

std::int64_t MsToFrames(std::int64_t ms, std::int32_t rate) {
  return std::int64_t{rate} * (ms / 1000) + std::int64_t{rate} * (ms % 1000) / 1000;
}

std::string FormatTimeMs(std::int64_t ms) {
  const char* sign = ms < 0 ? "-" : "";
  const std::int64_t value = ms < 0 ? -ms : ms;
  char text[48];
  std::snprintf(text, sizeof text, "%s%ld:%.2ld:%.2ld.%.3ld", sign, static_cast<long>(value / 3600000),
                static_cast<long>(value / 60000 % 60), static_cast<long>(value / 1000 % 60),
                static_cast<long>(value % 1000));
  return text;
}

std::string FormatTimeHundredths(std::int64_t ms) {
  const char* sign = ms < 0 ? "-" : "";
  const std::int64_t value = (ms < 0 ? -ms : ms) + 5;
  char text[48];
  std::snprintf(text, sizeof text, "%s%ld:%.2ld:%.2ld.%.2ld", sign, static_cast<long>(value / 3600000),
                static_cast<long>(value / 60000 % 60), static_cast<long>(value / 1000 % 60),
                static_cast<long>(value % 1000 / 10));
  return text;
}

std::string FormatTimeTenths(std::int64_t ms) {
  const char* sign = ms < 0 ? "-" : "";
  const std::int64_t value = ms < 0 ? -ms : ms;
  char text[48];
  std::snprintf(text, sizeof text, "%s%ld:%.2ld:%.2ld.%.1ld", sign, static_cast<long>(value / 3600000),
                static_cast<long>(value / 60000 % 60), static_cast<long>(value / 1000 % 60),
                static_cast<long>(value % 1000 / 100));
  return text;
}

std::string FormatTimeSeconds(std::int64_t ms) {
  const char* sign = ms < 0 ? "-" : "";
  const std::int64_t value = (ms < 0 ? -ms : ms) + 500;
  char text[48];
  std::snprintf(text, sizeof text, "%s%ld:%.2ld:%.2ld", sign, static_cast<long>(value / 3600000),
                static_cast<long>(value / 60000 % 60), static_cast<long>(value / 1000 % 60));
  return text;
}

}  // namespace sonavel
