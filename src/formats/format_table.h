#pragma once
// The file formats the program reads and writes, one entry each, found by a file's
// extension. Every way of opening and saving reads this table: the editor's open and save,
// sonavel-cli's info and convert, and the file dialogs. A new format is one entry here
// with its reader and writer side by side.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/raw_settings.h"
#include "formats/wave_format.h"
#include "platform/byte_source.h"
#include "platform/result.h"
#include "store/stream.h"

namespace sonavel {

class TagList;

class Progress;
class Settings;
class SettingsReader;
class Ui;

// What a reader or writer needs beyond the bytes: formats without a header of their own
// (raw, VOX) take their rate, channels and coding from the stored settings (the defaults
// without them), or from `raw` when it is given (sonavel-cli's --raw).
// With `ask_raw_settings` the user is asked first: an open or save of a raw or VOX file
// shows the raw settings dialog, stores what was accepted there and uses it, and a save of
// a WAV file shows the WAV format chooser (see RunFormatOptions).
struct OpenOptions {
  const SettingsReader* settings = nullptr;
  std::optional<RawSettings> raw;
  Settings* ask_raw_settings = nullptr;
  // The tags a save writes into its finished file (formats that carry tags); null: none.
  const TagList* tags = nullptr;
  // The file a save finally replaces, for writers that also write beside it (playlists and
  // feeds put their MP3 there); set by CreateFormatWriter.
  std::string target = {};
};

struct FileFormat {
  std::string name;                     // shown by `info` ("WAV", "Sun AU", ...)
  std::vector<std::string> extensions;  // lower case, with the dot: ".wav"
  // A reader over the bytes (null bytes: the file could not be opened). Never null: a
  // failure shows in the source's status, and such a source delivers silence.
  std::function<SourceRef(std::unique_ptr<ByteSource> bytes, const OpenOptions& options)> open;
  // Why a reader with a non-zero status did not open `path`, for the user.
  std::function<std::string(std::uint8_t status, const std::string& path)> open_error;
  // A writer of `format` into `path` (WAV takes the format whole; other formats take its
  // rate and channels). Empty for formats that are read only. A failure sets the sink's
  // unusable bit.
  std::function<SinkRef(const WaveFormat& format, const std::string& path, const OpenOptions& options)> create;
  // The encoder component the writer runs (".mp3", ".ogg", ...); empty for our own writers.
  std::string_view component;
  // A save of its own instead of pumping into `create`'s sink (AMR encodes a finished WAV
  // file); the source is at the rate and channels of `save_format`.
  std::function<Result(SourceRef source, const std::string& path, Progress& progress, const OpenOptions& options)>
      save;
  // For formats whose rate and channels the settings decide (raw, VOX, the encoders): what
  // a save of a sound meant for `format` writes. Empty: `format` as it is.
  std::function<WaveFormat(const WaveFormat& format, const OpenOptions& options)> save_format;
  // For formats whose settings record decides rate, channels and coding (raw, VOX): the
  // record, which the raw settings dialog edits. Null for the others.
  const RawSettingsKeys* raw_record = nullptr;
  // The format's own options dialog before a save of a sound of `rate` and `channels`
  // (playlists and feeds); false when cancelled. Empty: the options by the other fields.
  std::function<bool(std::uint32_t rate, std::uint16_t channels, Ui& ui, Settings& settings)> ask_options;
  // Whether a save with format options first shows the WAV format chooser.
  bool chooses_wav_format = false;
  // What `sonavel-cli info` prints about an open reader of this format beyond rate,
  // channels and length: "name: value" lines.
  std::function<std::vector<std::string>(SampleSource& reader)> describe;
  // The data bytes an open reader's header claims and the bytes of them the file holds
  // ({claimed, present}); empty for formats that cannot tell.
  std::function<std::optional<std::pair<std::int64_t, std::int64_t>>(SampleSource& reader)> data_sizes;
  // For formats whose readers may only estimate their length at first (coded WAV, MP3):
  // the exact length of an open reader, which may take reading the file through. Empty:
  // Length() is exact.
  std::function<std::int32_t(SampleSource& reader)> exact_length;
};

// Every format, in the order the dialogs list them.
const std::vector<FileFormat>& FormatTable();
// The entry for the extension of `path` (compared without case), or null.
const FileFormat* FormatForPath(const std::string& path);

// Opens `path` through the entry of its extension. A path of no known format gives a
// source with status kStatusPlaceholder.
SourceRef OpenFormatReader(const std::string& path, const OpenOptions& options = {});

// The format a save to `path` writes when `format` is asked for: the same, but for the
// formats whose own settings decide rate and channels. The sound is converted to it.
WaveFormat SaveFormatFor(const std::string& path, const WaveFormat& format, const OpenOptions& options);

// Whether the table has a writer for the extension of `path`.
bool HasWriter(const std::string& path);
// Whether a save can write the extension of `path`: the formats with a writer, and for
// those written by an encoder component (".mp3", ".ogg", ".flac", ".aac", ".m4a", ".amr")
// only once the component is there: a missing one is installed on demand under the
// progress window "Install-on-Demand" (its failure told through `ui`).
bool CheckWritable(const std::string& path, Ui& ui);

// The format options asked before a save of a sound of `rate` and `channels` to `path`:
// WAV formats show the WAV format chooser opening on `wav_format`, which takes the accepted
// format; ".vox" and ".raw" show the raw settings dialog (".raw" with `rate` and `channels`
// put in first), whose values go into `options.raw`; the encoded formats show their
// encoder's settings dialog (Ogg with `channels`, FLAC with `rate` and `channels` put in
// first), storing what was accepted; AU, AIFF and GSM ask nothing. False when the user
// cancelled or the extension has no options (no writer).
bool RunFormatOptions(const std::string& path, std::uint32_t rate, std::uint16_t channels, Ui& ui,
                      Settings& settings, WaveFormat& wav_format, OpenOptions& options);

// The writer chosen by the extension of `target`, of `format` (see FileFormat::create),
// writing into `file` (the target itself, or a temporary file that replaces it later); for
// an extension no format writes, a sink that has failed (kSinkUnusable).
SinkRef CreateFormatWriter(const WaveFormat& format, const std::string& target, const std::string& file,
                           const OpenOptions& options);

// The note for a reader whose header claims more data than the file holds (a cut copy, a
// damaged or forged header), empty otherwise. Only what the file holds is ever read.
std::string ShortDataNote(const FileFormat& format, SampleSource& reader);

// Why a reader of `path` failed with `status`, in the words of the path's format.
std::string OpenErrorText(const std::string& path, std::uint8_t status);

}  // namespace sonavel
