#pragma once
// Every setting of the program with its default, grouped by what it belongs to. Each group
// and value name is spelled here and nowhere else; the stored names must not change, or
// stored settings are no longer found. The effects' stored parameters are declared with
// their effects (see EffectCatalogue).

#include <array>
#include <string_view>

#include "platform/settings.h"

namespace sonavel::setting {

inline constexpr std::string_view kSettingsGroup = "Settings";
inline constexpr std::string_view kStoredValuesGroup = "StoredValues";
// A group of its own (not "StoredValues"): the project chooser's folder has always lived here.
inline constexpr std::string_view kStoreValuesGroup = "StoreValues";
inline constexpr std::string_view kMainWindowGroup = "MainWindow";
inline constexpr std::string_view kRecentGroup = "Recent";
inline constexpr std::string_view kRawAudioGroup = "RawAudio";
inline constexpr std::string_view kVoxAudioGroup = "VoxAudio";
inline constexpr std::string_view kMp3EncoderGroup = "MP3Encoder";
inline constexpr std::string_view kOggEncoderGroup = "OggEncoder";
inline constexpr std::string_view kFlacEncoderGroup = "FlacEncoder";
inline constexpr std::string_view kAacEncoderGroup = "AACEncoder";
inline constexpr std::string_view kAmrEncoderGroup = "AMREncoder";
inline constexpr std::string_view kRssEncodeGroup = "RSSEncode";

// ---- the frame ----

inline constexpr BoolSetting kShowMainToolbar{kSettingsGroup, "ShowMainToolbar", true};
inline constexpr BoolSetting kShowEffectsToolbar{kSettingsGroup, "ShowEffectsToolbar", true};
inline constexpr BoolSetting kShowCommandBar{kSettingsGroup, "ShowCommandBar", true};
// The command bar stands at the left edge (else at the right).
inline constexpr BoolSetting kShowCommandBarLeft{kSettingsGroup, "ShowCommandBarLeft", true};
// Arrange the document windows after one is added.
inline constexpr BoolSetting kAutoArrangeWindows{kSettingsGroup, "AutoArrangeWindows", true};

// The main window's rectangle between runs (user only); with "Maximized" it is the normal
// rectangle behind the maximised window.
inline constexpr IntSetting kWindowX{kMainWindowGroup, "X", 160};
inline constexpr IntSetting kWindowY{kMainWindowGroup, "Y", 80};
inline constexpr IntSetting kWindowWidth{kMainWindowGroup, "Width", 740};
inline constexpr IntSetting kWindowHeight{kMainWindowGroup, "Height", 627};
inline constexpr BoolSetting kWindowMaximized{kMainWindowGroup, "Maximized", true};

// The recent files (user only): slot n holds a path under "RecentFile n" (with the blank)
// and the time it was last opened or saved, seconds since 1970, under "RecentFileDaten".
inline constexpr NumberedTextSetting kRecentFilePath{kRecentGroup, "RecentFile ", ""};
inline constexpr NumberedTextSetting kRecentFileDate{kRecentGroup, "RecentFileDate", "0"};

// ---- the desktop ----

// The "Edit with" action of the desktop entry.
inline constexpr BoolSetting kAddToWEContext{kSettingsGroup, "AddToWEContext", true};
// The command lines other programs use to hand a file to this one.
inline constexpr TextSetting kRunEdit{kSettingsGroup, "RunEdit", ""};
inline constexpr TextSetting kRunLoad{kSettingsGroup, "RunLoad", ""};

// ---- files and folders ----

// Ask for rate and channels when a new file is made (else take the defaults below).
inline constexpr BoolSetting kPromptSampleAndChannels{kSettingsGroup, "PromptSampleAndChannels", true};
// The new-file dialog's last choice, and the defaults set in the options.
inline constexpr IntSetting kSelectedSampleRate{kSettingsGroup, "SelectedSampleRate", 44100};
inline constexpr IntSetting kSelectedChannels{kSettingsGroup, "SelectedChannels", 1};
inline constexpr IntSetting kDefaultSampleRate{kSettingsGroup, "DefaultSampleRate", 44100};
inline constexpr IntSetting kDefaultChannels{kSettingsGroup, "DefaultChannels", 1};
// The block files live in the default folder unless this is off; then in "WorkingFolder",
// where empty means the default folder as well.
inline constexpr BoolSetting kUseDefaultWorkingDir{kSettingsGroup, "UseDefaultWorkingDir", true};
inline constexpr TextSetting kWorkingFolder{kSettingsGroup, "WorkingFolder", ""};
// The folders the file dialogs last used.
inline constexpr TextSetting kSaveAsDir{kSettingsGroup, "SaveAsDir", ""};
// The extension (without its dot) the save-as dialog offers first: the last one chosen.
inline constexpr TextSetting kSaveAsFormat{kSettingsGroup, "SaveAsFormat", "wav"};
inline constexpr TextSetting kMixFileDir{kSettingsGroup, "MixFileDir", ""};
inline constexpr TextSetting kInsertFileDir{kSettingsGroup, "InsertFileDir", ""};
// The folders of the project choosers: open, and save as.
inline constexpr TextSetting kOpenProjectDir{kStoreValuesGroup, "OpenProjectDir", ""};
inline constexpr TextSetting kSaveProjectAsDir{kSettingsGroup, "SaveProjectAsDir", ""};

// How headerless files (".raw", ".snd") and ".vox" files are read and written: rate,
// channels and the sample coding by number (0 VOX ADPCM, 1 µ-law, 2 A-law, 3 16-bit
// little-endian, 4 8-bit unsigned, 5 8-bit signed, 6 16-bit big-endian).
inline constexpr IntSetting kRawAudioSampleRate{kRawAudioGroup, "SampleRate", 44100};
inline constexpr IntSetting kRawAudioChannels{kRawAudioGroup, "Channels", 1};
inline constexpr IntSetting kRawAudioCodec{kRawAudioGroup, "Codec", 3};
inline constexpr IntSetting kVoxAudioSampleRate{kVoxAudioGroup, "SampleRate", 8000};
inline constexpr IntSetting kVoxAudioChannels{kVoxAudioGroup, "Channels", 1};
inline constexpr IntSetting kVoxAudioCodec{kVoxAudioGroup, "Codec", 0};
// MP3 files load gapless: the encoder's delay and padding, which a LAME tag states, and the
// decoder's delay are cut off, so the sound is as long as what was encoded. Off: every
// decoded frame is kept.
inline constexpr BoolSetting kMp3Gapless{kSettingsGroup, "MP3Gapless", true};

// ---- the encoders ----
// Each value with its default and the range it may take; flags are 0 or 1, bit rates
// kbit/s. A stored value out of range reads as the default.

// MP3: constant bit rate (else variable) with its rate and high-quality flag; the variable
// range and quality 0 (best) … 9; CRC protection; channel mode 0 stereo, 1 joint, 2 forced
// joint, 3 mono.
inline constexpr RangedSetting kMp3ConstantBitRate{{kMp3EncoderGroup, "ConstantBitRate", 1}, 0, 1};
inline constexpr RangedSetting kMp3CbrBitRate{{kMp3EncoderGroup, "CBRBitRate", 128}, 8, 320};
inline constexpr RangedSetting kMp3HighQuality{{kMp3EncoderGroup, "HighQuality", 1}, 0, 1};
inline constexpr RangedSetting kMp3VbrMinBitRate{{kMp3EncoderGroup, "VBRMinBitRate", 32}, 8, 320};
inline constexpr RangedSetting kMp3VbrMaxBitRate{{kMp3EncoderGroup, "VBRMaxBitRate", 128}, 8, 320};
inline constexpr RangedSetting kMp3VbrQuality{{kMp3EncoderGroup, "VBRQuality", 4}, 0, 9};
inline constexpr RangedSetting kMp3ErrorProtection{{kMp3EncoderGroup, "ErrorProtection", 0}, 0, 1};
inline constexpr RangedSetting kMp3ChannelMode{{kMp3EncoderGroup, "ChannelMode", 1}, 0, 3};
inline constexpr std::array kMp3EncoderSettings = {
    &kMp3ConstantBitRate, &kMp3CbrBitRate, &kMp3HighQuality, &kMp3VbrMinBitRate,
    &kMp3VbrMaxBitRate,   &kMp3VbrQuality, &kMp3ErrorProtection, &kMp3ChannelMode};

// Ogg Vorbis: quality mode (else the bit-rate range) with quality 0 … 10; the range; 1 or
// 2 channels; comments dropped.
inline constexpr RangedSetting kOggQualityMode{{kOggEncoderGroup, "Quality", 1}, 0, 1};
inline constexpr RangedSetting kOggVbrQuality{{kOggEncoderGroup, "VBRQuality", 4}, 0, 10};
inline constexpr RangedSetting kOggVbrMinBitRate{{kOggEncoderGroup, "VBRMinBitRate", 96}, 8, 500};
inline constexpr RangedSetting kOggVbrMaxBitRate{{kOggEncoderGroup, "VBRMaxBitRate", 128}, 8, 500};
inline constexpr RangedSetting kOggChannels{{kOggEncoderGroup, "Channels", 1}, 1, 2};
inline constexpr RangedSetting kOggStripComments{{kOggEncoderGroup, "StripComments", 0}, 0, 1};
inline constexpr std::array kOggEncoderSettings = {&kOggQualityMode,   &kOggVbrQuality, &kOggVbrMinBitRate,
                                                   &kOggVbrMaxBitRate, &kOggChannels,   &kOggStripComments};

// FLAC: compression 0 … 8 and the file's channels and rate.
inline constexpr RangedSetting kFlacCompression{{kFlacEncoderGroup, "Compression", 4}, 0, 8};
inline constexpr RangedSetting kFlacChannels{{kFlacEncoderGroup, "Channels", 1}, 1, 2};
inline constexpr RangedSetting kFlacSampleRate{{kFlacEncoderGroup, "SampleRate", 44100}, 6000, 196000};
inline constexpr std::array kFlacEncoderSettings = {&kFlacCompression, &kFlacChannels, &kFlacSampleRate};

// AAC: average bit rate (else quality) with its rate; the quality (0 is stored as 100);
// MPEG-2 and no-TNS flags.
inline constexpr RangedSetting kAacAverageBitRate{{kAacEncoderGroup, "AverageBitRate", 0}, 0, 1};
inline constexpr RangedSetting kAacAbrBitRate{{kAacEncoderGroup, "ABRBitRate", 128}, 16, 320};
inline constexpr RangedSetting kAacVbrQuality{{kAacEncoderGroup, "VBRQuality", 100}, 1, 500};
inline constexpr RangedSetting kAacForceMpeg2{{kAacEncoderGroup, "ForceMPEG2", 0}, 0, 1};
inline constexpr RangedSetting kAacDisableTns{{kAacEncoderGroup, "DisableTNS", 0}, 0, 1};
inline constexpr std::array kAacEncoderSettings = {&kAacAverageBitRate, &kAacAbrBitRate, &kAacVbrQuality,
                                                   &kAacForceMpeg2, &kAacDisableTns};

// AMR: the mode by index 0 … 7 (MR475 … MR122).
inline constexpr RangedSetting kAmrModeRateSelection{{kAmrEncoderGroup, "ModeRateSelection", 4}, 0, 7};
inline constexpr std::array kAmrEncoderSettings = {&kAmrModeRateSelection};

// Playlists and podcast feeds: the address the published MP3 is found under, empty for
// the bare file name.
inline constexpr TextSetting kRssRootUrl{kRssEncodeGroup, "RootURL", ""};

// ---- playback ----

// The output device's name; empty is the standard device.
inline constexpr TextSetting kSoundOutDevice{kSettingsGroup, "SoundOutDevice", ""};
// 0 slow, 1 normal, 2 fast.
inline constexpr IntSetting kPlaySpeed{kSettingsGroup, "PlaySpeed", 1};
inline constexpr BoolSetting kPlayRepeat{kSettingsGroup, "PlayRepeat", false};
inline constexpr BoolSetting kPlayWhenOpen{kSettingsGroup, "PlayWhenOpen", true};
inline constexpr BoolSetting kPlayBookMark{kSettingsGroup, "PlayBookMark", false};
inline constexpr BoolSetting kPlayRegion{kSettingsGroup, "PlayRegion", false};
inline constexpr BoolSetting kAutoPlaybackAfterEffects{kSettingsGroup, "AutoPlaybackAfterEffects", true};
// Lower the volume while winding.
inline constexpr BoolSetting kReduceVolWhenRewind{kSettingsGroup, "ReduceVolWhenRewind", false};

// ---- rate conversion ----

// The filter that converts sample rates (the rate command, format conversion when saving
// and pasting, playback at another rate): 0 the default, 1 high quality.
inline constexpr IntSetting kResampleQuality{kSettingsGroup, "ResampleQuality", 0};

// ---- edits ----

// Automatic trimming's threshold in dB, -40 … -12.
inline constexpr IntSetting kAutoTrimThreshold{kSettingsGroup, "AutoTrimThreshold", -20};
// The mix dialog (user only): volume in percent, what to do when the mix is longer than the
// selection (0 insert silence, 1 adapt the selection, 2 fade out) and the fade in frames.
inline constexpr IntSetting kPasteMixVolume{kStoredValuesGroup, "PasteMixVolume", 100};
inline constexpr IntSetting kLongerSelection{kStoredValuesGroup, "LongerSelection", 0};
inline constexpr IntSetting kFadeOutTime{kStoredValuesGroup, "FadeOutTime", 250};
// The silence to insert in milliseconds, and the loop's repeat count (user only).
inline constexpr IntSetting kSilenceTimes{kStoredValuesGroup, "SilenceTimes", 0};
inline constexpr IntSetting kRepeatNumTimes{kStoredValuesGroup, "RepeatNumTimes", 1};

// ---- regions ----

// The folder the region save dialog last used.
inline constexpr TextSetting kSaveRegionDir{kSettingsGroup, "SaveRegionDir", ""};
// The export dialog's target folder and format (an index into the export extensions).
inline constexpr TextSetting kExportRegionFolder{kSettingsGroup, "ExportRegionFolder", ""};
inline constexpr IntSetting kExportRegionFormat{kSettingsGroup, "ExportRegionFormat", 0};
// Joining regions puts AutoGapTime milliseconds of silence between them when AutoGap is set.
inline constexpr BoolSetting kAutoGap{kSettingsGroup, "AutoGap", true};
inline constexpr IntSetting kAutoGapTime{kSettingsGroup, "AutoGapTime", 300};

// ---- components ----

// The hosts that serve the component installers under "components/<name>": the download
// host first, then the main web host.
inline constexpr TextSetting kComponentsHost{kSettingsGroup, "ComponentsHost", "download.halvorn-audio.de"};
inline constexpr TextSetting kMainHost{kSettingsGroup, "MainHost", "www.halvorn-audio.de"};

// ---- analysis ----

// The time-frequency window's look, written back when it closes: 0 … 4000 Hz instead of the
// whole range, the brightness trackbar 0 … 100, and the grid lines.
inline constexpr BoolSetting kTfftFullZoomOn{kSettingsGroup, "TFFTFullZoomOn", false};
inline constexpr RangedSetting kTfftVScroll{{kSettingsGroup, "TFFTVScroll", 25}, 0, 100};
inline constexpr BoolSetting kGridToggle{kSettingsGroup, "GridToggle", false};

// ---- all of them ----

struct SettingName {
  std::string_view group;
  std::string_view name;

