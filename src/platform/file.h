#pragma once
// A file handle that closes itself, with the few operations the store and the
// codecs need. A default-constructed or failed File holds -1 and ignores calls.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
  // Flushes what was written to the disk; false when the disk did not take it.
  bool Sync();
  // Starts writing `bytes` from `offset` to the disk without waiting for it, so that a
  // large file's Sync at the end finds most of it written already. A hint: nothing fails.
  void StartWriteback(std::int64_t offset, std::int64_t bytes);

 private:
  friend class ReplacingFile;
  int fd_ = -1;
};

class ReplacingFile;

// Deletes a file; a missing file or any other failure is ignored.
void RemoveFile(const std::string& path);

// Writes a file under a unique temporary name in the target's folder and puts it in place
// of the target only when complete. Commit() flushes the data to the disk, renames the
// temporary file over the target and flushes the folder, so after a crash the target is
// either the old file or the whole new one. Without a commit (failure, cancel, exception)
// the temporary file is removed and an existing target stays untouched.
//
// A new file gets the usual 0666 less the umask; a replaced file keeps its permissions.
// A target that is a symbolic link is resolved: the file it points to is replaced.
class ReplacingFile {
 public:
  explicit ReplacingFile(const std::string& target);
  ~ReplacingFile() { Discard(); }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // False when the temporary file could not be created (folder missing or not writable).
  bool IsOpen() const { return file_.IsOpen(); }
  // The handle for writers that write bytes.
  File& file() { return file_; }
  // The temporary file's path for writers that open it themselves; they may reopen and
  // truncate it, or rename a file of their own over it, which is then the one committed.
  // Empty when it could not be created, so such an open fails too.
  const std::string& temporary_path() const { return temporary_; }
  // Puts the written file in place of the target; false (and nothing replaced) when the
  // data could not be flushed or the rename failed. Later calls return false.
  bool Commit();
  // Removes the temporary file without touching the target.
  void Discard();

 private:
  std::string target_;
  std::string temporary_;
  int kept_mode_ = -1;  // the replaced file's permissions, -1 for a new file
  File file_;
};

// Replaces the file at `path` with `bytes` through a ReplacingFile.
bool ReplaceFileContents(const std::string& path, const void* bytes, std::size_t size);
inline bool ReplaceFileContents(const std::string& path, std::string_view text) {
  return ReplaceFileContents(path, text.data(), text.size());
}

}  // namespace sonavel
