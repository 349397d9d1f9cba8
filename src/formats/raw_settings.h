#pragma once
// The settings records of headerless files: rate, channels and sample coding, one record
// for ".raw"/".snd" files ("RawAudio") and one for ".vox" files ("VoxAudio").

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/settings.h"

namespace sonavel {

class Ui;

// The sample codings by their stored number.
inline constexpr int kRawCodecVox = 0;
inline constexpr int kRawCodecMuLaw = 1;
inline constexpr int kRawCodecALaw = 2;
inline constexpr int kRawCodec16Le = 3;
inline constexpr int kRawCodecUnsigned8 = 4;
inline constexpr int kRawCodecSigned8 = 5;
inline constexpr int kRawCodec16Be = 6;
inline constexpr int kRawCodecCount = 7;

// The names the settings dialog shows, by codec number.
inline constexpr std::array<std::string_view, kRawCodecCount> kRawCodecNames = {
    "Dialogic ADPCM", "G711 uLaw", "G711 aLaw", "16 bit PCM (LE)", "8 bit unsigned", "8 bit signed", "16 bit PCM (BE)"};

// The rate choices the settings dialog offers (any other number may be typed).
inline constexpr std::array<int, 12> kRawRateChoices = {6000,  8000,  11025, 16000, 22050, 32000,
                                                        44100, 48000, 64000, 88200, 96000, 196000};

struct RawSettings {
  int rate = 44100;
  int channels = 1;
  int codec = kRawCodec16Le;

  friend bool operator==(const RawSettings&, const RawSettings&) = default;
};

// Which record: the keys of its three values.
struct RawSettingsKeys {
  const IntSetting& rate;
  const IntSetting& channels;
  const IntSetting& codec;
};
const RawSettingsKeys& RawAudioKeys();
const RawSettingsKeys& VoxAudioKeys();

// The stored record (its defaults where nothing is stored); a stored 0 channels reads as 1.
// Null settings give the defaults.
RawSettings ReadRawSettings(const SettingsReader* settings, const RawSettingsKeys& keys);
void WriteRawSettings(Settings& settings, const RawSettingsKeys& keys, const RawSettings& values);

// The raw settings dialog over the record of `keys`, starting with the stored values; a
// non-zero `rate` and `channels` (a save's document) are put in first. On OK the values are
// written back to the record and returned; nullopt when cancelled.
std::optional<RawSettings> RunRawSettingsDialog(Ui& ui, Settings& settings, const RawSettingsKeys& keys,
                                                int rate = 0, int channels = 0);

// True when a reader or writer can work with `values`: a codec of 0..6, a rate of 1 to
// 196000 and 1 to 255 channels. Anything else fails both ways.
bool UsableRawSettings(const RawSettings& values);

// The command line's stand-in for the stored record, "RATE:CHANNELS:CODEC" with a rate of
// 6000 to 196000, 1 or 2 channels and a codec of 0 to 6; nullopt with `error` telling why.
std::optional<RawSettings> ParseRawSettings(std::string_view text, std::string& error);

}  // namespace sonavel
