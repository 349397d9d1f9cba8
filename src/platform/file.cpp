#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace sonavel {

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool File::Open(const std::string& path, Mode mode) {
  Close();
  if (path.empty()) return false;
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead: flags |= O_RDONLY; break;
    case Mode::kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case Mode::kReadWrite: flags |= O_RDWR; break;
  }
  do {
    fd_ = ::open(path.c_str(), flags, 0644);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ >= 0;
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::size_t File::Read(void* buffer, std::size_t bytes) {
  if (fd_ < 0) return 0;
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < bytes) {
    ssize_t got = ::read(fd_, out + done, bytes - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool File::Write(const void* buffer, std::size_t bytes) {
  if (fd_ < 0) return false;
  const auto* in = static_cast<const char*>(buffer);
  std::size_t done = 0;
  while (done < bytes) {
    ssize_t put = ::write(fd_, in + done, bytes - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

bool File::Seek(std::int64_t offset) {
  if (fd_ < 0 || offset < 0) return false;
  return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool File::Skip(std::int64_t bytes) {
  if (fd_ < 0 || bytes < 0) return false;
  return ::lseek(fd_, static_cast<off_t>(bytes), SEEK_CUR) >= 0;
}

std::int64_t File::Tell() const {
  if (fd_ < 0) return -1;
  return static_cast<std::int64_t>(::lseek(fd_, 0, SEEK_CUR));
}

bool File::Truncate(std::int64_t size) {
  if (fd_ < 0 || size < 0) return false;
  int result;
  do {
    result = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

std::int64_t File::Size() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

void File::StartWriteback(std::int64_t offset, std::int64_t bytes) {
  if (fd_ >= 0 && offset >= 0 && bytes > 0) ::sync_file_range(fd_, offset, bytes, SYNC_FILE_RANGE_WRITE);
}

bool File::Sync() {
  if (fd_ < 0) return false;
  int result;
  do {
    result = ::fsync(fd_);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

void RemoveFile(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}

namespace {

// The folder part of `path` ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Flushes a folder's entries (a finished rename) to the disk. Some file systems refuse
// to sync a folder; the rename itself has happened then, so this is only best effort.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  while (::fsync(fd) != 0 && errno == EINTR) {
  }
  ::close(fd);
}

// Creates a file that did not exist, read + write, 0666 less the umask; -1 on failure.
int CreateNew(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

ReplacingFile::ReplacingFile(const std::string& target) : target_(target) {
  if (target.empty()) return;
  struct stat link {};
  if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (char* resolved = ::realpath(target.c_str(), nullptr)) {
      target_ = resolved;
      std::free(resolved);
    }
  }
  // The process id makes names unique between programs, the counter within one; the name
  // is shortened when the target's own name leaves no room for the suffix.
  static std::atomic<unsigned> counter{0};
  const std::string folder = FolderOf(target_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = ".part-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    std::string name = target_ + suffix;
    int fd = CreateNew(name);
    if (fd < 0 && errno == ENAMETOOLONG) {
      name = folder + "/" + suffix;
      fd = CreateNew(name);
    }
    if (fd >= 0) {
      file_.fd_ = fd;
      temporary_ = std::move(name);
      break;
    }
    if (errno != EEXIST) return;
  }
  if (!file_.IsOpen()) return;
  struct stat old {};
  if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) kept_mode_ = static_cast<int>(old.st_mode & 07777);
}

bool ReplacingFile::Commit() {
  if (!file_.IsOpen()) return false;
  // A writer that wrote a file of its own and renamed it over the temporary name (an
  // encoder choosing its container by the name's extension) made that the file to commit:
  // it gets the mode and the sync.
  struct stat by_name {}, held {};
  if (::lstat(temporary_.c_str(), &by_name) == 0 && ::fstat(file_.fd_, &held) == 0 &&
      (by_name.st_ino != held.st_ino || by_name.st_dev != held.st_dev)) {
    const int fd = S_ISREG(by_name.st_mode) ? ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW) : -1;
    if (fd < 0) {
      Discard();
      return false;
    }
    file_.Close();
    file_.fd_ = fd;
  }
  // Given only now: a read-only mode would keep writers from opening the file by its path.
  if (kept_mode_ >= 0) ::fchmod(file_.fd_, static_cast<mode_t>(kept_mode_));
  // Writers that opened the file by its path wrote to the same file: one sync covers them.
  bool done = file_.Sync();
  file_.Close();
  done = done && std::rename(temporary_.c_str(), target_.c_str()) == 0;
  if (!done) {
    Discard();
    return false;
  }
  temporary_.clear();
  SyncFolder(FolderOf(target_));
  return true;
}

void ReplacingFile::Discard() {
  file_.Close();
  if (!temporary_.empty()) {
    RemoveFile(temporary_);
    temporary_.clear();
  }
}

bool ReplaceFileContents(const std::string& path, const void* bytes, std::size_t size) {
  ReplacingFile replacing(path);
  return replacing.IsOpen() && replacing.file().Write(bytes, size) && replacing.Commit();
}

}  // namespace sonavel
