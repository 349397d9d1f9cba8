#pragma once
// Moving a whole stream from a source into a sink under a progress display: what loading
// a file into the store and saving a sound into a file both do.

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/format_table.h"
#include "formats/wave_format.h"
#include "platform/result.h"
#include "store/sound.h"
#include "store/stream.h"

namespace sonavel {

class Progress;

// Copies the source from its position to its end in pieces of at most 8192 frames,
// pumping the progress between pieces. A length that was only an estimate is followed
// until the source knows its end; frames the sink took beyond that end are cut off again.
// kFailed when the source or sink is unusable, their formats differ, the source failed
// while being read, or a write failed.
Result Pump(SampleSource& source, SampleSink& sink, Progress& progress, std::string_view title);

// Reads the source from its position to its end, following a length that was only an
// estimate; its length then.
std::int32_t ReadToEnd(SampleSource& source);

// Reads the whole source into a new block file; `sound` becomes it (the source's rate and
// channels) when the result is kDone and stays as it was otherwise.
Result LoadIntoSound(SampleSource& source, Sound& sound, Progress& progress, std::string_view title);

// Writes `sound` as a WAV file in `format` (same rate and channels as the sound), through
// the look-ahead limiter at full scale where the sound goes beyond it. The file
// is written beside `path` under a temporary name and replaces `path` only when complete,
// so a failure or a cancel leaves an existing file untouched.
Result SaveSoundAsWav(const Sound& sound, const WaveFormat& format, const std::string& path,
                   Progress& progress);
// The same for any source from its position to its end; its rate and channels must be the
// format's.
Result SaveSourceAsWav(SourceRef source, const WaveFormat& format, const std::string& path, Progress& progress);
// The same for the format of `path`'s extension (its entry's writer of `format`, with
// `options` for the formats that read settings); kFailed for an extension no format writes.
Result SaveSource(SourceRef source, const WaveFormat& format, const std::string& path, Progress& progress,
                  const OpenOptions& options = {});

}  // namespace sonavel
