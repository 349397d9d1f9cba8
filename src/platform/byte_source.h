#pragma once
// The bytes a file reader parses, from a file or from memory, so that the readers of
// every format run the same on a file the user opened, on a test's bytes and on a fuzz
// target's input. Positions are byte offsets from the start; reading past the end
// delivers fewer bytes, never an error.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

namespace sonavel {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `bytes` from the position, which moves past them; returns how many came.
  virtual std::size_t Read(void* buffer, std::size_t bytes) = 0;
  // Moves to `offset` (0 or more; beyond the end is allowed and reads nothing).
  virtual bool Seek(std::int64_t offset) = 0;
  virtual std::int64_t Tell() const = 0;
  virtual std::int64_t Size() const = 0;
  // Moves forward by `bytes` (0 or more).
  bool Skip(std::int64_t bytes) { return bytes >= 0 && Seek(Tell() + bytes); }
};

// Bytes that a writer changes in place (tags): a ByteSource that can also write at its
// position (writing beyond the end extends it).
class EditableBytes : public ByteSource {
 public:
  virtual bool Write(const void* buffer, std::size_t bytes) = 0;
};

// A file's bytes; null when the file cannot be opened for reading.
std::unique_ptr<ByteSource> OpenFileBytes(const std::string& path);
// Bytes held in memory.
std::unique_ptr<ByteSource> MemoryBytes(std::vector<std::uint8_t> bytes);
// An existing file opened for reading and writing; null when it does not exist or cannot be
// opened so. Nothing is ever created.
std::unique_ptr<EditableBytes> OpenEditableFile(const std::string& path);
// The bytes of `bytes`, which the writes change; `bytes` must outlive the result.
std::unique_ptr<EditableBytes> EditableMemory(std::vector<std::uint8_t>& bytes);
// `inner` read ahead in pieces of `piece` bytes, so that the many small reads of a sample
// reader cost one call of the file each piece, and a seek within the piece none. Reads at
// or beyond what was read ahead go to `inner` again, so a file still growing is followed;
// the size is always asked of `inner`. Starts at `inner`'s position.
std::unique_ptr<ByteSource> ReadAheadBytes(std::unique_ptr<ByteSource> inner, std::size_t piece = 65536);

}  // namespace sonavel
