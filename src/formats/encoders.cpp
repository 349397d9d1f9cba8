#include "formats/encoders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "formats/components.h"
#include "formats/open_file.h"
#include "formats/pump.h"
#include "formats/raw_settings.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/temporary_wav.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

using namespace setting;

constexpr std::int32_t kAmrRate = 8000;
// AMR's file form may run for a while on a long sound; past this the encoder counts as hung.
constexpr int kAmrTimeoutMs = 360000;

// The encoders by extension, with their components, records and dialogs.
const std::vector<EncoderInfo>& Encoders() {
  static const std::vector<EncoderInfo> table = {
      {{".mp3"}, kMp3Encoder, kMp3EncoderSettings, "LMp3EncodeDlg"},
      {{".ogg"}, kOggEncoder, kOggEncoderSettings, "OggEncodeDlg"},
      {{".flac"}, kFlacEncoder, kFlacEncoderSettings, "FlacEncodeDlg"},
      {{".aac", ".m4a"}, kAacEncoder, kAacEncoderSettings, "LAACEncodeDlg"},
      {{".amr"}, kAmrEncoder, kAmrEncoderSettings, "LAMREncodeDlg"},
  };
  return table;
}

// Builds a command line argument by argument.
class CommandBuilder {
 public:
  CommandBuilder(const std::string& executable, std::int32_t rate, std::uint8_t channels) {
    command_.rate = rate;
    command_.channels = channels;
    Quoted(executable);
  }
  CommandBuilder& Add(std::string argument) {
    command_.arguments.push_back(std::move(argument));
    command_.quoted.push_back(false);
    return *this;
  }
  CommandBuilder& Add(int number) { return Add(std::to_string(number)); }
  CommandBuilder& Quoted(std::string argument) {
    command_.arguments.push_back(std::move(argument));
    command_.quoted.push_back(true);
    return *this;
  }
  EncoderCommand Done(bool big_endian = false) {
    command_.big_endian = big_endian;
    return std::move(command_);
  }

 private:
  EncoderCommand command_;
};

// What the MP3 rules make of a sound's rate and channels, and the mode letter.
struct Mp3Plan {
  bool constant;
  int minimum;  // the governing bit rates: the constant one, or the variable range
  int maximum;
  std::int32_t rate;
  std::uint8_t channels;
  char mode;
  bool downmix;  // " -a": a stereo input encoded as mono
};

Mp3Plan PlanMp3(std::int32_t document_rate, std::uint8_t document_channels, const SettingsReader& settings) {
  Mp3Plan plan{};
  plan.constant = settings.Read(kMp3ConstantBitRate) != 0;
  if (plan.constant) {
    plan.minimum = plan.maximum = settings.Read(kMp3CbrBitRate);
  } else {
    plan.minimum = settings.Read(kMp3VbrMinBitRate);
    plan.maximum = settings.Read(kMp3VbrMaxBitRate);
    if (plan.maximum > 160 && plan.minimum < 32) plan.minimum = 32;
  }
  std::int32_t rate = std::min<std::int32_t>(document_rate, 48000);
  if (plan.maximum > 160 && document_rate < 32000) {
    rate = 44100;
  } else {
    if (plan.minimum < 32 && rate > 22050) rate = 22050;
    // Each rule takes the result of the one before.
    if (rate >= 44101 && rate <= 47999) rate = 44100;
    if (rate >= 32001 && rate <= 44099) rate = 44100;
    if (rate >= 24001 && rate <= 31999) rate = 32000;
    if (rate >= 22051 && rate <= 23999) rate = 22050;
    if (rate >= 16001 && rate <= 22049) rate = 22050;
    if (rate >= 11026 && rate <= 15999) rate = 11025;
    if (rate >= 8001 && rate <= 11024) rate = 11025;
    rate = std::max<std::int32_t>(rate, 8000);
  }
  plan.rate = rate;
  plan.channels = plan.minimum < 24 ? 1 : document_channels;
  static constexpr char kModes[] = {'s', 'j', 'f', 'm'};
  plan.mode = kModes[settings.Read(kMp3ChannelMode)];
  if (plan.maximum < 24 || plan.channels == 1) plan.mode = 'm';
  plan.downmix = plan.mode == 'm' && plan.channels == 2;
  return plan;
}

