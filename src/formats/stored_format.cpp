#include "formats/stored_format.h"

#include <algorithm>
#include <filesystem>
#include <vector>

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
  return ReplaceFileContents(path, buffer.data(), buffer.size());
}

WaveFormat SaveFormatFor(std::uint32_t rate, std::uint16_t channels) {
  FormatBuffer buffer = ToBuffer(DefaultFormat(rate, channels));
  LoadStoredWavFormat(buffer);
  return FromBuffer(buffer);
}

WaveFormat WritableFormat(std::uint16_t tag, std::uint16_t bits, std::uint32_t rate, std::uint16_t channels) {
  if (tag == kTagPcm) {
    if (bits == 8 || bits == 16 || bits == 24 || bits == 32) return PcmFormat(rate, channels, bits);
    WaveFormat none;
    none.tag = 0;
    return none;
  }
  WaveFormat format = SuggestFormat(tag, rate, channels, bits);
  if (format.tag != 0 && !CanConvert(DefaultFormat(rate, channels), format)) format.tag = 0;
  return format;
}

WaveFormat StoredFormatAt(std::uint32_t rate, std::uint16_t channels) {
  FormatBuffer stored{};
  if (!LoadStoredWavFormat(stored)) return DefaultFormat(rate, channels);
  const WaveFormat saved = FromBuffer(stored);
  const WaveFormat format = WritableFormat(saved.tag, saved.bits, rate, channels);
  return format.tag != 0 ? format : DefaultFormat(rate, channels);
}

WaveFormat StoredSaveFormat(std::uint32_t rate, std::uint16_t channels) {
  const WaveFormat stored = SaveFormatFor(rate, channels);
  const WaveFormat format = WritableFormat(stored.tag, stored.bits, stored.rate, stored.channels);
  return format.tag != 0 ? format : StoredFormatAt(rate, channels);
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

std::string WavFormatLine(const WaveFormat& format) {
  std::string line = FormatTagName(format.tag) + ", " + std::to_string(format.rate) + " Hz, ";
  if (format.bits != 0) line += std::to_string(format.bits) + " Bit, ";
  line += format.channels == 1 ? "Mono" : format.channels == 2 ? "Stereo" : std::to_string(format.channels) + " Kanäle";
  return line;
}

std::optional<WaveFormat> RunWavFormatChooser(Ui& ui, const WaveFormat& start) {
  std::vector<WaveFormat> formats;
  for (const FormatChoice& choice : WritableFormats()) {
    const WaveFormat format = choice.tag == kTagPcm ? PcmFormat(choice.rate, choice.channels, choice.bits)
                                                    : SuggestFormat(choice.tag, choice.rate, choice.channels, choice.bits);
    if (format.tag != 0) formats.push_back(format);
  }
  WavFormatDialog dialog;
  dialog.title = "Wave Dateiformat wählen";
  const std::string start_line = WavFormatLine(start);
  for (const WaveFormat& format : formats) dialog.choices.push_back(WavFormatLine(format));
  const auto found = std::find(dialog.choices.begin(), dialog.choices.end(), start_line);
  if (found == dialog.choices.end()) {
    // A stored format the table does not write stays visible; choosing it is refused.
    formats.insert(formats.begin(), start);
    dialog.choices.insert(dialog.choices.begin(), start_line);
  } else {
    // The start keeps its own record (extra bytes as stored).
    formats[static_cast<std::size_t>(found - dialog.choices.begin())] = start;
    dialog.selected = static_cast<int>(found - dialog.choices.begin());
  }
  for (;;) {
    if (!ui.ChooseWavFormat(dialog)) return std::nullopt;
    if (dialog.selected < 0 || static_cast<std::size_t>(dialog.selected) >= formats.size()) return std::nullopt;
    const WaveFormat& chosen = formats[static_cast<std::size_t>(dialog.selected)];
    if (AcceptChosenWavFormat(chosen, ui)) return chosen;
  }
}

}  // namespace sonavel
