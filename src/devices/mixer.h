#pragma once
// The output volume on the system mixer (ALSA): sets and reads the playback volume of a
// sound card's master control in the program's volume scale, the signed-byte level v of
// the playback engine (v <= -36 is silence, else (v + 36) × 1424 up to 65535 in a 16-bit
// scale), stretched linearly over the control's own range.
//
// The control used is the card's "Master" element, else its "PCM" element, else the first
// element with a playback volume. Every failure (no card, no such control) ends the call
// quietly with false; nothing is printed.

#include <cstdint>
#include <optional>
#include <string>

namespace sonavel {

inline constexpr const char* kDefaultMixerCard = "default";

// A 16-bit mixer value on a control whose range is minimum … maximum: minimum + value ×
// (maximum - minimum) / 65535, rounded to nearest. An empty range gives minimum.
long MixerElementVolume(std::uint16_t value, long minimum, long maximum);

// The control's volume for level v: MixerElementVolume(LevelToDeviceVolume(v), …).
long MixerVolumeForLevel(int level, long minimum, long maximum);
// The level a control's volume shows: the highest level from -36 to 10 whose volume is not
// above it (-36 when none is), so that a level set reads back as itself unless the control
// is too coarse to tell it from the next one up. On a control of 0 … 65535 this is the
// device reading value / 1424 - 36. A control without a range reads as 0x8000 would.
int LevelOfMixerVolume(long volume, long minimum, long maximum);

// Sets both channels of the card's output control to level v, and switches the control on
// (off for the silent levels, where it has a switch). `card` is an ALSA control name such
// as "default" or "hw:1". False when the card or a control cannot be used.
bool SetOutputVolumeLevel(int level, const std::string& card = kDefaultMixerCard);
// The level of the control's left (or only) channel; nothing when it cannot be asked.
std::optional<int> OutputVolumeLevel(const std::string& card = kDefaultMixerCard);

}  // namespace sonavel