// The stored channels of Ogg and FLAC, or the sound's own when none are stored (the
// record's default of 1 would silently make every stereo save mono).
std::uint8_t StoredChannels(const SettingsReader& settings, const RangedSetting& key, std::uint8_t channels) {
  return static_cast<std::uint8_t>(settings.ReadStored(key).value_or(channels == 2 ? 2 : 1));
}

// A bit rate that the sound's rate and channels can carry: 4.5 bits per sample.
int BitRateCap(std::uint8_t channels, std::int32_t rate) {
  return static_cast<int>(std::floor(channels * static_cast<double>(rate) * 0.0045));
}

}  // namespace

std::string EncoderCommand::Text() const {
  std::string text;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) text += ' ';
    text += quoted[i] ? "\"" + arguments[i] + "\"" : arguments[i];
  }
  return text;
}

const EncoderInfo* EncoderForExtension(std::string_view extension) {
  for (const EncoderInfo& encoder : Encoders())
    if (std::find(encoder.extensions.begin(), encoder.extensions.end(), extension) != encoder.extensions.end())
      return &encoder;
  return nullptr;
}

WaveFormat EncoderInputFormat(std::string_view extension, std::int32_t rate, std::uint8_t channels,
                              const SettingsReader& settings) {
  if (extension == ".mp3") {
    const Mp3Plan plan = PlanMp3(rate, channels, settings);
    return DefaultFormat(static_cast<std::uint32_t>(plan.rate), plan.channels);
  }
  if (extension == ".flac")
    return DefaultFormat(static_cast<std::uint32_t>(settings.ReadStored(kFlacSampleRate).value_or(rate)),
                         StoredChannels(settings, kFlacChannels, channels));
  if (extension == ".amr") return DefaultFormat(kAmrRate, 1);
  return DefaultFormat(static_cast<std::uint32_t>(rate), channels);
}

EncoderCommand Mp3EncoderCommand(const std::string& executable, const std::string& output, std::int32_t rate,
                                 std::uint8_t channels, const SettingsReader& settings) {
  const Mp3Plan plan = PlanMp3(rate, channels, settings);
  CommandBuilder command(executable, plan.rate, plan.channels);
  if (plan.downmix) command.Add("-a");
  command.Add("-m").Add(std::string(1, plan.mode));
  if (settings.Read(kMp3ErrorProtection) != 0) command.Add("-p");
  if (plan.constant) {
    command.Add("-b").Add(plan.maximum);
    if (settings.Read(kMp3HighQuality) != 0) command.Add("-h");
  } else {
    command.Add("-v").Add("-b").Add(plan.minimum).Add("-B").Add(plan.maximum);
    command.Add("-V").Add(settings.Read(kMp3VbrQuality));
  }
  char khz[16];
  std::snprintf(khz, sizeof khz, "%d.%.3d", plan.rate / 1000, plan.rate % 1000);
  command.Add("-r").Add("-x").Add("-s").Add(khz).Add("-S").Add("-").Quoted(output);
  // lame reads raw input in the machine's order and "-x" swaps it: fed big-endian, it
  // reads the samples as they are.
  return command.Done(true);
}

EncoderCommand OggEncoderCommand(const std::string& executable, const std::string& output, std::int32_t rate,
                                 std::uint8_t channels, const SettingsReader& settings) {
  CommandBuilder command(executable, rate, channels);
  command.Add("-C").Add(channels).Add("-R").Add(rate);
  const std::uint8_t wanted = StoredChannels(settings, kOggChannels, channels);
  if (channels == 2 && wanted == 1) command.Add("--downmix");
  if (settings.Read(kOggQualityMode) != 0) {
    command.Add("-q").Add(settings.Read(kOggVbrQuality));
  } else {
    const int maximum =
        std::min(settings.Read(kOggVbrMaxBitRate), BitRateCap(std::min(wanted, channels), rate));
    const int minimum = std::min(settings.Read(kOggVbrMinBitRate), maximum);
    command.Add("-m").Add(minimum).Add("-M").Add(maximum);
  }
  if (settings.Read(kOggStripComments) != 0) command.Add("--discard-comments");
  command.Add("-Q").Add("-").Add("-o").Quoted(output);
  return command.Done();
}

