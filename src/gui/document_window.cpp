#include "gui/document_window.h"

#include <QCloseEvent>
#include <QPainter>

#include <algorithm>

#include "document/document_list.h"
#include "platform/file.h"
#include "store/block_table.h"

namespace sonavel {

PeakRuns ReadPeakRuns(const Sound& sound) {
  PeakRuns peaks;
  peaks.channels = std::max<int>(sound.channels, 1);
  const std::size_t record = 2 * static_cast<std::size_t>(peaks.channels);
  for (const Segment* g = sound.head; g != nullptr; g = g->next) {
    const std::size_t runs = (static_cast<std::size_t>(std::max(g->length, 0)) + 255) / 256;
    std::vector<std::uint8_t> piece(runs * record, 0);
    if (g->block != kNoBlock && runs > 0) {
      File file(BlockPeakPath(g->block), File::Mode::kRead);
      file.Seek(static_cast<std::int64_t>(g->offset / 256) * static_cast<std::int64_t>(record));
      file.Read(piece.data(), piece.size());
      const int factor = g->gain >> 15;
      if (factor != 512)
        for (std::uint8_t& value : piece) value = static_cast<std::uint8_t>(std::min(255, value * factor / 512));
    }
    peaks.runs.insert(peaks.runs.end(), piece.begin(), piece.end());
  }
  return peaks;
}

void PeakView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(16, 24, 32));
  const int channels = peaks_.channels;
  const std::size_t count = peaks_.count();
  const int lane = height() / channels;
  for (int c = 0; c < channels; ++c) {
    const int middle = lane * c + lane / 2;
    painter.setPen(QColor(60, 80, 100));
    painter.drawLine(0, middle, width(), middle);
    if (count == 0) continue;
    painter.setPen(QColor(90, 220, 120));
    for (int x = 0; x < width(); ++x) {
      const std::size_t first = count * static_cast<std::size_t>(x) / static_cast<std::size_t>(width());
      const std::size_t last = std::max(first + 1, count * static_cast<std::size_t>(x + 1) / static_cast<std::size_t>(width()));
      int up = 0;
      int down = 0;
      for (std::size_t run = first; run < last && run < count; ++run) {
        const std::size_t at = (run * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)) * 2;
        up = std::max<int>(up, peaks_.runs[at]);
        down = std::max<int>(down, peaks_.runs[at + 1]);
      }
      painter.drawLine(x, middle - up * (lane / 2) / 255, x, middle + down * (lane / 2) / 255);
    }
  }
}

DocumentWindow::DocumentWindow(DocumentRef document, Ui& ui, std::function<bool(AudioDocument&)> save,
                               QWidget* parent)
    : QMdiSubWindow(parent), document_(std::move(document)), ui_(ui), save_(std::move(save)), view_(new PeakView(this)) {
  setObjectName("LSVWaveWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  setWidget(view_);
  resize(560, 260);
  document_->AddObserver(this);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { emit contextMenuWanted(view_->mapToGlobal(at)); });
  Refresh();
}

DocumentWindow::~DocumentWindow() { document_->RemoveObserver(this); }

void DocumentWindow::Refresh() {
  setWindowTitle(QString::fromStdString(DisplayTitle(*document_)) + "[*]");
  setWindowModified(document_->state.modified != 0);
  view_->SetPeaks(ReadPeakRuns(document_->sound));
}

void DocumentWindow::DocumentChanged(AudioDocument&, unsigned changes) {
  if ((changes & (kUndoChanged | kModifiedChanged | kSoundChanged | kSelectionChanged | kCursorChanged)) != 0)
    emit changed();
  if ((changes & (kSoundChanged | kTitleChanged)) != 0) {
    Refresh();
  } else if ((changes & kModifiedChanged) != 0) {
    setWindowModified(document_->state.modified != 0);
  }
}

void DocumentWindow::closeEvent(QCloseEvent* event) {
  if (!ConfirmClose(*document_, ui_, save_)) {
    event->ignore();
    return;
  }
  emit closed(this);
  QMdiSubWindow::closeEvent(event);
}

}  // namespace sonavel
