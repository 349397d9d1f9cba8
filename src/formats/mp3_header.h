#pragma once
// The four-byte header of an MPEG audio Layer III frame: what the decoder and the file
// reader take from it. Only headers the reader accepts are parsed: MPEG-1, -2 or -2.5,
// Layer III, a bit rate from the table (free format is refused) and a known rate.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sonavel::mp3 {

enum class MpegVersion : std::uint8_t { k1, k2, k25 };

enum class ChannelMode : std::uint8_t { kStereo = 0, kJointStereo = 1, kDualChannel = 2, kMono = 3 };

struct FrameHeader {
  MpegVersion version = MpegVersion::k1;
  bool protected_by_crc = false;  // a 16-bit CRC word follows the header
  int bitrate_index = 0;          // 1..14
  int rate_index = 0;             // 0..2
  bool padding = false;
  ChannelMode mode = ChannelMode::kStereo;
  int mode_extension = 0;  // joint stereo: bit 1 mid/side, bit 0 intensity

  int bitrate_kbps = 0;
  int sample_rate = 0;
  int channels = 0;           // 1 for mono, else 2
  int samples_per_frame = 0;  // 1152 for MPEG-1, 576 for MPEG-2 and -2.5
  int frame_bytes = 0;        // the whole frame, header included
  int side_info_bytes = 0;    // 17 / 32 for MPEG-1 mono / stereo, 9 / 17 for the others

  bool lower_sampling() const { return version != MpegVersion::k1; }
  // Where the side information starts: after the header and its CRC word.
  int side_info_offset() const { return protected_by_crc ? 6 : 4; }
  // Where the main data of this frame starts.
  int main_data_offset() const { return side_info_offset() + side_info_bytes; }
};

inline constexpr std::size_t kHeaderBytes = 4;

// The header in the four bytes at `bytes`, or nothing when they are not a header of a
// Layer III frame this decoder takes.
std::optional<FrameHeader> ParseFrameHeader(const std::uint8_t* bytes);

// Whether two headers belong to the same stream: same version, rate and mono or not.
bool SameStream(const FrameHeader& a, const FrameHeader& b);

}  // namespace sonavel::mp3