EncoderCommand FlacEncoderCommand(const std::string& executable, const std::string& output, std::int32_t rate,
                                  std::uint8_t channels, const SettingsReader& settings) {
  const WaveFormat format = EncoderInputFormat(".flac", rate, channels, settings);
  CommandBuilder command(executable, static_cast<std::int32_t>(format.rate), static_cast<std::uint8_t>(format.channels));
  command.Add("--channels=" + std::to_string(format.channels));
  command.Add("--sample-rate=" + std::to_string(format.rate));
  command.Add("--compression-level-" + std::to_string(settings.Read(kFlacCompression)));
  command.Add("--endian=little").Add("--bps=16").Add("--sign=signed").Add("-f").Add("-").Add("-o").Quoted(output);
  return command.Done();
}

EncoderCommand AacEncoderCommand(const std::string& executable, const std::string& output, std::int32_t rate,
                                 std::uint8_t channels, const SettingsReader& settings) {
  CommandBuilder command(executable, rate, channels);
  command.Add("-C").Add(channels).Add("-R").Add(rate);
  if (settings.Read(kAacAverageBitRate) != 0)
    command.Add("-b").Add(std::min(settings.Read(kAacAbrBitRate), BitRateCap(channels, rate)));
  else
    command.Add("-q").Add(settings.Read(kAacVbrQuality));
  if (settings.Read(kAacForceMpeg2) != 0) command.Add("--mpeg-vers").Add("2");
  if (settings.Read(kAacDisableTns) != 0) command.Add("--no-tns");
  command.Add("-X").Add("-").Add("-o").Quoted(output);
  return command.Done();
}

EncoderCommand AmrEncoderCommand(const std::string& executable, const std::string& input, const std::string& output,
                                 const SettingsReader& settings) {
  static constexpr const char* kModes[] = {"MR475", "MR515", "MR59", "MR67", "MR74", "MR795", "MR102", "MR122"};
  CommandBuilder command(executable, kAmrRate, 1);
  command.Add(kModes[settings.Read(kAmrModeRateSelection)]);
  if (input.empty())
    command.Add("-");
  else
    command.Quoted(input);
  command.Quoted(output);
  return command.Done();
}

std::optional<EncoderCommand> EncoderCommandFor(std::string_view extension, const std::string& executable,
                                                const std::string& output, std::int32_t rate, std::uint8_t channels,
                                                const SettingsReader& settings) {
  if (extension == ".mp3") return Mp3EncoderCommand(executable, output, rate, channels, settings);
  if (extension == ".ogg") return OggEncoderCommand(executable, output, rate, channels, settings);
  if (extension == ".flac") return FlacEncoderCommand(executable, output, rate, channels, settings);
  if (extension == ".aac" || extension == ".m4a") return AacEncoderCommand(executable, output, rate, channels, settings);
  if (extension == ".amr") return AmrEncoderCommand(executable, "", output, settings);
  return std::nullopt;
}

// ---- the dialogs ----

