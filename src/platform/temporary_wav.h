#pragma once
// The numbered temporary WAV files that converters decode into ("Temp1.wav", "Temp2.wav",
// ... in the temporary folder), each guarded by a lock file beside it ("Temp1.lck") on
// which the owner holds an flock, so that several running instances never share a name.

#include <optional>
#include <string>

namespace sonavel {

class TemporaryWav {
 public:
  // Reserves the first free number in `folder`: its lock file is created (owner only,
  // never through a symbolic link) and locked; a number whose lock another process holds
  // is passed over. A stale WAV file of ours under the name is deleted; a name taken by a
  // symbolic link, another user's file or anything but a plain file is passed over and
  // left alone. The WAV file is then created empty, exclusively and owner-only. None when
  // no number up to kMaxNumber could be had (folder missing or not writable).
  static std::optional<TemporaryWav> Reserve(const std::string& folder);

  TemporaryWav(TemporaryWav&& other) noexcept;
  TemporaryWav& operator=(TemporaryWav&&) = delete;
  TemporaryWav(const TemporaryWav&) = delete;
  // Deletes the WAV file and the lock file and gives up the lock.
  ~TemporaryWav();

  const std::string& path() const { return wav_; }
  int number() const { return number_; }

  static constexpr int kMaxNumber = 1000;

 private:
  TemporaryWav(int number, std::string wav, std::string lock, int lock_fd);
  int number_ = 0;
  std::string wav_;
  std::string lock_;
  int lock_fd_ = -1;
};

}  // namespace sonavel
