#pragma once
// Components: the programs that code the formats the program does not code itself
// (Debian's lame, oggenc/oggdec, flac and faad, and our small adapters over ffmpeg and sox),
// found through the registry, installed on demand, and run as decoders that write a file
// or as encoders that read 16-bit samples from a pipe.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "store/stream.h"

namespace sonavel {

class Progress;
class Registry;
class Ui;

// The component names.
inline constexpr std::string_view kMp3Encoder = "mp3el";
inline constexpr std::string_view kOggEncoder = "oggenc";
inline constexpr std::string_view kOggDecoder = "oggdec";
inline constexpr std::string_view kFlacEncoder = "flacenc";
inline constexpr std::string_view kFlacDecoder = "flacdec";
inline constexpr std::string_view kAacEncoder = "aacenc";
inline constexpr std::string_view kAacDecoder = "aacdec";
inline constexpr std::string_view kAmrEncoder = "amrenc";
inline constexpr std::string_view kAmrDecoder = "amrdec";
inline constexpr std::string_view kShortenDecoder = "shndec";
inline constexpr std::string_view kRecordDecoder = "actdec";

// The executable of component `name`: the "Path" value of its key
// ("Software\Halvorn Audio\Components\<name>"), read from the machine's branch first, then
// the user's; else the Debian program that takes its command line (lame, oggenc, oggdec,
// flac, faad) on PATH, or our adapter beside this program's executable ("sonavel-aacenc",
// ...). A "Path" that names no executable file counts as missing. None when nothing is found.
std::optional<std::string> FindComponent(const Registry& registry, std::string_view name);

// kDone when the component is there; else installs it (Install-on-Demand) and looks again.
// kCancelled when the install was cancelled; kFailed after the message
// "Sonavel kann die benötigte Install-On-Demand Komponente nicht installieren ..." when it
// is still missing.
Result EnsureComponent(Registry& registry, std::string_view name, Ui& ui, Progress& progress);

// Downloads the installer "components/<name>" from the primary host, else from the main
// host (both registry values), into a private owner-only folder, runs it with LQUIET=1 in
// its environment, waits for it (progress, cancel ends it), and deletes it.
Result InstallComponent(Registry& registry, std::string_view name, Progress& progress);

// Downloads `url` into `local_path` (created owner-only) under `progress`: only a status of
// 200 to 299 goes on; a cancel (kCancelled) or a failure (kFailed: refused, stalled, shorter
// than announced) deletes the local file.
Result Download(const std::string& url, const std::string& local_path, Progress& progress);

// Runs a decoder (`arguments[0]` the executable) that writes `output`, waiting with the
// progress creeping towards its end, for at most an hour. kDone when it ended with status
// 0; a cancel ends it (kCancelled), a time-out, a failed start or another exit status gives
// kFailed; in both cases `output` is deleted.
Result RunDecoder(const std::vector<std::string>& arguments, const std::string& output, Progress& progress);
// The same with one wait of at most `timeout_ms` and no progress of its own (AMR).
Result RunAndWait(const std::vector<std::string>& arguments, const std::string& output, int timeout_ms,
                  Progress& progress);

// A sink that hands its frames as 16-bit samples ((s + 8) >> 4, saturated) to an encoder's
// standard input: little-endian, or big-endian when `big_endian` (lame's "-x" swaps what it
// reads). The encoder's own output goes to /dev/null. Finish() closes the pipe, waits for
// the encoder and sets kSinkWriteFailed unless it ended with status 0; a sink released
// without Finish() ends the encoder. A failed start gives an unusable sink. An encoder that
// ends early makes the writes fail (kSinkWriteFailed), never the program (SIGPIPE ignored).
SinkRef CreateEncoderSink(const std::vector<std::string>& arguments, std::int32_t rate, std::uint8_t channels,
                          bool big_endian = false);

}  // namespace sonavel
