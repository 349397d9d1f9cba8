#pragma once
// The argument block a second start of the editor hands to the running one, and the
// rule by which a start with arguments launches the program anew.
//
// Block layout (33 284 bytes): int32 little-endian count of the arguments including the
// program path (at most 128), then 128 slots of 260 bytes; argument i is truncated to
// 259 bytes and zero-terminated in slot i, unused slots are zero.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonavel {

inline constexpr std::size_t kBlockArgumentLimit = 128;
inline constexpr std::size_t kBlockSlotSize = 260;
inline constexpr std::size_t kArgumentBlockSize = 4 + kBlockArgumentLimit * kBlockSlotSize;

std::vector<std::uint8_t> EncodeArgumentBlock(const std::vector<std::string>& arguments);

// Nothing unless `size` is exactly kArgumentBlockSize. The count is clipped to 0 … 128;
// each slot is read up to its first zero byte, at most 259 bytes.
std::optional<std::vector<std::string>> DecodeArgumentBlock(const std::uint8_t* data,
                                                            std::size_t size);

// True when a start with these arguments (program path first) should launch the program
// again with "-block" appended instead of opening its own window: there is more than one
// argument, the last is not "-block" and the first after the program path is not
// "-install" (both compared without regard to case).
bool NeedsRelaunch(const std::vector<std::string>& arguments);

// The arguments for that launch: the same ones followed by "-block".
std::vector<std::string> RelaunchArguments(const std::vector<std::string>& arguments);

}  // namespace sonavel
