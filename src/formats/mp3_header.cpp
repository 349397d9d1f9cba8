#include "formats/mp3_header.h"

namespace sonavel::mp3 {

namespace {

constexpr int kBitratesMpeg1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kBitratesLowerSampling[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

}  // namespace

std::optional<FrameHeader> ParseFrameHeader(const std::uint8_t* bytes) {
  if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return std::nullopt;
  const int version_bits = (bytes[1] >> 3) & 3;
  const int layer_bits = (bytes[1] >> 1) & 3;
  if (version_bits == 1 || layer_bits != 1) return std::nullopt;  // reserved version; not Layer III
  FrameHeader header;
  header.version = version_bits == 3 ? MpegVersion::k1 : version_bits == 2 ? MpegVersion::k2 : MpegVersion::k25;
  header.protected_by_crc = (bytes[1] & 1) == 0;
  header.bitrate_index = bytes[2] >> 4;
  header.rate_index = (bytes[2] >> 2) & 3;
  if (header.bitrate_index == 0 || header.bitrate_index == 15 || header.rate_index == 3) return std::nullopt;
  header.padding = ((bytes[2] >> 1) & 1) != 0;
  header.mode = static_cast<ChannelMode>(bytes[3] >> 6);
  header.mode_extension = (bytes[3] >> 4) & 3;

  const bool mpeg1 = header.version == MpegVersion::k1;
  header.bitrate_kbps = (mpeg1 ? kBitratesMpeg1 : kBitratesLowerSampling)[header.bitrate_index];
  header.sample_rate = kRates[static_cast<int>(header.version)][header.rate_index];
  header.channels = header.mode == ChannelMode::kMono ? 1 : 2;
  header.samples_per_frame = mpeg1 ? 1152 : 576;
  header.frame_bytes = (mpeg1 ? 144 : 72) * header.bitrate_kbps * 1000 / header.sample_rate + (header.padding ? 1 : 0);
  header.side_info_bytes = mpeg1 ? (header.channels == 1 ? 17 : 32) : (header.channels == 1 ? 9 : 17);
  return header;
}

bool SameStream(const FrameHeader& a, const FrameHeader& b) {
  return a.version == b.version && a.rate_index == b.rate_index &&
         (a.mode == ChannelMode::kMono) == (b.mode == ChannelMode::kMono);
}

}  // namespace sonavel::mp3
