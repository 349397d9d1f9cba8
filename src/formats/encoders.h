#pragma once
// The encoder components' side of saving: their command lines from the stored encoder
// settings, the rate and channels each one is fed, their settings dialogs, and the format
// entries of the files they write (".mp3" takes its writer from here too).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/format_table.h"
#include "platform/dialog_model.h"
#include "platform/result.h"
#include "platform/settings.h"

namespace sonavel {

class Progress;
class Ui;

// An encoder's command line as arguments (never a shell line: paths may hold quotes and
// blanks), with the rate and channels its sink feeds it and the byte order of its 16-bit
// input (lame's "-x" swaps what it reads, so the MP3 encoder is fed big-endian).
struct EncoderCommand {
  std::vector<std::string> arguments;
  std::vector<bool> quoted;  // per argument: written in double quotes in Text()
  std::int32_t rate = 0;
  std::uint8_t channels = 0;
  bool big_endian = false;

  // The command line as one text, for logs: `"lame" -m j -b 128 -h -r -x -s 44.100 -S - "out.mp3"`.
  std::string Text() const;
};

// The encoder of an extension: its component, its settings record (the values' keys with
// their defaults and ranges) and its dialog's name. Null for an extension no component
// encodes.
struct EncoderInfo {
  std::vector<std::string_view> extensions;
  std::string_view component;
  std::span<const RangedSetting* const> settings;
  std::string_view dialog;
};
const EncoderInfo* EncoderForExtension(std::string_view extension);

// The rate and channels the encoder of `extension` is fed for a sound of `rate` and
// `channels`: MP3 by its rate, channel and bit-rate rules; FLAC its stored rate and
// channels (the sound's own where none are stored); AMR 8000 Hz mono; the others the
// sound's own.
WaveFormat EncoderInputFormat(std::string_view extension, std::int32_t rate, std::uint8_t channels,
                              const SettingsReader& settings);

// The command lines, for `executable` writing `output`, from a sound of `rate` and `channels`.
EncoderCommand Mp3EncoderCommand(const std::string& executable, const std::string& output, std::int32_t rate,
                                 std::uint8_t channels, const SettingsReader& settings);
EncoderCommand OggEncoderCommand(const std::string& executable, const std::string& output, std::int32_t rate,
                                 std::uint8_t channels, const SettingsReader& settings);
EncoderCommand FlacEncoderCommand(const std::string& executable, const std::string& output, std::int32_t rate,
                                  std::uint8_t channels, const SettingsReader& settings);
EncoderCommand AacEncoderCommand(const std::string& executable, const std::string& output, std::int32_t rate,
                                 std::uint8_t channels, const SettingsReader& settings);
// AMR reads an 8000 Hz mono WAV file `input` (the file form), or its samples from the pipe
// (the streaming form, `input` empty).
EncoderCommand AmrEncoderCommand(const std::string& executable, const std::string& input, const std::string& output,
                                 const SettingsReader& settings);
// The command of the extension's encoder (`input` only for AMR's file form).
std::optional<EncoderCommand> EncoderCommandFor(std::string_view extension, const std::string& executable,
                                                const std::string& output, std::int32_t rate, std::uint8_t channels,
                                                const SettingsReader& settings);

// The settings dialog of the extension's encoder, filled from `settings`; a non-zero `rate`
// and `channels` (the sound to be saved) are put in first where the dialog has them
// (Ogg channels, FLAC rate and channels). Null for an extension without an encoder.
std::optional<EncoderDialog> EncoderDialogFor(std::string_view extension, const SettingsReader& settings,
                                              int rate = 0, int channels = 0);
// Shows that dialog and stores what was accepted; false when cancelled (or no encoder).
bool RunEncoderOptions(std::string_view extension, Ui& ui, Settings& settings, int rate = 0, int channels = 0);

// "NAME=VALUE" given for the encoder of `extension`: empty when `name` is one of its values
// and `value` a whole number in its range, else why not.
std::string EncoderValueRefusal(std::string_view extension, std::string_view name, std::string_view value);

// The settings a writer reads: those of `options`, else the defaults.
const SettingsReader& SettingsOf(const OpenOptions& options);

// Hands every frame to an encoder's sink and shows its position and status: the base of
// the writers that do something with the encoder's file once it is finished.
class EncoderOutputSink : public SampleSink {
 public:
  explicit EncoderOutputSink(SinkRef encoder)
      : SampleSink(encoder->rate, encoder->channels), encoder_(std::move(encoder)) {
    Mirror();
  }
  void Write(const std::int32_t* buffer, std::int32_t frames) override {
    encoder_->Write(buffer, frames);
    Mirror();
  }
  void Seek(std::int32_t frame) override {
    encoder_->Seek(frame);
    Mirror();
  }

 protected:
  void Mirror() {
    position = encoder_->position;
    status = encoder_->status;
  }
  SinkRef encoder_;
};

// The format entries of the encoded files: ".ogg", ".flac", ".aac" (ADTS), ".m4a" (MPEG-4),
// ".amr" (written only, their reading goes through the converters), and the writer side of
// ".mp3". Each encoder writes a file named with the target's extension, which tells it the
// container.
FileFormat OggFileFormat();
FileFormat FlacFileFormat();
FileFormat AacFileFormat();
FileFormat M4aFileFormat();
FileFormat AmrFileFormat();
void AddMp3Writer(FileFormat& format);

// The save of an ".amr" file: the sound into a temporary 8000 Hz mono 16-bit WAV file,
// then the encoder in its file form, writing `path` only when it succeeded.
Result SaveAmrFile(SourceRef source, const std::string& path, Progress& progress, const OpenOptions& options);

}  // namespace sonavel