namespace {

std::vector<EncoderChoice> NumberChoices(std::initializer_list<int> numbers) {
  std::vector<EncoderChoice> choices;
  for (const int number : numbers) choices.push_back({std::to_string(number), number});
  return choices;
}

// Entries "0 (first)", "1", …, "last (last)" standing for 0 … last.
std::vector<EncoderChoice> ScaleChoices(int last, const std::string& first_note, const std::string& last_note) {
  std::vector<EncoderChoice> choices;
  for (int i = 0; i <= last; ++i) {
    std::string text = std::to_string(i);
    if (i == 0) text += " (" + first_note + ")";
    if (i == last) text += " (" + last_note + ")";
    choices.push_back({text, i});
  }
  return choices;
}

std::vector<EncoderChoice> TextChoices(std::initializer_list<const char*> texts, int first_value) {
  std::vector<EncoderChoice> choices;
  for (const char* text : texts) choices.push_back({text, first_value++});
  return choices;
}

std::vector<EncoderChoice> Mp3BitRates() {
  return NumberChoices({8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320});
}

EncoderControl List(const RangedSetting& key, std::string label, std::vector<EncoderChoice> choices, int standard,
                    bool free_entry = false) {
  return {std::string(key.key.name), std::move(label), EncoderControlKind::kList, std::move(choices), free_entry, 0,
          standard, {}, 0};
}

EncoderControl Switch(const RangedSetting& key, std::string label, int standard) {
  return {std::string(key.key.name), std::move(label), EncoderControlKind::kSwitch, {}, false, 0, standard, {}, 0};
}

EncoderControl Options(const RangedSetting& key, std::string label, std::vector<EncoderChoice> choices, int standard) {
  return {std::string(key.key.name), std::move(label), EncoderControlKind::kOptions, std::move(choices), false, 0,
          standard, {}, 0};
}

// `control`, enabled only while the mode `mode` holds `when`.
EncoderControl When(EncoderControl control, const RangedSetting& mode, int when) {
  control.enabled_by = std::string(mode.key.name);
  control.enabled_when = when;
  return control;
}

// The dialog's controls without their values.
EncoderDialog DialogLayout(std::string_view extension) {
  EncoderDialog dialog;
  dialog.name = std::string(EncoderForExtension(extension)->dialog);
  const auto channels = TextChoices({"Mono", "Stereo"}, 1);
  if (extension == ".mp3") {
    dialog.title = "MP3-Encoder Einstellungen";
    std::vector<EncoderChoice> rates = Mp3BitRates();
    dialog.controls = {
        Options(kMp3ConstantBitRate, "Bitrate", {{"Konstante Bitrate", 1}, {"Variable Bitrate", 0}}, 1),
        When(List(kMp3CbrBitRate, "Konstante Bitrate (kbit/s)", rates, 128), kMp3ConstantBitRate, 1),
        When(Switch(kMp3HighQuality, "Hohe Qualität", 1), kMp3ConstantBitRate, 1),
        When(List(kMp3VbrMinBitRate, "Minimale Bitrate (kbit/s)", rates, 32), kMp3ConstantBitRate, 0),
        When(List(kMp3VbrMaxBitRate, "Maximale Bitrate (kbit/s)", rates, 128), kMp3ConstantBitRate, 0),
        When(List(kMp3VbrQuality, "Qualität", ScaleChoices(9, "Höchste", "Niedrigste"), 4), kMp3ConstantBitRate, 0),
        Switch(kMp3ErrorProtection, "Fehlerschutz", 0),
        List(kMp3ChannelMode, "Kanalmodus", TextChoices({"Stereo", "Joint", "Force", "Mono"}, 0), 1),
    };
  } else if (extension == ".ogg") {
    dialog.title = "Ogg Vorbis-Encoder Einstellungen";
    const auto rates = NumberChoices({32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224});
    dialog.controls = {
        Options(kOggQualityMode, "Modus", {{"Qualität", 1}, {"Bitratenbereich", 0}}, 1),
        When(List(kOggVbrQuality, "Qualität", ScaleChoices(10, "Lowest", "Highest"), 4), kOggQualityMode, 1),
        When(List(kOggVbrMinBitRate, "Minimale Bitrate (kbit/s)", rates, 96), kOggQualityMode, 0),
        When(List(kOggVbrMaxBitRate, "Maximale Bitrate (kbit/s)", rates, 128), kOggQualityMode, 0),
        List(kOggChannels, "Kanäle", channels, 2),
        Switch(kOggStripComments, "Kommentare entfernen", 0),
    };
  } else if (extension == ".flac") {
    dialog.title = "FLAC-Encoder Einstellungen";
    std::vector<EncoderChoice> rates;
    for (const int rate : kRawRateChoices) rates.push_back({std::to_string(rate), rate});
    dialog.controls = {
        List(kFlacCompression, "Kompression", ScaleChoices(8, "fastest", "best"), 4),
        List(kFlacSampleRate, "Samplerate (Hz)", rates, 44100, true),
        List(kFlacChannels, "Kanäle", channels, 2),
    };
  } else if (extension == ".aac" || extension == ".m4a") {
    dialog.title = "AAC-Encoder Einstellungen";
    std::vector<EncoderChoice> rates = Mp3BitRates();
    rates.erase(rates.begin());  // no 8 kbit/s
    dialog.controls = {
        Options(kAacAverageBitRate, "Modus", {{"Durchschnittliche Bitrate", 1}, {"Qualität", 0}}, 0),
        When(List(kAacAbrBitRate, "Bitrate (kbit/s)", rates, 128), kAacAverageBitRate, 1),
        When(List(kAacVbrQuality, "Qualität", NumberChoices({10, 50, 100, 150, 200, 250, 300, 350, 400, 450, 500}),
                  100, true),
             kAacAverageBitRate, 0),
        Switch(kAacForceMpeg2, "MPEG-2 erzwingen", 0),
        Switch(kAacDisableTns, "TNS abschalten", 0),
    };
  } else {
    dialog.title = "AMR-Encoder Einstellungen";
    dialog.controls = {List(kAmrModeRateSelection, "Bitrate (kbit/s)",
                            TextChoices({"4.75", "5.15", "5.9", "6.7", "7.4", "7.95", "10.2", "12.2"}, 0), 4)};
  }
  return dialog;
}

const RangedSetting* FindSetting(const EncoderInfo& encoder, std::string_view name) {
  for (const RangedSetting* setting : encoder.settings)
    if (setting->key.name == name) return setting;
  return nullptr;
}

}  // namespace

