#pragma once
// Headerless sound files: ".raw" and ".snd" read and written by the "RawAudio" settings,
// ".vox" by the "VoxAudio" settings, each in one of seven sample codings.

#include <memory>
#include <string>

#include "formats/format_table.h"
#include "formats/raw_settings.h"
#include "platform/byte_source.h"
#include "store/stream.h"

namespace sonavel {

// A reader of `file` by `settings`. Settings no reader can use (a codec outside 0..6, a
// rate or channel count out of range) give status kStatusPlaceholder.
SourceRef OpenRawReader(std::unique_ptr<ByteSource> file, const RawSettings& settings);
// A writer of `path` by `settings` (VOX always mono); unusable settings make the sink
// unusable.
SinkRef CreateRawWriter(const std::string& path, const RawSettings& settings);

// The coding number behind a reader of this file, or -1 for another kind of source.
int RawCodecOf(SampleSource& source);

FileFormat RawFileFormat();
FileFormat VoxFileFormat();

}  // namespace sonavel
