#pragma once
// A file handle that closes itself, with the few operations the store and the
// codecs need. A default-constructed or failed File holds -1 and ignores calls.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sonavel {

class File {
 public:
  enum class Mode {
    kRead,         // open existing, read only
    kCreate,       // create or truncate, read + write
    kReadWrite,    // open existing, read + write
  };

  File() = default;
  File(const std::string& path, Mode mode) { Open(path, mode); }
  ~File() { Close(); }
  File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Open(const std::string& path, Mode mode);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Reads up to `bytes`, retrying short reads; returns the bytes read (0 at end or error).
  std::size_t Read(void* buffer, std::size_t bytes);
  // Writes all `bytes`; returns false when the file could not take them (disk full).
  bool Write(const void* buffer, std::size_t bytes);
  bool Seek(std::int64_t offset);
  // Moves forward by `bytes` from the current position (beyond the end is allowed).
  bool Skip(std::int64_t bytes);
  // The current position, -1 when closed.
  std::int64_t Tell() const;
  // Cuts (or extends) the file to `size` bytes; the file position is not moved.
  bool Truncate(std::int64_t size);
  std::int64_t Size() const;

 private:
  int fd_ = -1;
};

// Deletes a file; a missing file or any other failure is ignored.
void RemoveFile(const std::string& path);
// Renames `from` to `to`, replacing `to` at once.
bool RenameFile(const std::string& from, const std::string& to);
// A name in the folder of `path` for a temporary file that replaces it when complete.
std::string TemporarySibling(const std::string& path);

}  // namespace sonavel
