#pragma once
// A document's window in the main frame: the sound drawn from its peak files, the title
// with a modified mark, and the question about unsaved changes when it closes.

#include <QMdiSubWindow>
#include <QWidget>

#include <functional>
#include <vector>

#include "document/audio_document.h"

namespace sonavel {

class Ui;

// Per channel and per run of 256 frames: the positive and negative peak (0 … 255).
struct PeakRuns {
  int channels = 1;
  std::vector<std::uint8_t> runs;  // runs × channels × 2 bytes
  std::size_t count() const { return runs.size() / (2 * static_cast<std::size_t>(channels)); }
};

// The peaks of a whole sound, read from its blocks' peak files with each segment's gain.
PeakRuns ReadPeakRuns(const Sound& sound);

class PeakView final : public QWidget {
 public:
  explicit PeakView(QWidget* parent = nullptr) : QWidget(parent) { setMinimumSize(200, 80); }
  void SetPeaks(PeakRuns peaks) {
    peaks_ = std::move(peaks);
    update();
  }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PeakRuns peaks_;
};

class DocumentWindow final : public QMdiSubWindow, public DocumentObserver {
  Q_OBJECT

 public:
  // `save` saves the document (Save As when it is untitled); true when it was saved.
  DocumentWindow(DocumentRef document, Ui& ui, std::function<bool(AudioDocument&)> save,
                 QWidget* parent = nullptr);
  ~DocumentWindow() override;

  AudioDocument& document() { return *document_; }
  const DocumentRef& reference() const { return document_; }
  void DocumentChanged(AudioDocument& document, unsigned changes) override;
  // The title, peaks and view, after the sound or path changed.
  void Refresh();

 signals:
  void closed(DocumentWindow* window);
  // The document changed in a way the frame's commands may show (undo texts, modified).
  void changed();
  // A right click on the sound: the frame shows the document context menu there.
  void contextMenuWanted(const QPoint& global_position);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  DocumentRef document_;
  Ui& ui_;
  std::function<bool(AudioDocument&)> save_;
  PeakView* view_;
};

}  // namespace sonavel
