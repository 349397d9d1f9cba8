// Components: finding them, installing them from a loopback web server, and running
// decoders and encoders as child processes (fakes made of sh, and lame with mpg123).

#include "formats/components.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/download.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "wav_fixture.h"

namespace sonavel::testing {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Records texts and fractions; cancels at its `cancel_at`-th pump.
class RecordingProgress final : public Progress {
 public:
  explicit RecordingProgress(int cancel_at = 0) : cancel_at_(cancel_at) {}
  void SetTexts(std::string_view title, std::string_view detail) override {
    texts.push_back(std::string(title) + "|" + std::string(detail));
  }
  void SetFraction(double done) override { fractions.push_back(done); }
  bool Pump() override { return ++pumps_ == cancel_at_ || (cancel_at_ > 0 && pumps_ > cancel_at_); }
  std::vector<std::string> texts;
  std::vector<double> fractions;

 private:
  int cancel_at_;
  int pumps_ = 0;
};

// True when this process has no child left, running or unreaped.
bool NoChildLeft() {
  errno = 0;
  return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

void WriteScript(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
  ::chmod(path.c_str(), 0700);
}

// A web server on a free loopback port, ready when constructed, ended with the object.
class LocalServer {
 public:
  // Runs python3 with `arguments` and the port appended.
  explicit LocalServer(std::vector<std::string> arguments) {
    port_ = FreePort();
    arguments.insert(arguments.begin(), FindProgram("python3"));
    arguments.push_back(std::to_string(port_));
    ChildSetup setup;
    setup.discard_output = true;
    if (!child_.Start(arguments, setup)) return;
    for (int attempt = 0; attempt < 500 && !ready_; ++attempt) {
      ready_ = Answers();
      if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  bool ready() const { return ready_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  static int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
  }
  bool Answers() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
  }
  int port_ = 0;
  bool ready_ = false;
  ChildProcess child_;
};

// Answers "/short..." with 10 of 1000 announced bytes and closes; anything else with the
// headers, then nothing while holding the connection.
constexpr const char* kTrickyServer = R"(import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.1', int(sys.argv[1])))
s.listen(8)
held = []
while True:
    c, _ = s.accept()
    request = c.recv(65536).decode('latin-1')
    if not request:
        c.close()
        continue
    c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n')
    if request.split(' ')[1].startswith('/short'):
        c.sendall(b'x' * 10)
        c.close()
    else:
        held.append(c)
)";

class ComponentsTest : public FormatTest {
 protected:
  void SetUp() override {
    FormatTest::SetUp();
    temp_ = Path("tmp");
    std::filesystem::create_directory(temp_);
    Remember("TMPDIR");
    ::setenv("TMPDIR", temp_.c_str(), 1);
    // The loopback servers are reached directly, whatever proxy the environment names.
    Remember("no_proxy");
    ::setenv("no_proxy", "127.0.0.1", 1);
    registry_ = std::make_unique<Registry>(Path("user"), Path("machine"));
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
    FormatTest::TearDown();
  }
  void Remember(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    saved_.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
  }
  // Hides the Debian programs, so that only the registry can name a component.
  void EmptyPath() {
    Remember("PATH");
    std::filesystem::create_directory(Path("bin"));
    ::setenv("PATH", Path("bin").c_str(), 1);
  }
  void SetHosts(const std::string& primary, const std::string& main) {
    Settings settings(*registry_);
    settings.WriteUser(setting::kComponentsHost, primary);
    settings.WriteUser(setting::kMainHost, main);
  }
  bool TempEmpty() const { return std::filesystem::is_empty(temp_); }

  std::string temp_;
  std::unique_ptr<Registry> registry_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(ComponentsTest, FindPrefersTheMachineAndSkipsPathsThatAreNoExecutables) {
  const std::string user_program = Path("user-oggdec");
  const std::string machine_program = Path("machine-oggdec");
  const std::string not_executable = Path("plain");
  WriteScript(user_program, "#!/bin/sh\n");
  WriteScript(machine_program, "#!/bin/sh\n");
  WriteBytes(not_executable, {'x'});
  const std::string key = ComponentKey(kOggDecoder);
  ASSERT_TRUE(registry_->Set(Branch::kUser, key, "Path", user_program));
  ASSERT_TRUE(registry_->Set(Branch::kMachine, key, "Path", machine_program));
  EXPECT_EQ(FindComponent(*registry_, kOggDecoder), machine_program);
  for (const std::string& bad :
       {not_executable, Path(""), std::string("relative/oggdec"), Path("missing")}) {
    ASSERT_TRUE(registry_->Set(Branch::kMachine, key, "Path", bad));
    EXPECT_EQ(FindComponent(*registry_, kOggDecoder), user_program) << bad;
  }
  // Without a usable "Path": the Debian program on PATH, our adapter beside the program.
  ASSERT_TRUE(registry_->Set(Branch::kUser, key, "Path", not_executable));
  EXPECT_EQ(FindComponent(*registry_, kOggDecoder), FindProgram("oggdec"));
  EXPECT_EQ(FindComponent(*registry_, kFlacEncoder), FindProgram("flac"));
  EXPECT_EQ(FindComponent(*registry_, kShortenDecoder), std::nullopt);
  EmptyPath();
  EXPECT_EQ(FindComponent(*registry_, kOggDecoder), std::nullopt);
  EXPECT_EQ(FindComponent(*registry_, kMp3Encoder), std::nullopt);
}

TEST_F(ComponentsTest, InstallTakesTheMainHostAfterARefusalAndWaitsForTheQuietInstaller) {
  std::filesystem::create_directories(Path("primary"));
  std::filesystem::create_directories(Path("main/components"));
  // The installer takes a moment, then registers /bin/true as oggenc and notes what it saw.
  WriteScript(Path("main/components/oggenc"),
              "#!/bin/sh\nPATH=/usr/bin:/bin\nsleep 0.3\n"
              "stat -c %a \"$(dirname \"$0\")\" > '" +
                  Path("folder-mode") +
                  "'\n"
                  "printf '%s' \"$LQUIET\" > '" +
                  Path("lquiet") +
                  "'\n"
                  "printf '[%s]\\nPath=%s\\n' 'Software\\Halvorn Audio\\Components\\oggenc' "
                  "/bin/true >> '" +
                  registry_->FilePath(Branch::kUser) + "'\n");
  LocalServer primary({"-m", "http.server", "--bind", "127.0.0.1", "--directory", Path("primary")});
  LocalServer main({"-m", "http.server", "--bind", "127.0.0.1", "--directory", Path("main")});
  ASSERT_TRUE(primary.ready() && main.ready());
  EmptyPath();
  SetHosts(primary.host(), main.host());
  ScriptedUi ui;
  RecordingProgress progress;
  EXPECT_EQ(EnsureComponent(*registry_, kOggEncoder, ui, progress), kDone);
  EXPECT_TRUE(ui.shown().empty());
  EXPECT_EQ(FindComponent(*registry_, kOggEncoder), "/bin/true");
  EXPECT_EQ(ReadBytes(Path("lquiet")), std::vector<std::uint8_t>{'1'});
  EXPECT_EQ(ReadBytes(Path("folder-mode")), (std::vector<std::uint8_t>{'7', '0', '0', '\n'}));
  EXPECT_EQ(std::getenv("LQUIET"), nullptr);  // only the installer's environment had it
  EXPECT_EQ(progress.texts, (std::vector<std::string>{"Downloade Install-on-Demand|oggenc",
                                                      "Führe Install-on-Demand aus|oggenc"}));
  EXPECT_TRUE(TempEmpty());  // installer and its folder deleted
  // Present now: no second install.
  RecordingProgress again;
  EXPECT_EQ(EnsureComponent(*registry_, kOggEncoder, ui, again), kDone);
  EXPECT_TRUE(again.texts.empty());
}

TEST_F(ComponentsTest, InstallRefusedEverywhereShowsTheMessageAndACancelShowsNone) {
  std::filesystem::create_directories(Path("empty"));
  WriteBytes(Path("tricky.py"),
             std::vector<std::uint8_t>(kTrickyServer, kTrickyServer + strlen(kTrickyServer)));
  LocalServer refusing({"-m", "http.server", "--bind", "127.0.0.1", "--directory", Path("empty")});
  LocalServer stalling({Path("tricky.py")});
  ASSERT_TRUE(refusing.ready() && stalling.ready());
  EmptyPath();

  SetHosts(refusing.host(), refusing.host());
  ScriptedUi ui;
  RecordingProgress progress;
  EXPECT_EQ(EnsureComponent(*registry_, kOggEncoder, ui, progress), kFailed);
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(
      ui.shown()[0].text,
      "Sonavel kann die benötigte Install-On-Demand Komponente nicht installieren \"oggenc\". "
      "Bitte downloaden "
      "Sie diese von https://www.halvorn-audio.de/components/ und installieren dann manuell.");
  EXPECT_TRUE(TempEmpty());

  // A cancel while the transfer hangs ends it at once; the main host is not tried.
  SetHosts(stalling.host(), refusing.host());
  ui.Clear();
  RecordingProgress cancelling(4);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(EnsureComponent(*registry_, kOggEncoder, ui, cancelling), kCancelled);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_TRUE(ui.shown().empty());
  EXPECT_TRUE(TempEmpty());
}

TEST_F(ComponentsTest, DownloadKeepsOnlyWholeAnswers) {
  std::filesystem::create_directories(Path("site"));
  std::vector<std::uint8_t> body(300000);
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  WriteBytes(Path("site/body"), body);
  WriteBytes(Path("tricky.py"),
             std::vector<std::uint8_t>(kTrickyServer, kTrickyServer + strlen(kTrickyServer)));
  LocalServer site({"-m", "http.server", "--bind", "127.0.0.1", "--directory", Path("site")});
  LocalServer tricky({Path("tricky.py")});
  ASSERT_TRUE(site.ready() && tricky.ready());
  SilentProgress silent;

  RecordingProgress progress;
  const std::string local = Path("tmp/body");
  ASSERT_EQ(DownloadFile("http://" + site.host() + "/body", local, progress), kDone);
  EXPECT_EQ(ReadBytes(local), body);
  struct stat info;
  ASSERT_EQ(::stat(local.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_FALSE(progress.fractions.empty());
  EXPECT_EQ(progress.fractions.back(), 1.0);
  // An existing file is never replaced.
  EXPECT_EQ(DownloadFile("http://" + site.host() + "/body", Path("site/body"), silent), kFailed);
  EXPECT_EQ(ReadBytes(Path("site/body")), body);
  std::filesystem::remove(local);

  EXPECT_EQ(DownloadFile("http://" + site.host() + "/none", local, silent), kFailed);
  EXPECT_EQ(DownloadFile("http://" + tricky.host() + "/short", local, silent), kFailed);
  EXPECT_TRUE(TempEmpty());
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(DownloadFile("http://" + tricky.host() + "/stall", local, silent, 1), kFailed);
  EXPECT_LT(SecondsSince(start), 3.0);
  EXPECT_TRUE(TempEmpty());
}

// ---- decoders and encoders ----

using ChildrenTest = FormatTest;

TEST_F(ChildrenTest, DecoderEndsAreCountedAndFailuresLeaveNoOutput) {
  const std::string output = Path("out.wav");
  const auto decoder = [&](const std::string& script) {
    return std::vector<std::string>{"/bin/sh", "-c", "echo partial > \"$0\"; " + script, output};
  };
  // A decoder that ends well after one step: its output stays, the progress crept once.
  RecordingProgress progress;
  EXPECT_EQ(RunDecoder(decoder("sleep 0.6"), output, progress), kDone);
  EXPECT_TRUE(std::filesystem::exists(output));
  ASSERT_EQ(progress.fractions.size(), 1u);
  EXPECT_NEAR(progress.fractions[0], 0.03, 1e-12);

  SilentProgress silent;
  EXPECT_EQ(RunDecoder(decoder("exit 1"), output, silent), kFailed);
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_EQ(RunDecoder({Path("no-such-decoder"), output}, output, silent), kFailed);

  // A cancel ends a decoder that would run on, and deletes what it wrote.
  Clock::time_point start = Clock::now();
  RecordingProgress cancelling(10);
  EXPECT_EQ(RunDecoder(decoder("exec sleep 30"), output, cancelling), kCancelled);
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_FALSE(std::filesystem::exists(output));
  // So does the time limit of a single wait.
  start = Clock::now();
  EXPECT_EQ(RunAndWait(decoder("exec sleep 30"), output, 200, silent), kFailed);
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_EQ(RunAndWait(decoder("exit 0"), output, 5000, silent), kDone);
  EXPECT_TRUE(std::filesystem::exists(output));
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(ChildrenTest, EncoderSinkDeliversExactWordsInEitherOrderAndWaitsForTheEnd) {
  // Store samples and the 16-bit words they become: rounding, and saturation both ways.
  const std::vector<std::int32_t> samples = {0,  16,         -16,       8,          7,      -8,
                                             -9, kFullScale, 0x7FFFFFF, -0x7FFFFFF, 0x12345};
  const std::vector<std::int16_t> words = {0, 1, -1, 1, 0, 0, -1, 32767, 32767, -32768, 0x1234};
  // Plus enough frames to fill the pipe many times over.
  std::vector<std::int32_t> stereo;
  std::vector<std::int16_t> expected;
  for (int i = 0; i < 100000; ++i) {
    const std::size_t k = static_cast<std::size_t>(i) % samples.size();
    stereo.insert(stereo.end(), {samples[k], (i % 4001 - 2000) * 16});
    expected.insert(expected.end(), {words[k], static_cast<std::int16_t>(i % 4001 - 2000)});
  }
  for (const bool big_endian : {false, true}) {
    const std::string output = Path(big_endian ? "be.raw" : "le.raw");
    // The file appears only once the encoder is done; Finish must wait for that.
    SinkRef sink = CreateEncoderSink(
        {"/bin/sh", "-c", "cat > \"$0.part\"; sleep 0.2; mv \"$0.part\" \"$0\"", output}, 44100, 2,
        big_endian);
    for (std::size_t done = 0; done < stereo.size(); done += 2 * 8192) {
      const auto frames =
          static_cast<std::int32_t>(std::min<std::size_t>(8192, (stereo.size() - done) / 2));
      sink->Write(stereo.data() + done, frames);
    }
    // A source that read past its real end takes the frames off again: 100 more of the
    // last piece go out, and the seek back removes them before they reach the encoder.
    sink->Write(stereo.data(), 100);
    EXPECT_EQ(sink->position, 100100);
    sink->Seek(100000);
    EXPECT_EQ(sink->position, 100000);
    sink->Finish();
    EXPECT_EQ(sink->status, kStatusOk);
    const std::vector<std::uint8_t> bytes = ReadBytes(output);
    ASSERT_EQ(bytes.size(), expected.size() * 2);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const auto word = static_cast<std::uint16_t>(expected[i]);
      const std::uint8_t high = static_cast<std::uint8_t>(word >> 8),
                         low = static_cast<std::uint8_t>(word);
      ASSERT_EQ(bytes[2 * i], big_endian ? high : low) << i;
      ASSERT_EQ(bytes[2 * i + 1], big_endian ? low : high) << i;
    }
  }
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(ChildrenTest, EncoderFailuresMarkTheSinkAndLeaveNoProcess) {
  std::vector<std::int32_t> buffer(2 * 100000, 1600);
  // Ends after 10 bytes with status 0: the writes fail, the program lives on.
  SinkRef early = CreateEncoderSink({"/bin/sh", "-c", "head -c 10 > /dev/null"}, 44100, 2);
  early->Write(buffer.data(), 100000);
  early->Write(buffer.data(), 100000);
  early->Finish();
  EXPECT_EQ(early->status, kSinkWriteFailed);
  // Reads everything, then fails.
  SinkRef failing = CreateEncoderSink({"/bin/sh", "-c", "cat > /dev/null; exit 3"}, 44100, 2);
  failing->Write(buffer.data(), 100000);
  EXPECT_EQ(failing->status, kStatusOk);
  failing->Finish();
  EXPECT_EQ(failing->status, kSinkWriteFailed);
  // Cannot start: unusable.
  EXPECT_EQ(CreateEncoderSink({Path("no-such-encoder")}, 44100, 2)->status & kSinkUnusable,
            kSinkUnusable);
  // Released without Finish: the encoder is ended, not waited for.
  const Clock::time_point start = Clock::now();
  CreateEncoderSink({"/bin/sh", "-c", "exec sleep 30"}, 44100, 2)->Write(buffer.data(), 10);
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_TRUE(NoChildLeft());
}

// lame reads its raw input as little-endian and "-x" swaps it: with big-endian writes the
// MP3 holds the sound, as mpg123 decodes it.
TEST_F(ChildrenTest, LameThroughTheSinkKeepsTheSound) {
  const std::string lame = FindProgram("lame");
  const std::string mpg123 = FindProgram("mpg123");
  ASSERT_FALSE(lame.empty() || mpg123.empty());
  constexpr int kRate = 44100;
  std::vector<std::int32_t> source(kRate);
  for (int i = 0; i < kRate; ++i)
    source[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(
        0x3000 * 16 *
        (std::sin(2 * M_PI * 440.0 * i / kRate) + 0.5 * std::sin(2 * M_PI * 1230.0 * i / kRate)) /
        1.5);
  const std::string mp3 = Path("sine.mp3");
  SinkRef sink = CreateEncoderSink(
      {lame, "-m", "m", "-b", "128", "-r", "-x", "-s", "44.100", "-S", "-", mp3}, kRate, 1, true);
  sink->Write(source.data(), kRate);
  sink->Finish();
  ASSERT_EQ(sink->status, kStatusOk);
  std::string pcm;
  ASSERT_EQ(RunForOutput({mpg123, "-q", "-s", mp3}, pcm, 1 << 24), 0);
  std::vector<double> decoded(pcm.size() / 2);
  for (std::size_t i = 0; i < decoded.size(); ++i)
    decoded[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(pcm[2 * i]) |
                                           (static_cast<std::uint8_t>(pcm[2 * i + 1]) << 8));
  // Best correlation over the coder's delay, away from the ends.
  double best = 0;
  for (std::size_t lag = 0; lag < 3000 && lag + 14000 < decoded.size(); ++lag) {
    double xy = 0, xx = 0, yy = 0;
    for (std::size_t i = 4000; i < 14000; ++i) {
      const double x = source[i], y = decoded[i + lag];
      xy += x * y;
      xx += x * x;
      yy += y * y;
    }
    best = std::max(best, xy / std::sqrt(xx * yy + 1e-9));
  }
  EXPECT_GT(best, 0.99);
}

}  // namespace
}  // namespace sonavel::testing
