#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

void RemoveFile(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string TemporarySibling(const std::string& path) {
  static unsigned counter = 0;
  return path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

}  // namespace sonavel
