#include "formats/components.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/dialog_model.h"
#include "platform/download.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/progress.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/vector_clones.h"

namespace sonavel {

namespace {

// Where a user can fetch a component by hand.
constexpr std::string_view kComponentsPage = "https://www.halvorn-audio.de/components/";

// A decoder or an installer may run this long.
constexpr long long kLongestRunMs = 60LL * 60 * 1000;
// Steps of the creeping progress, and how often a running child is looked at.
constexpr long long kStepMs = 500;
constexpr long long kPollMs = 20;
constexpr int kPipeBytes = 65536;

// The Debian programs that take the command lines of our components.
struct Fallback {
  std::string_view component;
  std::string_view program;
};
constexpr Fallback kDebianPrograms[] = {
    {kMp3Encoder, "lame"},  {kOggEncoder, "oggenc"}, {kOggDecoder, "oggdec"},
    {kFlacEncoder, "flac"}, {kFlacDecoder, "flac"},  {kAacDecoder, "faad"},
};
// The components our own adapters ("sonavel-<name>" beside the program) stand in for.
constexpr std::string_view kAdapters[] = {kAacEncoder, kShortenDecoder, kRecordDecoder, kAmrEncoder,
                                          kAmrDecoder};

enum class Ending { kEnded, kCancelled, kTimedOut };

// Waits for `child` for at most `limit_ms`, pumping `progress` all the while; `step` runs
// after each kStepMs without an end. A cancel or the time limit ends the child. `status`
// gets the exit status of a child that ended by itself.
Ending WaitPumping(ChildProcess& child, Progress& progress, long long limit_ms,
                   const std::function<void()>& step, int& status) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  long long steps = 0;
  for (;;) {
    if (const std::optional<int> ended = child.TryWait()) {
      status = *ended;
      return Ending::kEnded;
    }
    if (progress.Pump()) {
      child.Kill();
      return Ending::kCancelled;
    }
    const long long elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (elapsed >= limit_ms) {
      child.Kill();
      return Ending::kTimedOut;
    }
    for (; (steps + 1) * kStepMs <= elapsed; ++steps) step();
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPollMs, limit_ms - elapsed)));
  }
}

// Runs a child with standard output and error discarded and waits for it; anything but an
// exit status of 0 deletes `output`. With `creep`, the progress creeps towards its end.
Result RunChild(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment, const std::string& output,
                long long limit_ms, bool creep, Progress& progress) {
  ChildProcess child;
  ChildSetup setup;
  setup.discard_output = true;
  setup.environment = environment;
  Result result = kFailed;
  if (child.Start(arguments, setup)) {
    double remaining = 0.97;
    int status = -1;
    const Ending ending = WaitPumping(
        child, progress, limit_ms,
        [&] {
          if (!creep) return;
          progress.SetFraction(1.0 - remaining);
          remaining *= 0.99;
        },
        status);
    result = ending == Ending::kCancelled              ? kCancelled
             : ending == Ending::kEnded && status == 0 ? kDone
                                                       : kFailed;
  }
  if (result != kDone) RemoveFile(output);
  return result;
}

std::string InstallerUrl(const std::string& host, std::string_view name) {
  return "http://" + host + "/components/" + std::string(name);
}

// A component name is a plain file name of letters and digits.
bool PlainName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// StoreTo16 in a form the compiler vectorises (clamped first, so the rounding cannot
// overflow, to the values that round to the 16-bit ends), byte-swapped when asked.
SONAVEL_AVX2_CLONES void StoreToWords(const std::int32_t* samples, std::uint16_t* words, std::size_t count,
                                      bool swap) {
  for (std::size_t i = 0; i < count; ++i)
    words[i] = static_cast<std::uint16_t>((std::min(std::max(samples[i], -524296), 524279) + 8) >> 4);
  if (swap)
    for (std::size_t i = 0; i < count; ++i) words[i] = static_cast<std::uint16_t>((words[i] << 8) | (words[i] >> 8));
}

// An encoder reading 16-bit samples from its standard input.
class EncoderSink final : public SampleSink {
 public:
  EncoderSink(const std::vector<std::string>& arguments, std::int32_t sample_rate,
              std::uint8_t channel_count, bool big_endian)
      : SampleSink(sample_rate, channel_count), big_endian_(big_endian) {
    if ((status & kSinkUnusable) != 0) return;
    // A write to an encoder that has gone must fail, not end this program.
    static std::once_flag once;
    std::call_once(once, [] { ::signal(SIGPIPE, SIG_IGN); });
    ChildSetup setup;
    setup.input_pipe = true;
    setup.discard_output = true;
    if (!child_.Start(arguments, setup)) {
      status |= kSinkUnusable;
      return;
    }
    ::fcntl(child_.input(), F_SETPIPE_SZ, kPipeBytes);
  }