  friend constexpr bool operator==(const SettingName&, const SettingName&) = default;
};

constexpr SettingName NameOf(const BoolSetting& key) { return {key.group, key.name}; }
constexpr SettingName NameOf(const IntSetting& key) { return {key.group, key.name}; }
constexpr SettingName NameOf(const TextSetting& key) { return {key.group, key.name}; }
constexpr SettingName NameOf(const NumberedTextSetting& key) { return {key.group, key.prefix}; }
constexpr SettingName NameOf(const RangedSetting& setting) { return NameOf(setting.key); }

// Every key above, for the checks that no two share a stored name.
inline constexpr std::array kAllSettingNames = {
    NameOf(kShowMainToolbar),     NameOf(kShowEffectsToolbar),   NameOf(kShowCommandBar),
    NameOf(kShowCommandBarLeft),  NameOf(kAutoArrangeWindows),   NameOf(kWindowX),
    NameOf(kWindowY),             NameOf(kWindowWidth),          NameOf(kWindowHeight),
    NameOf(kWindowMaximized),     NameOf(kRecentFilePath),       NameOf(kRecentFileDate),
    NameOf(kAddToWEContext),      NameOf(kRunEdit),              NameOf(kRunLoad),
    NameOf(kPromptSampleAndChannels), NameOf(kSelectedSampleRate), NameOf(kSelectedChannels),
    NameOf(kDefaultSampleRate),   NameOf(kDefaultChannels),      NameOf(kUseDefaultWorkingDir),
    NameOf(kWorkingFolder),       NameOf(kSaveAsDir),            NameOf(kMixFileDir),
    NameOf(kInsertFileDir),       NameOf(kOpenProjectDir),       NameOf(kSaveProjectAsDir),
    NameOf(kSoundOutDevice),       NameOf(kPlaySpeed),
    NameOf(kPlayRepeat),          NameOf(kPlayWhenOpen),         NameOf(kPlayBookMark),
    NameOf(kPlayRegion),          NameOf(kAutoPlaybackAfterEffects), NameOf(kReduceVolWhenRewind),
    NameOf(kAutoTrimThreshold),   NameOf(kPasteMixVolume),       NameOf(kLongerSelection),
    NameOf(kFadeOutTime),         NameOf(kSilenceTimes),         NameOf(kRepeatNumTimes),
    NameOf(kRawAudioSampleRate),  NameOf(kRawAudioChannels),     NameOf(kRawAudioCodec),
    NameOf(kVoxAudioSampleRate),  NameOf(kVoxAudioChannels),     NameOf(kVoxAudioCodec),
    NameOf(kMp3Gapless),          NameOf(kSaveAsFormat),
    NameOf(kMp3ConstantBitRate),  NameOf(kMp3CbrBitRate),        NameOf(kMp3HighQuality),
    NameOf(kMp3VbrMinBitRate),    NameOf(kMp3VbrMaxBitRate),     NameOf(kMp3VbrQuality),
    NameOf(kMp3ErrorProtection),  NameOf(kMp3ChannelMode),       NameOf(kOggQualityMode),
    NameOf(kOggVbrQuality),       NameOf(kOggVbrMinBitRate),     NameOf(kOggVbrMaxBitRate),
    NameOf(kOggChannels),         NameOf(kOggStripComments),     NameOf(kFlacCompression),
    NameOf(kFlacChannels),        NameOf(kFlacSampleRate),       NameOf(kAacAverageBitRate),
    NameOf(kAacAbrBitRate),       NameOf(kAacVbrQuality),        NameOf(kAacForceMpeg2),
    NameOf(kAacDisableTns),       NameOf(kAmrModeRateSelection), NameOf(kRssRootUrl),
    NameOf(kComponentsHost),      NameOf(kMainHost),             NameOf(kSaveRegionDir),
    NameOf(kExportRegionFolder),  NameOf(kExportRegionFormat),   NameOf(kAutoGap),
    NameOf(kAutoGapTime),         NameOf(kResampleQuality),      NameOf(kTfftFullZoomOn),
    NameOf(kTfftVScroll),         NameOf(kGridToggle),
};

constexpr bool AllNamedOnce() {
  for (std::size_t i = 0; i < kAllSettingNames.size(); ++i) {
    if (kAllSettingNames[i].group.empty() || kAllSettingNames[i].name.empty()) return false;
    for (std::size_t j = i + 1; j < kAllSettingNames.size(); ++j)
      if (kAllSettingNames[i] == kAllSettingNames[j]) return false;
  }
  return true;
}
static_assert(AllNamedOnce(), "two settings share a group and name, or one has none");

}  // namespace sonavel::setting
