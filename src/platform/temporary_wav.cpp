#include "platform/temporary_wav.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/paths.h"

namespace sonavel {

namespace {

int OpenNoFollow(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// True for a plain file of this user.
bool OwnPlainFile(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_uid == ::geteuid();
}

// Opens and locks the lock file at `path`: the descriptor, or -1 when another process holds
// the lock or the name is not ours to use.
int LockName(const std::string& path) {
  // Another holder may delete the file between our open and our lock; the lock must be on
  // the file that is still under the name, so a lost race is retried.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = OpenNoFollow(path, O_RDWR | O_CREAT);
    if (fd < 0) return -1;
    struct stat held;
    if (::fstat(fd, &held) != 0 || !OwnPlainFile(held) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return -1;
    }
    struct stat named;
    if (::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
      return fd;
    ::close(fd);
  }
  return -1;
}

}  // namespace

std::optional<TemporaryWav> TemporaryWav::Reserve(const std::string& folder) {
  for (int n = 1; n <= kMaxNumber; ++n) {
    const std::string stem = JoinPath(folder, "Temp" + std::to_string(n));
    const std::string lock = stem + ".lck";
    const std::string wav = stem + ".wav";
    const int lock_fd = LockName(lock);
    if (lock_fd < 0) continue;
    // We hold the lock: a WAV file of ours under the name is a stale one left by a run
    // that ended without cleaning up.
    struct stat info;
    bool usable = true;
    if (::lstat(wav.c_str(), &info) == 0) usable = OwnPlainFile(info) && ::unlink(wav.c_str()) == 0;
    if (usable) {
      const int wav_fd = OpenNoFollow(wav, O_WRONLY | O_CREAT | O_EXCL);
      if (wav_fd >= 0) {
        ::close(wav_fd);
        return TemporaryWav(n, wav, lock, lock_fd);
      }
    }
    ::unlink(lock.c_str());
    ::close(lock_fd);
  }
  return std::nullopt;
}

TemporaryWav::TemporaryWav(int number, std::string wav, std::string lock, int lock_fd)
    : number_(number), wav_(std::move(wav)), lock_(std::move(lock)), lock_fd_(lock_fd) {}

TemporaryWav::TemporaryWav(TemporaryWav&& other) noexcept
    : number_(other.number_),
      wav_(std::move(other.wav_)),
      lock_(std::move(other.lock_)),
      lock_fd_(std::exchange(other.lock_fd_, -1)) {}

TemporaryWav::~TemporaryWav() {
  if (lock_fd_ < 0) return;
  // The lock still guards the name: nobody else can have put a file there meanwhile.
  ::unlink(wav_.c_str());
  ::unlink(lock_.c_str());
  ::close(lock_fd_);
}

}  // namespace sonavel
