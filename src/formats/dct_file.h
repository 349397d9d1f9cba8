#pragma once
// Dictation files (".dct"): a header with the recording's details, notes and attachments
// around a WAV file, which the loader copies out unchanged for the WAV reader.

#include <cstdint>
#include <string>

#include "platform/byte_source.h"
#include "platform/result.h"

namespace sonavel {

class Progress;
class Ui;

// Where a dictation file's WAV bytes lie, or the message telling why it cannot be loaded.
struct DctLayout {
  std::string error;  // empty when the audio was found
  std::int64_t audio_offset = 0;
  std::int64_t audio_length = 0;  // offset + length never pass the end of the file
};

// Walks the header of `bytes` from its start. Every length the file declares is checked
// against the file's size: a skip or an audio length reaching past the end, or a header
// cut short, is refused as corrupt.
DctLayout ParseDct(ByteSource& bytes);

// Copies the WAV file inside the dictation file `path` into `output` (which exists), under
// `progress` ("Loading DCT File" and the path). kDone; kCancelled; kFailed after showing
// the message on `ui`.
Result LoadDct(const std::string& path, const std::string& output, Progress& progress, Ui& ui);

}  // namespace sonavel
