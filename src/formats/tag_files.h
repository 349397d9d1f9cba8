#pragma once
// Tags in files: an ID3v1.1 block at the end of an MP3 file and the RIFF "LIST"/"INFO" and
// "DISP" chunks of a WAV file. Inside the program the texts are UTF-8; on the disk they are
// Windows-1252, converted here and cut at whole characters. A text that already is valid
// UTF-8 on the disk is taken as it is.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/tag_list.h"
#include "platform/byte_source.h"

namespace sonavel {

// The text conversion at the file boundary. Reading: `bytes` up to the first zero, taken as
// they are when they are valid UTF-8, else as Windows-1252. Writing: at most `limit`
// characters (one byte each); characters Windows-1252 lacks become "?".
std::string TagTextFromDisk(std::string_view bytes);
std::string TagTextToDisk(std::string_view text, std::size_t limit);

// What a tag write did.
enum class TagWrite {
  kWritten,  // the file holds the tags
  kSkipped,  // no file of a tagged kind, or one the writer must leave alone
  kFailed,   // the file could not be written; it may hold part of the change
};

// The ID3v1.1 block: reading sets title, artist, album, date, comment, genre and (with the
// 1.1 track byte) the track number. Writing rewrites an existing block in place or appends
// one; empty values keep the block's previous fields.
void ReadId3v1(ByteSource& file, TagList& tags);
TagWrite WriteId3v1(EditableBytes& file, const TagList& tags);

// The RIFF INFO list and the DISP title. Reading with `overwrite` off keeps non-empty
// values the list already has. Writing reuses sub-chunks of the same size and a DISP
// chunk of the same size in place, keeps the file's other tags, appends what did not fit
// and fixes the RIFF size; a file that is no RIFF/WAVE form, is malformed, has a data chunk
// of unknown size or would outgrow the 32-bit RIFF size is left alone.
void ReadInfo(ByteSource& file, TagList& tags, bool overwrite);
TagWrite WriteInfo(EditableBytes& file, const TagList& tags);

// By the extension of `extension_of` (".mp3": ID3v1, ".wav": INFO with overwrite on),
// reading or writing the file at `path`; other extensions do nothing (kSkipped). The save
// writes into its temporary file under the target's extension.
void ReadTags(TagList& tags, const std::string& path);
TagWrite WriteTags(const TagList& tags, const std::string& path, const std::string& extension_of);
inline TagWrite WriteTags(const TagList& tags, const std::string& path) { return WriteTags(tags, path, path); }
// Whether files of `path`'s extension carry tags.
bool HasTags(const std::string& path);

}  // namespace sonavel
