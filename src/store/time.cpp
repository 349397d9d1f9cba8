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
  char text[48];
  std::snprintf(text, sizeof text, "%ld:%.2ld:%.2ld.%.3ld", static_cast<long>(ms / 3600000),
                static_cast<long>(ms / 60000 % 60), static_cast<long>(ms / 1000 % 60),
                static_cast<long>(ms % 1000));
  return text;
}

}  // namespace sonavel
