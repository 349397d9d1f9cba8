#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/pump.h"
#include "formats/wav_reader.h"
#include "formats/wave_format.h"
#include "platform/file.h"
#include "platform/ui.h"
#include "store/segment_reader.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(std::string_view text) { return {text.begin(), text.end()}; }

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names in `folder` other than `keep`.
std::vector<std::string> OthersIn(const std::string& folder, const std::vector<std::string>& keep) {
  std::vector<std::string> others;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(keep.begin(), keep.end(), name) == keep.end()) others.push_back(name);
  }
  return others;
}

// Mono 16-bit frames base, base + 7, base + 14, ... (wrapping), `pieces` pumping pieces long.
Sound DistinctSound(int pieces, std::int32_t base) {
  std::vector<std::int32_t> samples(static_cast<std::size_t>(pieces) * kChunkFrames);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int32_t>(static_cast<std::int16_t>(base + 7 * i)) * 16;
  return testing::WriteSound(samples);
}

// Reports each step of a save through a pipe and waits for the parent's answer: 'n' for
// the next step, 'g' to run on freely.
class PipeProgress final : public Progress {
 public:
  PipeProgress(int report, int answer) : report_(report), answer_(answer) {}
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override {
    if (free_) return false;
    char step = 'p';
    char reply = 0;
    if (::write(report_, &step, 1) != 1 || ::read(answer_, &reply, 1) != 1) ::_exit(3);
    free_ = reply == 'g';
    return false;
  }

 private:
  int report_;
  int answer_;
  bool free_ = false;
};

// A byte from `fd` within five seconds; 0 when none came.
char ReadReport(int fd) {
  pollfd wait{fd, POLLIN, 0};
  char byte = 0;
  if (::poll(&wait, 1, 5000) != 1 || ::read(fd, &byte, 1) != 1) return 0;
  return byte;
}

// Files are saved to a folder of their own, away from the store's block files.
class ReplacingFileTest : public testing::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    saves_ = JoinPath(folder_, "saves");
    ASSERT_TRUE(std::filesystem::create_directory(saves_));
  }
  std::string Path(const std::string& name) const { return JoinPath(saves_, name); }

  std::string saves_;
};

// The names in `folder` that begin with `prefix`.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  for (const std::string& name : OthersIn(folder, {})) {
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