std::optional<EncoderDialog> EncoderDialogFor(std::string_view extension, const SettingsReader& settings, int rate,
                                              int channels) {
  const EncoderInfo* encoder = EncoderForExtension(extension);
  if (encoder == nullptr) return std::nullopt;
  EncoderDialog dialog = DialogLayout(extension);
  for (EncoderControl& control : dialog.controls) control.value = settings.Read(*FindSetting(*encoder, control.name));
  for (EncoderControl& control : dialog.controls) {
    // The sound's own format comes first where the dialog sets the file's.
    if (channels > 0 && (control.name == kOggChannels.key.name || control.name == kFlacChannels.key.name))
      control.value = channels == 2 ? 2 : 1;
    if (rate > 0 && extension == ".flac" && control.name == kFlacSampleRate.key.name) control.value = rate;
    // The mode list always opens on 7.4 kbit/s.
    if (extension == ".amr") control.value = control.standard;
  }
  return dialog;
}

bool RunEncoderOptions(std::string_view extension, Ui& ui, Settings& settings, int rate, int channels) {
  std::optional<EncoderDialog> dialog = EncoderDialogFor(extension, settings, rate, channels);
  if (!dialog || !ui.AskEncoderSettings(*dialog)) return false;
  const EncoderInfo& encoder = *EncoderForExtension(extension);
  for (const EncoderControl& control : dialog->controls) {
    const RangedSetting& key = *FindSetting(encoder, control.name);
    // A typed 0 (or anything the value cannot take) stores the default: 44100 Hz, quality 100.
    settings.Write(key, key.Contains(control.value) ? control.value : key.key.fallback);
  }
  return true;
}

std::string EncoderValueRefusal(std::string_view extension, std::string_view name, std::string_view value) {
  const EncoderInfo* encoder = EncoderForExtension(extension);
  if (encoder == nullptr) return "The output's format has no encoder settings; \"" + std::string(name) + "\" is none.";
  const RangedSetting* key = FindSetting(*encoder, name);
  if (key == nullptr) {
    std::string names;
    for (const RangedSetting* each : encoder->settings) names += (names.empty() ? "" : ", ") + std::string(each->key.name);
    return "\"" + std::string(name) + "\" is not a setting of the " + std::string(encoder->component) +
           " encoder (" + names + ").";
  }
  const std::optional<std::int64_t> number = ParseWholeNumber(value);
  if (!number || *number < key->lowest || *number > key->highest)
    return std::string(name) + ": \"" + std::string(value) + "\" is " + (number ? "out of range" : "not a whole number") +
           " (" + std::to_string(key->lowest) + " to " + std::to_string(key->highest) + ").";
  return {};
}

// ---- the format entries ----

const SettingsReader& SettingsOf(const OpenOptions& options) {
  static const DefaultSettings defaults;
  return options.settings != nullptr ? *options.settings : defaults;
}

