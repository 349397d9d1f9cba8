#include "formats/stored_format.h"

#include <filesystem>

#include "formats/codec_table.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/ui.h"

namespace sonavel {

std::string StoredWavFormatPath() { return JoinPath(UserDataFolder(), "WavCodec.wff"); }

bool LoadStoredWavFormat(FormatBuffer& buffer) {
  File file(StoredWavFormatPath(), File::Mode::kRead);
  FormatBuffer loaded{};
  if (file.Read(loaded.data(), loaded.size()) != loaded.size()) return false;
  buffer = loaded;
  return true;
}

bool SaveStoredWavFormat(const FormatBuffer& buffer) {
  const std::string path = StoredWavFormatPath();
  std::error_code ignored;
  std::filesystem::create_directories(UserDataFolder(), ignored);
  const std::string temporary = TemporarySibling(path);
  bool written = false;
  {
    File file(temporary, File::Mode::kCreate);
    written = file.Write(buffer.data(), buffer.size());
  }
  if (written && RenameFile(temporary, path)) return true;
  RemoveFile(temporary);
  return false;
}

WaveFormat SaveFormatFor(std::uint32_t rate, std::uint16_t channels) {
  FormatBuffer buffer = ToBuffer(DefaultFormat(rate, channels));
  LoadStoredWavFormat(buffer);
  return FromBuffer(buffer);
}

WaveFormat ChooserStartFormat(std::uint32_t rate, std::uint16_t channels) {
  WaveFormat format = SaveFormatFor(rate, channels);
  if (format.tag == kTagPcm) {
    if (rate != 0) format.rate = rate;
    if (channels != 0) format.channels = channels;
    const std::uint16_t bytes = static_cast<std::uint16_t>((format.bits + 7) / 8);
    format.block_align = static_cast<std::uint16_t>(bytes * format.channels);
    format.avg_bytes_per_sec = format.rate * format.block_align;
  }
  return format;
}

bool AcceptChosenWavFormat(const WaveFormat& format, Ui& ui) {
  const bool usable =
      format.tag == kTagPcm || CanConvert(DefaultFormat(format.rate, format.channels), format);
  if (!usable) {
    ui.ShowMessage({"Das gewählte Format ist nicht verfügbar, weil der benötigte CODEC auf Ihrem "
                    "Computer nicht installiert ist.",
                    "Format nicht verfügbar", MessageIcon::kError, MessageButtons::kOk});
    return false;
  }
  SaveStoredWavFormat(ToBuffer(format));
  return true;
}

}  // namespace sonavel
