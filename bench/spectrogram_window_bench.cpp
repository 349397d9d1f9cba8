// The time-frequency window's drawing on a 1600 × 900 graph: rendering the picture from
// ten seconds of 44.1 kHz stereo data (done only when the size, brightness, zoom or grid
// change), painting by copying it, and moving the playback cursor, which repaints two
// narrow strips. Each is timed on its own, both into an image and through the widget's
// own repaint (offscreen platform).

#include <QApplication>
#include <QImage>
#include <QMdiArea>
#include <QPainter>

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "document/audio_document.h"
#include "gui/spectrogram_window.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"

namespace sonavel::bench {
namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 900;

// Ten seconds of 44.1 kHz: 1720 columns of 1024 bins, filled with a pattern of varied levels.
SpectrogramData TenSeconds() {
  SpectrogramData data;
  data.rate = 44100;
  data.order = 11;
  data.size = 2048;
  data.bins = 1024;
  data.columns = 4 * (441000 / 1024);
  data.start = 0;
  data.length = 441000;
  data.magnitudes.resize(static_cast<std::size_t>(data.columns) * data.bins);
  std::uint32_t noise = 1;
  for (std::uint16_t& magnitude : data.magnitudes) {
    noise = noise * 1664525u + 1013904223u;
    magnitude = static_cast<std::uint16_t>((noise >> 16) % 4000);
  }
  return data;
}

struct Scene {
  Scene() {
    std::string pattern = JoinPath(TempFolder(), "sonavel-bench-XXXXXX");
    folder = ::mkdtemp(pattern.data());
    registry = std::make_unique<Registry>(JoinPath(folder, "user"), JoinPath(folder, "machine"));
    settings = std::make_unique<Settings>(*registry);
    area.resize(kWidth + 200, kHeight + 200);
    area.show();
    window = new SpectrogramWindow(DocumentRef(new AudioDocument(44100, 2, "Unbenannt 1")), TenSeconds(),
                                   *settings, &area);
    area.addSubWindow(window);
    window->show();
    window->resize(kWidth + 120, kHeight + 80);
    QApplication::processEvents();
    window->graph()->resize(kWidth, kHeight);
    window->graph()->EnsurePicture();
  }
  ~Scene() { std::filesystem::remove_all(folder); }

  std::string folder;
  std::unique_ptr<Registry> registry;
  std::unique_ptr<Settings> settings;
  QMdiArea area;
  SpectrogramWindow* window = nullptr;
};

Scene& TheScene() {
  static Scene* scene = new Scene;
  return *scene;
}

// The picture rendered again, as after a change of brightness.
void BM_PictureRebuild(benchmark::State& state) {
  SpectrogramGraph& graph = *TheScene().window->graph();
  for (auto _ : state) {
    graph.Invalidate();
    benchmark::DoNotOptimize(graph.EnsurePicture());
  }
}
BENCHMARK(BM_PictureRebuild)->Unit(benchmark::kMillisecond);

// A whole paint: the picture copied into an image of the graph's size.
void BM_PaintByCopy(benchmark::State& state) {
  SpectrogramGraph& graph = *TheScene().window->graph();
  QImage target(kWidth, kHeight, QImage::Format_RGB32);
  for (auto _ : state) {
    QPainter painter(&target);
    graph.Paint(painter, QRect(0, 0, kWidth, kHeight));
  }
}
BENCHMARK(BM_PaintByCopy)->Unit(benchmark::kMillisecond);

// The same through the widget: a synchronous repaint of the whole graph.
void BM_WidgetRepaint(benchmark::State& state) {
  SpectrogramGraph& graph = *TheScene().window->graph();
  for (auto _ : state) graph.repaint();
}
BENCHMARK(BM_WidgetRepaint)->Unit(benchmark::kMillisecond);

// The cursor moves by a pixel: the strips around its old and new x painted into an image.
void BM_CursorStrips(benchmark::State& state) {
  SpectrogramGraph& graph = *TheScene().window->graph();
  QImage target(kWidth, kHeight, QImage::Format_RGB32);
  int x = 0;
  for (auto _ : state) {
    const int next = (x + 1) % kWidth;
    QPainter painter(&target);
    graph.Paint(painter, graph.CursorStrip(x));
    graph.Paint(painter, graph.CursorStrip(next));
    x = next;
  }
}
BENCHMARK(BM_CursorStrips)->Unit(benchmark::kMicrosecond);

// The same through the widget: the cursor set, then the pending strips repainted.
void BM_WidgetCursorStrips(benchmark::State& state) {
  SpectrogramGraph& graph = *TheScene().window->graph();
  int x = 0;
  for (auto _ : state) {
    x = (x + 1) % kWidth;
    graph.SetCursorX(x);
    QApplication::processEvents();
  }
}
BENCHMARK(BM_WidgetCursorStrips)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace sonavel::bench

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
