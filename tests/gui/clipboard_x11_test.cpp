// The clipboard's round trip with another program on a real X server: xclip reads what the
// editor offers and offers what the editor fetches. Run under xvfb-run; without a display
// or without xclip the tests are skipped.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/qt_clipboard.h"

namespace sonavel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kTimeoutMs = 10000;

bool have_application = false;

// A 16-bit mono WAV file of `frames` frames of noise: every byte value occurs.
Bytes Wav(std::uint32_t frames, std::uint32_t seed) {
  auto put32 = [](Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  auto put16 = [](Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  };
  Bytes out{'R', 'I', 'F', 'F'};
  put32(out, 36 + 2 * frames);
  for (char c : std::string("WAVEfmt ")) out.push_back(static_cast<std::uint8_t>(c));
  put32(out, 16);
  put16(out, 1);
  put16(out, 1);
  put32(out, 22050);
  put32(out, 44100);
  put16(out, 2);
  put16(out, 16);
  for (char c : std::string("data")) out.push_back(static_cast<std::uint8_t>(c));
  put32(out, 2 * frames);
  std::uint32_t state = seed;
  for (std::uint32_t i = 0; i < 2 * frames; ++i) {
    state = state * 1664525u + 1013904223u;
    out.push_back(static_cast<std::uint8_t>(state >> 24));
  }
  return out;
}

// Waits for `process` to end while the application answers the X server; a process still
// running after kTimeoutMs is killed. True when it ended by itself with exit code 0.
bool FinishWhileAnswering(QProcess& process) {
  QElapsedTimer clock;
  clock.start();
  while (process.state() != QProcess::NotRunning) {
    if (clock.elapsed() > kTimeoutMs) {
      ADD_FAILURE() << "xclip did not end within " << kTimeoutMs << " ms";
      process.kill();
      process.waitForFinished(2000);
      return false;
    }
    QCoreApplication::processEvents();
    process.waitForFinished(10);
  }
  const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
  if (!ok) ADD_FAILURE() << "xclip failed: " << process.readAllStandardError().toStdString();
  return ok;
}

// Runs `xclip -selection clipboard ARGUMENTS -o` and returns what it printed.
std::optional<QByteArray> ReadWithXclip(const QStringList& arguments, const QString& output_path) {
  QProcess xclip;
  xclip.setStandardInputFile(QProcess::nullDevice());
  xclip.setStandardOutputFile(output_path);
  xclip.start("xclip", QStringList{"-selection", "clipboard"} + arguments + QStringList{"-o"});
  if (!xclip.waitForStarted(kTimeoutMs)) {
    ADD_FAILURE() << "xclip did not start";
    return std::nullopt;
  }
  if (!FinishWhileAnswering(xclip)) return std::nullopt;
  QFile file(output_path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll();
}

bool WriteFile(const QString& path, const Bytes& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) &&
         file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
             static_cast<qint64>(bytes.size());
}

QByteArray AsQByteArray(const Bytes& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

class ClipboardX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_application) GTEST_SKIP() << "no X display (DISPLAY is not set)";
    if (QStandardPaths::findExecutable("xclip").isEmpty()) GTEST_SKIP() << "xclip is not installed";
    ASSERT_TRUE(folder_.isValid());
  }
  QString Path(const char* name) const { return folder_.filePath(name); }

  QTemporaryDir folder_;
  QtClipboard clipboard_;
};

TEST_F(ClipboardX11, AnotherProgramReadsTheOfferedWavRenderedOnce) {
  // A small file and one large enough to travel in pieces.
  for (const std::uint32_t frames : {1000u, 400000u}) {
    SCOPED_TRACE(frames);
    const Bytes wav = Wav(frames, frames);
    int renders = 0;
    clipboard_.OfferWav([&] {
      ++renders;
      return wav;
    });
    ASSERT_TRUE(QGuiApplication::clipboard()->ownsClipboard());

    // Asking what is offered renders nothing.
    const std::optional<QByteArray> targets = ReadWithXclip({"-t", "TARGETS"}, Path("targets.txt"));
    ASSERT_TRUE(targets.has_value());
    const QStringList names = QString::fromLatin1(*targets).split('\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(names.contains("audio/wav")) << targets->toStdString();
    EXPECT_TRUE(names.contains("audio/x-wav")) << targets->toStdString();
    EXPECT_EQ(renders, 0);

    const std::optional<QByteArray> read = ReadWithXclip({"-t", "audio/wav"}, Path("read.wav"));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->size(), static_cast<qsizetype>(wav.size()));
    EXPECT_TRUE(*read == AsQByteArray(wav));
    const std::optional<QByteArray> again = ReadWithXclip({"-t", "audio/x-wav"}, Path("again.wav"));
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(*again == AsQByteArray(wav));
    EXPECT_EQ(renders, 1);
  }
}

TEST_F(ClipboardX11, WavOfferedByAnotherProgramIsFetched) {
  for (const std::uint32_t frames : {1000u, 400000u}) {
    SCOPED_TRACE(frames);
    // The editor owns the clipboard first, so that the other program's offer shows as the
    // loss of it.
    const Bytes own = Wav(10, 1);
    clipboard_.OfferWav([&] { return own; });
    ASSERT_TRUE(QGuiApplication::clipboard()->ownsClipboard());

    const Bytes wav = Wav(frames, frames + 7);
    ASSERT_TRUE(WriteFile(Path("offer.wav"), wav));
    // In the foreground, so that it can be ended here: it stays as the clipboard's owner.
    QProcess xclip;
    xclip.setStandardInputFile(QProcess::nullDevice());
    xclip.setStandardOutputFile(QProcess::nullDevice());
    xclip.start("xclip", {"-quiet", "-selection", "clipboard", "-t", "audio/wav", "-i", Path("offer.wav")});
    struct EndProcess {
      QProcess& process;
      ~EndProcess() {
        if (process.state() == QProcess::NotRunning) return;
        process.kill();
        process.waitForFinished(2000);
      }
    } end_xclip{xclip};
    ASSERT_TRUE(xclip.waitForStarted(kTimeoutMs));

    QElapsedTimer clock;
    clock.start();
    while (QGuiApplication::clipboard()->ownsClipboard() && xclip.state() == QProcess::Running &&
           clock.elapsed() < kTimeoutMs) {
      QCoreApplication::processEvents();
      xclip.waitForFinished(10);
    }
    ASSERT_EQ(xclip.state(), QProcess::Running) << xclip.readAllStandardError().toStdString();
    ASSERT_FALSE(QGuiApplication::clipboard()->ownsClipboard()) << "xclip did not take the clipboard";

    const std::optional<Bytes> fetched = clipboard_.FetchWav();
    ASSERT_TRUE(fetched.has_value());
    EXPECT_EQ(fetched->size(), wav.size());
    EXPECT_TRUE(*fetched == wav);
  }
}

}  // namespace
}  // namespace sonavel

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The X server's clipboard is the point here, whatever platform the other tests use.
  std::unique_ptr<QApplication> application;
  if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    application = std::make_unique<QApplication>(argc, argv);
    sonavel::have_application = true;
  }
  return RUN_ALL_TESTS();
}
