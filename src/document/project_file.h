#pragma once
// The ".snp" project: every open document (path, positions, bookmarks, complete audio)
// and every region with its audio, in one file. The audio is stored as raw store samples,
// so a project needs neither the files its documents came from nor any block files.
//
// Layout (little-endian, no padding): version u8 (2 is written, 1 is still read),
// document count u8, the document blocks, (version 1 only) a bookmark block, region
// count u8, the region blocks. A string is in the sidecar's form (PutStoredText): a length
// byte (0 … 254), or 255 and a u32 length, then that many bytes of UTF-8.
//   document: path string, cursor, selection start, selection end, view start, view end
//             (i32 frames), bookmark count u8 and records (name string, source title
//             string, position i32 ms, use count u8, last used i32), audio block.
//   audio:    rate i32, channels u8, frames i32, frames × channels × i32 samples.
//   region:   name string, source title string, start i32 ms, end i32 ms, audio block.
// Version 1 holds every string as a fixed 260-byte field, follows the path with another
// ignored 260-byte field, keeps no bookmarks in the document block and instead has, after
// the documents, one skipped byte, a u8 count and that many bookmark records.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "document/bookmarks.h"
#include "platform/byte_source.h"
#include "platform/progress.h"
#include "platform/result.h"
#include "store/sound.h"
#include "store/stream.h"

namespace sonavel {

inline constexpr std::uint8_t kProjectVersion = 2;
// Counts are one byte wide.
inline constexpr std::size_t kMaxProjectCount = 255;

struct ProjectDocument {
  std::string path;  // or the untitled name
  std::int32_t cursor = 0;
  std::int32_t selection_start = 0;
  std::int32_t selection_end = 0;
  std::int32_t view_start = 0;
  std::int32_t view_end = 0;
  std::vector<Bookmark> bookmarks;
  Sound audio;
  // When set, the save streams the audio block from the source this opens (from its
  // position to its end) instead of writing `audio`, and stores the view as the whole
  // sound; a null source fails the save, the opener having told why.
  std::function<SourceRef()> open_audio;
};

struct ProjectRegion {
  std::string name;
  std::string source_title;
  std::int32_t start = 0;  // milliseconds in the source document
  std::int32_t end = 0;
  Sound audio;
};

struct Project {
  std::vector<ProjectDocument> documents;
  std::vector<ProjectRegion> regions;
};

// Writes `project` to `path` in the current version under a temporary sibling that
// replaces the file only when complete, so a failed or cancelled save keeps the old file.
// More than 255 documents, regions or bookmarks of one document are refused before
// anything is written. On failure `error` holds the message (none when an `open_audio`
// gave no source: it has told the user why).
Result SaveProject(const Project& project, const std::string& path, Progress& progress,
                   std::string& error);

// Reads a project of version 1 or 2 into `project` (appending). Every count and length
// is checked against the bytes left; a rate or channel count a WAV load would refuse, or
// a short audio block, fails. Documents and regions completed before a failure stay;
// the one being read is dropped. Each audio block becomes one new block file.
Result LoadProject(ByteSource& bytes, Project& project, Progress& progress, std::string& error);
// LoadProject on the file at `path`.
Result LoadProjectFile(const std::string& path, Project& project, Progress& progress,
                       std::string& error);

}  // namespace sonavel