namespace {

// Hands the frames to an encoder writing `named` (the file's name with the target's
// extension, from which an encoder may choose its container, as for ".m4a") and puts that
// in place of `file` once the encoder has ended well; otherwise it is removed.
class NamedOutputSink final : public EncoderOutputSink {
 public:
  NamedOutputSink(SinkRef encoder, std::string named, std::string file)
      : EncoderOutputSink(std::move(encoder)), named_(std::move(named)), file_(std::move(file)) {}
  ~NamedOutputSink() override {
    encoder_.Reset();  // an unfinished encoder is ended before its file goes
    if (written_ >= 0) ::close(written_);
    if (!placed_) RemoveFile(named_);
  }
  void Write(const std::int32_t* buffer, std::int32_t frames) override {
    EncoderOutputSink::Write(buffer, frames);
    // The file must be on the disk before it replaces the target: its writing to the disk
    // is started as it grows, so that little is left to wait for at the end.
    if ((frames_since_flush_ += frames) >= kFlushFrames) {
      frames_since_flush_ = 0;
      if (written_ < 0) written_ = ::open(named_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (written_ >= 0) ::sync_file_range(written_, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
  }
  void Finish() override {
    encoder_->Finish();
    Mirror();
    if (status == kStatusOk) placed_ = std::rename(named_.c_str(), file_.c_str()) == 0;
    if (!placed_) status |= kSinkWriteFailed;
  }

 private:
  static constexpr std::int64_t kFlushFrames = 1 << 21;  // about 47 s at 44.1 kHz

  std::string named_;
  std::string file_;
  bool placed_ = false;
  int written_ = -1;  // the encoder's file, opened to start its writing to the disk
  std::int64_t frames_since_flush_ = 0;
};

// The writer of `extension` into `path`: its encoder fed through a pipe.
SinkRef CreateEncoderWriter(std::string_view extension, const WaveFormat& format, const std::string& path,
                            const OpenOptions& options) {
  Registry registry;
  const std::optional<std::string> executable = FindComponent(registry, EncoderForExtension(extension)->component);
  if (!executable) return MakeNullSink();
  const std::string named = path + std::string(extension);
  const std::optional<EncoderCommand> command =
      EncoderCommandFor(extension, *executable, named, static_cast<std::int32_t>(format.rate),
                        static_cast<std::uint8_t>(format.channels), SettingsOf(options));
  return MakeCounted<NamedOutputSink>(
      CreateEncoderSink(command->arguments, command->rate, command->channels, command->big_endian), named, path);
}

void AddEncoderWriter(FileFormat& format, const std::string& extension) {
  // The writers keep their own copy of the extension: the entry is copied into the table.
  format.component = EncoderForExtension(extension)->component;
  format.create = [extension](const WaveFormat& wave, const std::string& path, const OpenOptions& options) {
    return CreateEncoderWriter(extension, wave, path, options);
  };
  format.save_format = [extension](const WaveFormat& wave, const OpenOptions& options) {
    return EncoderInputFormat(extension, static_cast<std::int32_t>(wave.rate),
                              static_cast<std::uint8_t>(wave.channels), SettingsOf(options));
  };
}

FileFormat EncodedFormat(std::string name, std::vector<std::string> extensions) {
  FileFormat format;
  format.name = std::move(name);
  format.extensions = std::move(extensions);
  AddEncoderWriter(format, format.extensions.front());
  return format;
}

}  // namespace

FileFormat OggFileFormat() { return EncodedFormat("Ogg Vorbis", {".ogg"}); }
FileFormat FlacFileFormat() { return EncodedFormat("FLAC", {".flac"}); }
FileFormat AacFileFormat() { return EncodedFormat("AAC", {".aac"}); }
FileFormat M4aFileFormat() { return EncodedFormat("MPEG-4 AAC", {".m4a"}); }

FileFormat AmrFileFormat() {
  FileFormat format = EncodedFormat("AMR", {".amr"});
  format.save = SaveAmrFile;
  return format;
}

void AddMp3Writer(FileFormat& format) { AddEncoderWriter(format, ".mp3"); }

Result SaveAmrFile(SourceRef source, const std::string& path, Progress& progress, const OpenOptions& options) {
  if (source->rate != kAmrRate || source->channels != 1) return kFailed;
  std::optional<TemporaryWav> wav = TemporaryWav::Reserve(TempFolder());
  if (!wav) return kFailed;
  if (const Result written = SaveSourceAsWav(std::move(source), DefaultFormat(kAmrRate, 1), wav->path(), progress);
      written != kDone)
    return written;
  Registry registry;
  const std::optional<std::string> executable = FindComponent(registry, kAmrEncoder);
  if (!executable) return kFailed;
  // The encoder writes beside the target, which it replaces only when it succeeded.
  ReplacingFile replacing(path);
  if (!replacing.IsOpen()) return kFailed;
  const EncoderCommand command =
      AmrEncoderCommand(*executable, wav->path(), replacing.temporary_path(), SettingsOf(options));
  const Result result = RunAndWait(command.arguments, replacing.temporary_path(), kAmrTimeoutMs, progress);
  if (result != kDone) return result;
  return replacing.Commit() ? kDone : kFailed;
}

}  // namespace sonavel
