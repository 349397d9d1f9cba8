#pragma once
// ".gsm" files: nothing but 33-byte GSM 06.10 frames of 160 samples, 8000 Hz mono.

#include <memory>
#include <string>

#include "formats/format_table.h"
#include "platform/byte_source.h"
#include "store/stream.h"

namespace sonavel {

// The reader: (size / 33) × 160 frames; a trailing piece of a frame is ignored. Reads
// decode whole frames and keep the rest of the last one for the next read. A seek starts
// the decoder afresh at the frame that holds the target. A null `file` gives status
// CannotOpen.
SourceRef OpenGsmReader(std::unique_ptr<ByteSource> file);
// The writer: 8000 Hz mono, coded in blocks of 160; a partial last block is completed
// with silence when the writer is finished.
SinkRef CreateGsmWriter(const std::string& path);

FileFormat GsmFileFormat();

}  // namespace sonavel