  // Each piece is held until the next one comes, so that a seek back into it (a source
  // that finds its real end only after reading past it) can still take frames off: what
  // has reached the encoder cannot be taken back.
  void Write(const std::int32_t* buffer, std::int32_t frames) override {
    if ((status & kSinkUnusable) != 0 || frames <= 0) return;
    Send();
    position = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::int64_t{position} + frames, INT32_MAX));
    const std::size_t samples = static_cast<std::size_t>(frames) * channels;
    held_.resize(samples);
    StoreToWords(buffer, held_.data(), samples, big_endian_ != (std::endian::native == std::endian::big));
  }

  // Only into the piece still held; anything else cannot be done to a pipe.
  void Seek(std::int32_t frame) override {
    const std::int64_t sent = position - static_cast<std::int64_t>(held_.size()) / channels;
    if (frame < sent || frame > position) {
      status |= kSinkWriteFailed;
      return;
    }
    held_.resize(static_cast<std::size_t>((frame - sent) * channels));
    position = frame;
  }

  // The encoder sees the end of its input and must finish its file before it is used.
  void Finish() override {
    Send();
    if (!child_.running()) return;
    child_.CloseInput();
    if (child_.Wait() != 0) status |= kSinkWriteFailed;
  }

 private:
  // Hands the held piece to the encoder.
  void Send() {
    if (held_.empty() || (status & kSinkUnusable) != 0) return;
    if (child_.input() < 0) {
      status |= kSinkWriteFailed;
      held_.clear();
      return;
    }
    const auto* bytes = reinterpret_cast<const char*>(held_.data());
    const std::size_t size = held_.size() * sizeof(std::uint16_t);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t wrote = ::write(child_.input(), bytes + done, size - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        // The encoder stopped reading (EPIPE): nothing more can reach it.
        status |= kSinkWriteFailed;
        child_.CloseInput();
        break;
      }
      done += static_cast<std::size_t>(wrote);
    }
    held_.clear();
  }

  bool big_endian_;
  std::vector<std::uint16_t> held_;  // 16-bit samples of the last piece, not yet sent
  ChildProcess child_;  // its destructor ends an encoder that was not finished
};

}  // namespace

std::optional<std::string> FindComponent(const Registry& registry, std::string_view name) {
  for (Branch branch : {Branch::kMachine, Branch::kUser}) {
    const std::optional<std::string> path = registry.Get(branch, ComponentKey(name), "Path");
    if (path && IsExecutableFile(*path)) return path;
  }
  for (const Fallback& fallback : kDebianPrograms) {
    if (fallback.component != name) continue;
    std::string program = FindProgram(std::string(fallback.program));
    if (!program.empty()) return program;
    return std::nullopt;
  }
  if (std::find(std::begin(kAdapters), std::end(kAdapters), name) != std::end(kAdapters)) {
    const std::string own = OwnExecutablePath();
    const std::size_t slash = own.rfind('/');
    if (slash != std::string::npos) {
      std::string adapter = own.substr(0, slash + 1) + "sonavel-" + std::string(name);
      if (IsExecutableFile(adapter)) return adapter;
    }
  }
  return std::nullopt;
}

Result EnsureComponent(Registry& registry, std::string_view name, Ui& ui, Progress& progress) {
  if (FindComponent(registry, name)) return kDone;
  if (InstallComponent(registry, name, progress) == kCancelled) return kCancelled;
  if (FindComponent(registry, name)) return kDone;
  ui.ShowMessage({"Sonavel kann die benötigte Install-On-Demand Komponente nicht installieren \"" +
                      std::string(name) + "\". Bitte downloaden Sie diese von " +
                      std::string(kComponentsPage) + " und installieren dann manuell.",
                  "Sonavel", MessageIcon::kError, MessageButtons::kOk});
  return kFailed;
}

Result InstallComponent(Registry& registry, std::string_view name, Progress& progress) {
  progress.SetTexts("Downloade Install-on-Demand", name);
  if (!PlainName(name)) return kFailed;
  // A folder of our own (mode 0700), so no other user can swap the installer we run.
  std::string folder = JoinPath(TempFolder(), "sonavel-install-XXXXXX");
  if (::mkdtemp(folder.data()) == nullptr) return kFailed;
  ::chmod(folder.c_str(), 0700);
  const std::string installer = JoinPath(folder, name);
  const Settings settings(registry);
  Result result =
      Download(InstallerUrl(settings.Read(setting::kComponentsHost), name), installer, progress);
  if (result == kFailed)
    result = Download(InstallerUrl(settings.Read(setting::kMainHost), name), installer, progress);
  if (result == kDone) {
    progress.SetTexts("Führe Install-on-Demand aus", name);
    // The installer ends before it is deleted and the component is looked for again.
    result = ::chmod(installer.c_str(), 0700) == 0
                 ? RunChild({installer}, {"LQUIET=1"}, std::string(), kLongestRunMs, true, progress)
                 : kFailed;
  }
  RemoveFile(installer);
  ::rmdir(folder.c_str());
  return result;
}

Result Download(const std::string& url, const std::string& local_path, Progress& progress) {
  return DownloadFile(url, local_path, progress);
}

Result RunDecoder(const std::vector<std::string>& arguments, const std::string& output,
                  Progress& progress) {
  return RunChild(arguments, {}, output, kLongestRunMs, true, progress);
}

Result RunAndWait(const std::vector<std::string>& arguments, const std::string& output,
                  int timeout_ms, Progress& progress) {
  return RunChild(arguments, {}, output, std::max(0, timeout_ms), false, progress);
}

SinkRef CreateEncoderSink(const std::vector<std::string>& arguments, std::int32_t rate,
                          std::uint8_t channels, bool big_endian) {
  return MakeCounted<EncoderSink>(arguments, rate, channels, big_endian);
}

}  // namespace sonavel
