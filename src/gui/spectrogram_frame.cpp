#include "gui/spectrogram_frame.h"

#include <QMdiArea>

#include <algorithm>

#include "document/edit_commands.h"
#include "gui/main_window.h"
#include "gui/spectrogram_window.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "views/spectrum_analysis.h"

namespace sonavel {

namespace {

// Whether `document` is still open in the frame.
bool IsOpen(MainWindow& frame, const AudioDocument& document) {
  for (const DocumentRef& open : frame.document_list().documents())
    if (open.get() == &document) return true;
  return false;
}

}  // namespace

SpectrogramFrame::~SpectrogramFrame() = default;

SpectrogramWindow* SpectrogramFrame::window() const { return window_; }

bool SpectrogramFrame::ShowSpectrogram() {
  AudioDocument* document = frame_.ActiveDocument();
  if (document == nullptr) return false;
  // The range analysed: the selection, or the whole sound when nothing is selected.
  const std::int32_t length = SoundLength(document->sound);
  const bool selected = document->state.selection_start < document->state.selection_end;
  const std::int32_t start = selected ? document->state.selection_start : 0;
  const std::int32_t frames = selected ? document->state.selection_end - start : length;
  if (frames <= 0) return false;  // an empty sound has nothing to analyse
  const std::int32_t rate = document->sound.rate;
  // Asked before anything changes, so that declining leaves selection and playback alone.
  if (frames > std::int64_t{10} * rate) {
    const MessageAnswer answer = frame_.ui().ShowMessage(
        {kLongSpectrogramQuestion, "Sonavel", MessageIcon::kQuestion, MessageButtons::kYesNoCancel});
    if (answer != MessageAnswer::kYes) return false;
  }
  if (!selected) frame_.Dispatch(command_id::kSelectAll);
  frame_.transport().Stop();

  std::optional<SpectrogramData> data;
  {
    std::unique_ptr<Progress> progress = frame_.ui().OpenProgress(kSpectrogramProgressTitle);
    data = ComputeSpectrogram(document->sound, start, frames, *progress);
  }
  if (!data) {
    // Cancelled: the window goes, as the analysis it would show was abandoned.
    if (window_) window_->close();
    return false;
  }
  DocumentRef reference(document);
  if (window_) {
    window_->SetData(reference, std::move(*data));
    if (window_->isMinimized()) window_->showNormal();
  } else {
    window_ = new SpectrogramWindow(reference, std::move(*data), frame_.settings(), frame_.documents());
    QObject::connect(window_, &SpectrogramWindow::selectRange, window_,
                     [this](std::int32_t first, std::int32_t end) {
                       AudioDocument& analysed = window_->document();
                       if (!IsOpen(frame_, analysed)) return;
                       // An edit since the analysis may have shortened the sound.
                       const std::int32_t length = SoundLength(analysed.sound);
                       end = std::min(end, length);
                       first = std::min(first, end);
                       SetSelection(analysed, first, end, first);
                     });
    QObject::connect(window_, &SpectrogramWindow::cursorClicked, window_, [this] {
      AudioDocument& analysed = window_->document();
      if (IsOpen(frame_, analysed)) frame_.transport().ApplyCursor(analysed);
    });
    // Forgotten as soon as it closes, before Qt deletes it.
    QObject::connect(window_, &SpectrogramWindow::closed, window_, [this] { window_ = nullptr; });
    frame_.documents()->addSubWindow(window_);
    window_->show();
  }
  frame_.documents()->setActiveSubWindow(window_);
  if (frame_.settings().Read(setting::kAutoArrangeWindows)) frame_.documents()->tileSubWindows();
  return true;
}

}  // namespace sonavel
