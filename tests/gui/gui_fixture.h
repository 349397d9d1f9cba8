#pragma once
// What the window tests share: settings in a temporary registry, WAV files to open, and
// screenshots under build/screenshots.

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QDir>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/wav_writer.h"
#include "formats/wave_format.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "store/store_fixture.h"
#include "store/segment_reader.h"
#include "store/sound.h"

namespace sonavel::testing {

// Every sample of `sound`, channels interleaved.
inline std::vector<std::int32_t> AllSamples(const Sound& sound) {
  SourceRef reader = OpenSoundReader(sound);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(reader->Length()) * reader->channels);
  reader->Read(samples.data(), reader->Length());
  return samples;
}

// Looks for the modal dialog named `name` every 10 ms and runs `steps` on it once.
inline void RunStepsWhenUp(const QString& name, std::shared_ptr<std::function<void(QDialog&)>> steps,
                           std::shared_ptr<bool> ran) {
  auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
  if (dialog == nullptr || dialog->objectName() != name) {
    QTimer::singleShot(10, [name, steps, ran] { RunStepsWhenUp(name, steps, ran); });
    return;
  }
  QPointer<QDialog> guard(dialog);
  QTimer::singleShot(5000, [guard] {
    if (guard) guard->reject();
  });
  *ran = true;
  (*steps)(*dialog);
}

// Runs `steps` on the modal dialog with the object name `name` once it is up, from the
// event loop of whatever shows it; steps must end the dialog. One still open five seconds
// later is cancelled, so that a failing test cannot hang. The flag tells whether the steps
// ran.
inline std::shared_ptr<bool> WhenDialogUp(const QString& name, std::function<void(QDialog&)> steps) {
  auto ran = std::make_shared<bool>(false);
  auto shared_steps = std::make_shared<std::function<void(QDialog&)>>(std::move(steps));
  QTimer::singleShot(0, [name, shared_steps, ran] { RunStepsWhenUp(name, shared_steps, ran); });
  return ran;
}

// Settings of a temporary registry, so that the tests never read or write the user's.
struct TestSettings {
  // Opening a file does not start playback here, so that the cursor stays put; the tests
  // of playback switch it on.
  TestSettings() : registry(JoinPath(folder, "user"), JoinPath(folder, "machine")), settings(registry) {
    settings.WriteUserValue("Settings", "PlayWhenOpen", 0);
  }
  ~TestSettings() { std::filesystem::remove_all(folder); }
  std::string folder = [] {
    std::string pattern = JoinPath(TempFolder(), "sonavel-gui-XXXXXX");
    return std::string(::mkdtemp(pattern.data()));
  }();
  Registry registry;
  Settings settings;
};

inline void SaveScreenshot(QWidget& widget, const QString& name) {
  QDir().mkpath(SONAVEL_SCREENSHOT_DIR);
  ASSERT_TRUE(widget.grab().save(QString(SONAVEL_SCREENSHOT_DIR) + "/" + name + ".png"));
}

// Sends a mouse event with the left button held (QTest cannot drag with a button down).
inline void Mouse(QWidget* view, QEvent::Type type, int x, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                  int y = -1) {
  const QPointF at(x, y < 0 ? view->height() / 2 : y);
  QMouseEvent event(type, at, view->mapToGlobal(at), Qt::LeftButton,
                    type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, modifiers);
  QApplication::sendEvent(view, &event);
}

// A WAV file of a decaying tone, written by our own writer.
inline std::string WriteTone(const std::string& folder, const std::string& name, int channels, int frames) {
  const std::string path = JoinPath(folder, name);
  SinkRef writer = CreateWavWriter(PcmFormat(22050, static_cast<std::uint16_t>(channels), 16), path);
  std::vector<std::int32_t> samples;
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      samples.push_back(static_cast<std::int32_t>(std::sin(i * (0.01 + 0.004 * c)) * 400000.0 *
                                                  (1.0 - static_cast<double>(i) / frames)));
  writer->Write(samples.data(), frames);
  return path;
}

}  // namespace sonavel::testing