// A save killed at twenty moments (between pieces while writing, during the last piece,
// while the header is finished, the data flushed and the file renamed, and after the
// commit) leaves either the file as it was or the whole new one, never a mix. A killed
// save leaves its temporary sibling (named after the target and the process) exactly when
// it did not replace the target; nothing else is left behind.
TEST_F(ReplacingFileTest, SaveKilledAtTwentyMomentsLeavesTheOldOrTheWholeNewFile) {
  constexpr int kPieces = 16;
  const WaveFormat format = PcmFormat(44100, 1, 16);
  SilentProgress silent;
  const std::string target = Path("song.wav");
  ASSERT_EQ(SaveSoundAsWav(DistinctSound(5, 5), format, target, silent), kDone);
  const Bytes old_bytes = ReadAll(target);
  const Sound sound = DistinctSound(kPieces, 1000);
  ASSERT_EQ(SaveSoundAsWav(sound, format, Path("reference.wav"), silent), kDone);
  const Bytes new_bytes = ReadAll(Path("reference.wav"));
  ASSERT_EQ(old_bytes.size(), 46u + 5u * kChunkFrames * 2u);
  ASSERT_EQ(new_bytes.size(), 46u + kPieces * kChunkFrames * 2u);

  int replaced = 0;
  for (int run = 0; run < 20; ++run) {
    const Bytes before = ReadAll(target);
    int report[2];
    int answer[2];
    ASSERT_EQ(::pipe(report), 0);
    ASSERT_EQ(::pipe(answer), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(report[0]);
      ::close(answer[1]);
      PipeProgress progress(report[1], answer[0]);
      const char done = SaveSoundAsWav(sound, format, target, progress) == kDone ? 'c' : 'f';
      [[maybe_unused]] const ssize_t reported = ::write(report[1], &done, 1);
      char hold;
      [[maybe_unused]] const ssize_t held = ::read(answer[0], &hold, 1);  // until killed
      ::_exit(0);
    }
    ::close(report[1]);
    ::close(answer[0]);
    const std::string own_prefix = "song.wav.part-" + std::to_string(child) + "-";
    // Runs 0..14 hold the child before piece `run`; the later runs let it go on freely
    // before the last piece and kill it after 0, 0.2, 1 or 3 ms, or once it committed.
    const int stop_at = run < 15 ? run : kPieces - 1;
    for (int step = 0; step <= stop_at; ++step) {
      ASSERT_EQ(ReadReport(report[0]), 'p') << "run " << run << " step " << step;
      if (step < stop_at) {
        ASSERT_EQ(::write(answer[1], "n", 1), 1);
      }
    }
    if (run < 15) {
      const std::vector<std::string> partial = NamesStartingWith(saves_, own_prefix);
      ASSERT_EQ(partial.size(), 1u) << "run " << run;
      EXPECT_EQ(std::filesystem::file_size(Path(partial[0])), 46u + std::uintmax_t{kChunkFrames} * 2u * stop_at)
          << "run " << run;
    } else {
      ASSERT_EQ(::write(answer[1], "g", 1), 1);
      constexpr useconds_t kDelays[] = {0, 200, 1000, 3000};
      if (run < 19) {
        if (kDelays[run - 15] > 0) ::usleep(kDelays[run - 15]);
      } else {
        ASSERT_EQ(ReadReport(report[0]), 'c');
      }
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "run " << run;
    ::close(report[0]);
    ::close(answer[1]);

    const Bytes now = ReadAll(target);
    EXPECT_TRUE(now == old_bytes || now == new_bytes) << "run " << run << ": a mix of " << now.size() << " bytes";
    const std::size_t left = NamesStartingWith(saves_, own_prefix).size();
    if (left == 1) {
      EXPECT_TRUE(now == before) << "run " << run << " left its temporary file yet changed the target";
    } else {
      EXPECT_EQ(left, 0u) << "run " << run;
      EXPECT_TRUE(now == new_bytes) << "run " << run << " removed its temporary file without replacing";
      ++replaced;
    }
    if (run < 15) {
      EXPECT_EQ(now, old_bytes) << "run " << run;
    }
  }
  EXPECT_GE(replaced, 1);
  EXPECT_LE(replaced, 5);
  const std::vector<std::string> leftovers = OthersIn(saves_, {"song.wav", "reference.wav"});
  EXPECT_EQ(leftovers, NamesStartingWith(saves_, "song.wav.part-"));
  EXPECT_EQ(leftovers.size(), 20u - static_cast<std::size_t>(replaced));
}

// Stops at the third step as a user's Cancel would.
class CancelLater final : public Progress {
 public:
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override { return ++steps_ > 2; }

 private:
  int steps_ = 0;
};

// A cancelled save and every refused replacement leave the old file (or folder) as it was
// and no temporary file; a replaced file keeps its permissions and a new one gets 0666
// less the umask; a symbolic link stays a link to the replaced file.
TEST_F(ReplacingFileTest, FailuresLeaveNothingBehindAndReplacingKeepsModeAndLinks) {
  const std::string target = Path("kept.dat");
  ASSERT_TRUE(ReplaceFileContents(target, "old contents"));
  CancelLater cancel;
  EXPECT_EQ(SaveSoundAsWav(DistinctSound(5, 3), PcmFormat(44100, 1, 16), target, cancel), kCancelled);
  EXPECT_EQ(ReadAll(target), BytesOf("old contents"));

  // A folder in the target's place: the written file cannot be renamed over it.
  const std::string folder_target = Path("folder.wav");
  ASSERT_TRUE(std::filesystem::create_directory(folder_target));
  SilentProgress silent;
  EXPECT_EQ(SaveSoundAsWav(DistinctSound(2, 3), PcmFormat(44100, 1, 16), folder_target, silent), kFailed);
  EXPECT_FALSE(ReplaceFileContents(folder_target, "x"));
  EXPECT_TRUE(std::filesystem::is_directory(folder_target));
  EXPECT_TRUE(std::filesystem::is_empty(folder_target));
  // A missing folder: nothing can be created.
  EXPECT_FALSE(ReplaceFileContents(Path("missing/new.dat"), "x"));
  {
    ReplacingFile unfinished(target);
    ASSERT_TRUE(unfinished.IsOpen());
    ASSERT_TRUE(unfinished.file().Write("new", 3));
  }
  EXPECT_EQ(OthersIn(saves_, {"kept.dat", "folder.wav"}), std::vector<std::string>{});
  EXPECT_EQ(ReadAll(target), BytesOf("old contents"));

  const mode_t umask_before = ::umask(027);
  ASSERT_TRUE(ReplaceFileContents(Path("fresh.dat"), "a"));
  ::chmod(target.c_str(), 0604);
  ASSERT_TRUE(ReplaceFileContents(target, "replaced"));
  ::umask(umask_before);
  struct stat info {};
  ASSERT_EQ(::stat(Path("fresh.dat").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  // A writer that renames a file of its own over the temporary name: that file is
  // committed, with the replaced file's mode.
  {
    ReplacingFile replacing(target);
    const std::string own = replacing.temporary_path() + ".own";
    std::FILE* file = std::fopen(own.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("encoded", file);
    std::fclose(file);
    ::chmod(own.c_str(), 0666);
    ASSERT_EQ(std::rename(own.c_str(), replacing.temporary_path().c_str()), 0);
    ASSERT_TRUE(replacing.Commit());
  }
  EXPECT_EQ(ReadAll(target), BytesOf("encoded"));
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);

  ASSERT_EQ(::symlink("kept.dat", Path("link.dat").c_str()), 0);
  ASSERT_TRUE(ReplaceFileContents(Path("link.dat"), "through the link"));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.dat")));
  EXPECT_EQ(ReadAll(target), BytesOf("through the link"));
  EXPECT_EQ(OthersIn(saves_, {"kept.dat", "folder.wav", "fresh.dat", "link.dat"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace sonavel
