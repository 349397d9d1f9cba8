#include "app/instance_block.h"

#include <algorithm>
#include <cstring>

namespace sonavel {
namespace {

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  const std::size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const auto lower = [](unsigned char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
    };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodeArgumentBlock(const std::vector<std::string>& arguments) {
  std::vector<std::uint8_t> block(kArgumentBlockSize, 0);
  const std::size_t count = std::min(arguments.size(), kBlockArgumentLimit);
  const auto count32 = static_cast<std::uint32_t>(count);
  for (int i = 0; i < 4; ++i) block[i] = static_cast<std::uint8_t>(count32 >> (8 * i));
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& argument = arguments[i];
    const std::size_t length = std::min(argument.size(), kBlockSlotSize - 1);
    std::memcpy(block.data() + 4 + i * kBlockSlotSize, argument.data(), length);
  }
  return block;
}

std::optional<std::vector<std::string>> DecodeArgumentBlock(const std::uint8_t* data,
                                                            std::size_t size) {
  if (data == nullptr || size != kArgumentBlockSize) return std::nullopt;
  std::uint32_t raw = 0;
  for (int i = 0; i < 4; ++i) raw |= static_cast<std::uint32_t>(data[i]) << (8 * i);
  const auto signed_count = static_cast<std::int32_t>(raw);
  const std::size_t count =
      signed_count < 0 ? 0 : std::min(static_cast<std::size_t>(signed_count), kBlockArgumentLimit);
  std::vector<std::string> arguments;
  arguments.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto* slot = reinterpret_cast<const char*>(data + 4 + i * kBlockSlotSize);
    const void* zero = std::memchr(slot, 0, kBlockSlotSize - 1);
    const std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - slot)
                        : kBlockSlotSize - 1;
    arguments.emplace_back(slot, length);
  }
  return arguments;
}

bool NeedsRelaunch(const std::vector<std::string>& arguments) {
  return arguments.size() > 1 && !EqualsIgnoringCase(arguments.back(), "-block") &&
         !EqualsIgnoringCase(arguments[1], "-install");
}

std::vector<std::string> RelaunchArguments(const std::vector<std::string>& arguments) {
  std::vector<std::string> relaunch = arguments;
  relaunch.emplace_back("-block");
  return relaunch;
}

}  // namespace sonavel
