#include "gui/frame_spectrum.h"

#include <QMdiArea>

#include "gui/frequency_window.h"
#include "gui/main_window.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "views/spectrum_analysis.h"

namespace sonavel {

FrameSpectrum::FrameSpectrum(MainWindow& frame) : frame_(frame) {}

bool FrameSpectrum::ShowSpectrum(bool create) {
  const AudioDocument* document = frame_.ActiveDocument();
  if (document == nullptr) return false;
  if (window_ == nullptr && !create) return false;
  const std::optional<SpectrumData> data = ComputeSpectrum(document->sound, document->state.cursor);
  if (window_ != nullptr) {
    if (data) window_->SetData(*data);
    if (create) frame_.documents()->setActiveSubWindow(window_);
    return true;
  }
  auto* window = new FrequencyWindow(frame_.documents());
  window_ = window;
  // The frame forgets the window as soon as it closes.
  QObject::connect(window, &FrequencyWindow::closed, window, [this](FrequencyWindow* closing) {
    if (window_ == closing) window_ = nullptr;
  });
  if (data) window->SetData(*data);
  frame_.documents()->addSubWindow(window);
  window->show();
  if (frame_.settings().Read(setting::kAutoArrangeWindows)) frame_.documents()->tileSubWindows();
  frame_.documents()->setActiveSubWindow(window);
  return true;
}

FrequencyWindow* FrameSpectrum::window() const { return window_; }

void FrameSpectrum::Follow() {
  if (window_ != nullptr) ShowSpectrum(false);
}

}  // namespace sonavel
