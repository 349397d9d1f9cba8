#pragma once
// The WAV save format kept between runs: "WavCodec.wff" in the per-user data folder, the
// 1024-byte format buffer written and read whole.

#include <cstdint>
#include <optional>
#include <string>

#include "formats/wave_format.h"

namespace sonavel {

class Ui;

std::string StoredWavFormatPath();

// Reads the file over `buffer`; true only when all 1024 bytes arrived (the buffer is left
// as it was otherwise).
bool LoadStoredWavFormat(FormatBuffer& buffer);
// Writes the whole buffer, replacing the file only when the new one is complete.
bool SaveStoredWavFormat(const FormatBuffer& buffer);

// The format a WAV save writes: the default for the sound's rate and channels with the
// stored format loaded over it.
WaveFormat SaveFormatFor(std::uint32_t rate, std::uint16_t channels);

// The stored format's kind (tag and bits) at `rate` and `channels`: what a save writes
// while rate and channel conversion are not part of saving. 16-bit PCM when nothing is
// stored or the stored kind cannot be written at that rate and channel count.
WaveFormat StoredFormatAt(std::uint32_t rate, std::uint16_t channels);
// The stored format as it is stored, its own rate and channels included: what a save to a
// new WAV file writes without the chooser (the sound is converted to it). When the codec
// table cannot write it, StoredFormatAt.
WaveFormat StoredSaveFormat(std::uint32_t rate, std::uint16_t channels);
// A format of `tag` and `bits` at `rate` and `channels`, complete as the codec table
// writes it; tag 0 when it cannot be written.
WaveFormat WritableFormat(std::uint16_t tag, std::uint16_t bits, std::uint32_t rate, std::uint16_t channels);

// Where the format chooser starts: as SaveFormatFor, and a PCM format takes the sound's
// rate and channel count (when non-zero).
WaveFormat ChooserStartFormat(std::uint32_t rate, std::uint16_t channels);

// The chooser's confirmation: a PCM format, or one the codec table can encode from 16-bit
// PCM at its rate and channels, is stored and accepted. Otherwise the user is told that
// the codec is missing and false comes back (the chooser is shown again).
bool AcceptChosenWavFormat(const WaveFormat& format, Ui& ui);

// The chooser's line for a format: "PCM, 44100 Hz, 16 Bit, Stereo" (no bits for formats
// without a sample size, such as GSM 6.10).
std::string WavFormatLine(const WaveFormat& format);

// The WAV format chooser "Wave Dateiformat wählen" over every format the codec table
// writes, opening on `start` (listed first when the table does not offer it). A confirmed
// format goes through AcceptChosenWavFormat, and the chooser comes back until one is
// accepted. The accepted format, or nullopt when the user cancelled.
std::optional<WaveFormat> RunWavFormatChooser(Ui& ui, const WaveFormat& start);

}  // namespace sonavel
