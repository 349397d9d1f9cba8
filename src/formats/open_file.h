#pragma once
// Opening a file into the sample store. The file's extension alone decides the reader
// (case-insensitive; contents are never sniffed): the format table's entry, else a
// converter (ffmpeg for the formats without a reader of ours).

#include <optional>
#include <string>

#include "formats/format_table.h"
#include "formats/wave_format.h"
#include "store/sound.h"
#include "platform/result.h"

namespace sonavel {

class Progress;
class Ui;

// The opened reader of a file, or why there is none.
struct OpenedSource {
  Result result = kFailed;  // kDone with `source`; kCancelled, or kFailed after the message
  SourceRef source;
  bool converted = false;  // decoded by a converter (ffmpeg), not read by a reader of ours
};

// Opens `path` by its extension, asking for raw settings first when `options` say so.
// Extensions without an entry in the format table go through their converter under
// `progress` (titled by the converter), which decodes while the source is read. Every
// failure is told to the user with the message for its format and status.
OpenedSource OpenSourceFile(const std::string& path, Progress& progress, Ui& ui, const OpenOptions& options);

// Loads the whole file, read by the format of its extension, into a new block; `sound`
// takes the file's rate and channels, and `file_format` (when given) the file's own WAV
// format (none for other formats). kDone, kCancelled, or kFailed after telling the user why.
Result OpenSoundFile(const std::string& path, Sound& sound, Progress& progress, Ui& ui,
                     std::optional<WaveFormat>* file_format = nullptr, const OpenOptions& options = {});

// When `options` ask for raw settings and `path` is a raw or VOX file: the raw settings
// dialog; its values are stored and put into `options`, and the request no longer asks.
// kCancelled when the dialog was cancelled, else kDone. OpenSoundFile does this first; a
// caller that opens a progress window calls it before.
Result AskRawSettingsFirst(const std::string& path, Ui& ui, OpenOptions& options);

// Who decodes a file of `path`'s extension when no reader of ours does: "ffmpeg", "the
// component oggdec", ...
std::string DecoderOf(const std::string& path);

// The file type lists of the open and save dialogs, in the chooser's notation
// ("Description (*.a *.b);;...").
std::string OpenFileFilter();
std::string SaveFileFilter();
// Whether `extension` (lower case, with its dot) is one of the save dialog's types.
bool IsSaveFileType(const std::string& extension);

// The extension of the last path component, lower-cased, with its dot ("" when none).
std::string FileExtension(const std::string& path);

}  // namespace sonavel
