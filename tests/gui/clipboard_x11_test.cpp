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

#include "formats/wav_reader.h"
#include "gui/main_window.h"
#include "gui/qt_clipboard.h"
#include "gui_fixture.h"
#include "platform/ui.h"
#include "store/block_table.h"
#include "store/segment_reader.h"

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

// The editor's own commands: Copy offers the selection, which xclip reads as a WAV file
// of exactly those samples; a WAV offered by xclip is pasted into the document.
TEST_F(ClipboardX11, TheEditorsCopyAndPasteTalkToAnotherProgram) {
  testing::TestSettings test;
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  qputenv("SONAVEL_DATA_DIR", QByteArray::fromStdString(test.folder));
  ScriptedUi ui;
  {
    MainWindow window(test.settings, &ui);
    window.show();
    ASSERT_TRUE(window.OpenDocument(testing::WriteTone(test.folder, "quelle.wav", 1, 22050)));
    AudioDocument& document = *window.ActiveDocument();
    SourceRef reader = OpenSoundReader(document.sound);
    std::vector<std::int32_t> original(22050);
    reader->Read(original.data(), 22050);

    SetSelection(document, 1000, 5000, 1000);
    ASSERT_TRUE(window.Dispatch(2003));  // copy
    const std::optional<QByteArray> read = ReadWithXclip({"-t", "audio/wav"}, Path("copied.wav"));
    ASSERT_TRUE(read.has_value());
    SourceRef copied = OpenWavReader(Path("copied.wav").toStdString());
    ASSERT_EQ(copied->status, kStatusOk);
    ASSERT_EQ(copied->Length(), 4000);
    std::vector<std::int32_t> samples(4000);
    copied->Read(samples.data(), 4000);
    EXPECT_EQ(samples, std::vector<std::int32_t>(original.begin() + 1000, original.begin() + 5000));

    // Another program offers a WAV; the system-clipboard paste puts it at the cursor.
    const Bytes wav = Wav(3000, 5);
    ASSERT_TRUE(WriteFile(Path("offer.wav"), wav));
    QProcess xclip;
    xclip.setStandardInputFile(QProcess::nullDevice());
    xclip.setStandardOutputFile(QProcess::nullDevice());
    xclip.start("xclip", {"-quiet", "-selection", "clipboard", "-t", "audio/wav", "-i", Path("offer.wav")});
    ASSERT_TRUE(xclip.waitForStarted(kTimeoutMs));
    QElapsedTimer clock;
    clock.start();
    while (QGuiApplication::clipboard()->ownsClipboard() && clock.elapsed() < kTimeoutMs) {
      QCoreApplication::processEvents();
      xclip.waitForFinished(10);
    }
    SetSelection(document, 0, 0, 0);
    const bool pasted = window.Dispatch(2025);
    xclip.kill();
    xclip.waitForFinished(2000);
    ASSERT_TRUE(pasted);
    EXPECT_EQ(SoundLength(document.sound), 22050 + 3000);
    EXPECT_EQ(document.state.selection_end, 3000);
    SourceRef offered = OpenWavReader(Path("offer.wav").toStdString());
    std::vector<std::int32_t> expected(3000);
    offered->Read(expected.data(), 3000);
    SourceRef now = OpenSoundReader(document.sound);
    std::vector<std::int32_t> head(3000);
    now->Read(head.data(), 3000);
    EXPECT_EQ(head, expected);
    document.state.modified = 0;  // closing asks nothing
  }
  qunsetenv("SONAVEL_DATA_DIR");
  SetWorkingFolder("");
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
