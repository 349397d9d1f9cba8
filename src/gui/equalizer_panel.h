#pragma once
// The equaliser dialog's widgets: the curve editor on the equaliser's frequency axis, the
// reset, snap, preset and settings controls beside it, and the presets' modeless settings
// windows. The logic behind them is an EqualizerControls.

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <cstddef>
#include <map>
#include <optional>
#include <string>

#include "platform/dialog_model.h"

class QComboBox;
class QLineEdit;
class QSlider;

namespace sonavel {

// Object names: the curve "101", the buttons "102" (reset), "104" (snap), "106" (settings),
// the drop-down "105"; the settings window "EqualizerPresetWindow" with its edits and
// sliders by id.
class EqualizerCurve : public QWidget {
  Q_OBJECT

 public:
  explicit EqualizerCurve(QWidget* parent = nullptr);

  const EqualizerControls::Points& points() const { return points_; }
  void SetPoints(EqualizerControls::Points points);

  QPointF ToWidget(int x, int y) const;
  std::pair<int, int> FromWidget(QPointF at) const;
  std::optional<std::size_t> PointAt(QPointF at) const;

  QSize sizeHint() const override { return {560, 280}; }
  QSize minimumSizeHint() const override { return {360, 200}; }

 signals:
  // A drag ended or a point was added or removed: the curve to store.
  void CurveEdited();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QRectF PlotArea() const;
  // The tooltip of the point pointed at or dragged.
  void ShowTip(std::optional<std::size_t> index, QPoint global);

  EqualizerControls::Points points_;
  std::optional<std::size_t> dragged_;
};

// A preset's settings window: every change is handed to the controls at once.
class EqualizerPresetWindow : public QDialog {
  Q_OBJECT

 public:
  EqualizerPresetWindow(EqualizerControls& controls, QWidget* parent);
  ~EqualizerPresetWindow() override;

 signals:
  void CurveChanged();

 protected:
  void moveEvent(QMoveEvent* event) override;

 private:
  void Load();
  void Apply(const std::map<std::string, std::string>& values);

  EqualizerControls& controls_;
  EqualizerWindow window_;
  std::vector<QLineEdit*> edits_;
  std::vector<QSlider*> sliders_;
  bool loading_ = false;
};

class EqualizerPanel : public QWidget {
  Q_OBJECT

 public:
  EqualizerPanel(EqualizerControls& controls, QWidget* parent = nullptr);

  QComboBox* presets() const { return presets_; }
  EqualizerCurve* curve() const { return curve_; }
  EqualizerPresetWindow* window() const { return window_; }
  // Opens the chosen preset's settings window, or says why it cannot.
  void OpenSettings();

 signals:
  void CurveChanged();

 private:
  void Refresh();
  void ChoosePreset(int index);

  EqualizerControls& controls_;
  EqualizerCurve* curve_;
  QComboBox* presets_;
  QPointer<EqualizerPresetWindow> window_;
};

}  // namespace sonavel
