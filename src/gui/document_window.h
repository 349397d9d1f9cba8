#pragma once
// A document's window in the main frame: the overview strip of the whole sound, the main
// waveform view of the visible range, the position scroll bar and the eight zoom and mode
// buttons; the title with a modified mark, and the question about unsaved changes when it
// closes.

#include <QMdiSubWindow>

#include <functional>

#include "document/audio_document.h"
#include "views/wave_mouse.h"

class QButtonGroup;
class QScrollBar;
class QTimer;
class QToolButton;

namespace sonavel {

class Ui;
class WaveView;

class DocumentWindow final : public QMdiSubWindow, public DocumentObserver {
  Q_OBJECT

 public:
  // `save` saves the document (Save As when it is untitled); true when it was saved.
  DocumentWindow(DocumentRef document, Ui& ui, std::function<bool(AudioDocument&)> save,
                 QWidget* parent = nullptr);
  ~DocumentWindow() override;

  AudioDocument& document() { return *document_; }
  const DocumentRef& reference() const { return document_; }
  WaveView* overview() const { return overview_; }
  WaveView* main_view() const { return main_; }
  QScrollBar* position_bar() const { return position_; }
  void DocumentChanged(AudioDocument& document, unsigned changes) override;

  // Attaches both views to the sound again (after an edit, a mode or a zoom change).
  void Reattach();
  // Display mode 0, 1 or 2 and vertical zoom, as the buttons and the frame's commands set.
  void SetDisplayMode(int mode);
  void ToggleVerticalZoom();
  // While scrubbing the cursor marker covers the looped snippet (25 ms); else it is a line.
  void SetScrubbing(bool scrubbing);
  // Closes without the question about unsaved changes (the user was asked for all of them).
  void Discard();

 signals:
  void closed(DocumentWindow* window);
  // The document changed in a way the frame shows (undo texts, modified, times).
  void changed();
  // A bookmark of the document came, went, was renamed, moved or jumped to.
  void bookmarksChanged();
  // A right click on the sound: the frame shows the document context menu there.
  void contextMenuWanted(const QPoint& global_position);
  // A click or drag in a view ended and the document took its selection and cursor.
  void released();
  // The mouse, held, reached (4 right, 6 left) or left (5, 7) an edge of a view.
  void edgeTracking(int code);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Layout();
  void Notice(WaveView* view, const WaveNotice& notice);
  void ShowMarkers();
  void ShowRange();
  // The position scroll bar: its thumb for the cursor, as long as the visible part.
  void ShowPosition();
  void RefreshTitle();
  void Scroll(int action);

  DocumentRef document_;
  Ui& ui_;
  bool scrubbing_ = false;
  bool ask_before_close_ = true;
  // A bookmark is being dragged: the list is sorted again when the mouse lets go.
  bool bookmark_moved_ = false;
  std::function<bool(AudioDocument&)> save_;
  QWidget* body_;
  WaveView* overview_;
  WaveView* main_;
  QScrollBar* position_;
  QToolButton* buttons_[8] = {};
  QButtonGroup* modes_;
  QTimer* selection_timer_;
};

}  // namespace sonavel
