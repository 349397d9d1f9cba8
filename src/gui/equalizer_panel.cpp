#include "gui/equalizer_panel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "effects/equalizer.h"
#include "effects/equalizer_dialog.h"
#include "gui/envelope_editor.h"
#include "gui/point_plot.h"

namespace sonavel {
namespace {

// The frequencies labelled along the axis.
constexpr int kLabelledHz[] = {100, 500, 1000, 2000, 5000, 10000, 20000};

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString HzLabel(int hz) { return hz >= 1000 ? QString("%1k").arg(hz / 1000) : QString::number(hz); }

}  // namespace

EqualizerCurve::EqualizerCurve(QWidget* parent) : QWidget(parent) {
  setObjectName("101");
  setMouseTracking(true);
}

void EqualizerCurve::SetPoints(EqualizerControls::Points points) {
  points_ = std::move(points);
  dragged_.reset();
  update();
}

QRectF EqualizerCurve::PlotArea() const {
  const QFontMetrics metrics = fontMetrics();
  const double left = metrics.horizontalAdvance("200 %") + 14;
  const double top = metrics.height() / 2.0 + 6;
  const double bottom = metrics.height() + 12;
  return QRectF(left, top, std::max(10.0, width() - left - 16), std::max(10.0, height() - top - bottom));
}

QPointF EqualizerCurve::ToWidget(int x, int y) const { return PlotPosition(PlotArea(), x, y); }

std::pair<int, int> EqualizerCurve::FromWidget(QPointF at) const { return PlotValue(PlotArea(), at); }

std::optional<std::size_t> EqualizerCurve::PointAt(QPointF at) const { return PlotPointAt(PlotArea(), points_, at); }

void EqualizerCurve::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), palette().window());
  const QRectF area = PlotArea();
  painter.fillRect(area, QColor(252, 252, 248));
  const QFontMetrics metrics = fontMetrics();

  // Frequencies across at their places on the axis, levels of 0, 50, 100, 150 and 200 % up.
  for (const int hz : kLabelledHz) {
    const QPointF at = ToWidget(EqualizerX(hz), 0);
    painter.setPen(QPen(QColor(222, 222, 216), 1));
    painter.drawLine(QPointF(at.x(), area.top()), QPointF(at.x(), area.bottom()));
    painter.setPen(palette().color(QPalette::WindowText));
    const QString label = HzLabel(hz);
    const double left = std::min(at.x() - metrics.horizontalAdvance(label) / 2.0, width() - 2.0 - metrics.horizontalAdvance(label));
    painter.drawText(QPointF(left, area.bottom() + metrics.ascent() + 4), label);
  }
  for (int percent = 0; percent <= 200; percent += 50) {
    const QPointF at = ToWidget(0, percent * 255 / 200);
    painter.setPen(QPen(percent == 100 ? QColor(214, 120, 30) : QColor(222, 222, 216), 1,
                        percent == 100 ? Qt::DashLine : Qt::SolidLine));
    painter.drawLine(QPointF(area.left(), at.y()), QPointF(area.right(), at.y()));
    painter.setPen(palette().color(QPalette::WindowText));
    const QString label = QString("%1 %").arg(percent);
    painter.drawText(QPointF(area.left() - 6 - metrics.horizontalAdvance(label), at.y() + metrics.ascent() / 2.0 - 1),
                     label);
  }

  // The curve as the response table ramps it: flat before the first and after the last point.
  if (!points_.empty()) {
    QPainterPath curve;
    curve.moveTo(ToWidget(0, points_.front().second));
    for (const auto& [x, y] : points_) curve.lineTo(ToWidget(x, y));
    curve.lineTo(ToWidget(255, points_.back().second));
    QPainterPath fill = curve;
    fill.lineTo(ToWidget(255, 0));
    fill.lineTo(ToWidget(0, 0));
    fill.closeSubpath();
    painter.fillPath(fill, QColor(70, 120, 200, 50));
    painter.setPen(QPen(QColor(30, 70, 160), 2));
    painter.drawPath(curve);
  }
  for (std::size_t i = 0; i < points_.size(); ++i) {
    const QPointF at = ToWidget(points_[i].first, points_[i].second);
    painter.setPen(QPen(QColor(30, 70, 160), 1.5));
    painter.setBrush(dragged_ && *dragged_ == i ? QColor(240, 170, 40) : QColor(255, 255, 255));
    painter.drawRect(QRectF(at.x() - 4, at.y() - 4, 8, 8));
  }
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(150, 150, 144), 1));
  painter.drawRect(area);
}

void EqualizerCurve::ShowTip(std::optional<std::size_t> index, QPoint global) {
  const QString tip = index ? Q(EqualizerPointTip(points_[*index].first, points_[*index].second)) : QString();
  setToolTip(tip);
  if (tip.isEmpty())
    QToolTip::hideText();
  else
    QToolTip::showText(global, tip, this);
}

void EqualizerCurve::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  dragged_ = PointAt(event->position());
  if (!dragged_) {
    // A click beside the points adds one there (at most 64).
    const auto [x, y] = FromWidget(event->position());
    dragged_ = AddEnvelopePoint(points_, x, y);
  }
  ShowTip(dragged_, event->globalPosition().toPoint());
  update();
}

void EqualizerCurve::mouseMoveEvent(QMouseEvent* event) {
  if (!dragged_) {
    ShowTip(PointAt(event->position()), event->globalPosition().toPoint());
    return;
  }
  // A point moves between its neighbours' frequencies; the level anywhere from 0 to 200 %.
  const auto [x, y] = FromWidget(event->position());
  const std::size_t i = *dragged_;
  const int lowest = i > 0 ? points_[i - 1].first : 0;
  const int highest = i + 1 < points_.size() ? points_[i + 1].first : 255;
  points_[i] = {static_cast<std::uint8_t>(std::clamp(x, lowest, highest)), static_cast<std::uint8_t>(y)};
  ShowTip(dragged_, event->globalPosition().toPoint());
  update();
}

void EqualizerCurve::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragged_) return;
  dragged_.reset();
  update();
  emit CurveEdited();
}

void EqualizerCurve::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const std::optional<std::size_t> hit = PointAt(event->position());
  if (hit && RemoveEnvelopePoint(points_, *hit)) {
    dragged_.reset();
    update();
    emit CurveEdited();
  }
}

EqualizerPresetWindow::EqualizerPresetWindow(EqualizerControls& controls, QWidget* parent)
    : QDialog(parent), controls_(controls), window_(controls.Window()) {
  setObjectName("EqualizerPresetWindow");
  setModal(false);
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(Q(window_.title));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  for (std::size_t i = 0; i < window_.values.size(); ++i) {
    const EqualizerWindowValue& value = window_.values[i];
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::number(value.edit_id));
    edit->setMaximumWidth(80);
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(QString::number(value.slider_id));
    slider->setRange(0, value.highest);
    slider->setSingleStep(value.step);
    slider->setPageStep(value.step * 10);
    slider->setMinimumWidth(220);
    edit->setEnabled(value.enabled);
    slider->setEnabled(value.enabled);
    grid->addWidget(new QLabel(Q(value.label)), static_cast<int>(i), 0);
    grid->addWidget(edit, static_cast<int>(i), 1);
    grid->addWidget(slider, static_cast<int>(i), 2);
    const std::string name = value.name;
    const int step = value.step;
    connect(edit, &QLineEdit::editingFinished, this, [this, edit, name] {
      if (!loading_) Apply({{name, edit->text().toStdString()}});
    });
    connect(slider, &QSlider::valueChanged, this, [this, slider, name, step](int slid) {
      if (loading_) return;
      // The slider moves in its steps.
      const int stepped = (slid + step / 2) / step * step;
      if (stepped != slid) {
        slider->setValue(stepped);
        return;
      }
      Apply({{name, std::to_string(stepped)}});
    });
    edits_.push_back(edit);
    sliders_.push_back(slider);
  }
  layout->addLayout(grid);
  auto* buttons = new QHBoxLayout;
  auto* reset = new QPushButton("Zurücksetzen");
  reset->setObjectName(QString::number(window_.reset_id));
  auto* apply = new QPushButton("Übernehmen");
  apply->setObjectName(QString::number(window_.apply_id));
  buttons->addStretch(1);
  buttons->addWidget(reset);
  buttons->addWidget(apply);
  layout->addLayout(buttons);
  connect(reset, &QPushButton::clicked, this, [this] {
    controls_.ResetWindow();
    Load();
    emit CurveChanged();
  });
  connect(apply, &QPushButton::clicked, this, [this] {
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < edits_.size(); ++i) values[window_.values[i].name] = edits_[i]->text().toStdString();
    Apply(values);
  });
  Load();
  const auto [x, y] = controls_.WindowPosition();
  move(x, y);
}

// The edits lose their focus while the window goes away: nothing more to apply then.
EqualizerPresetWindow::~EqualizerPresetWindow() {
  for (QLineEdit* edit : edits_) disconnect(edit, nullptr, this, nullptr);
}

void EqualizerPresetWindow::Load() {
  loading_ = true;
  window_ = controls_.Window();
  for (std::size_t i = 0; i < window_.values.size(); ++i) {
    edits_[i]->setText(QString::number(window_.values[i].value));
    sliders_[i]->setValue(window_.values[i].value);
  }
  loading_ = false;
}

void EqualizerPresetWindow::Apply(const std::map<std::string, std::string>& values) {
  if (const std::string refused = controls_.ApplyWindowValues(values); !refused.empty()) {
    QMessageBox box(QMessageBox::Information, "Ungültiger Wert", Q(refused), QMessageBox::Ok, this);
    box.exec();
  }
  Load();
  emit CurveChanged();
}

void EqualizerPresetWindow::moveEvent(QMoveEvent* event) {
  QDialog::moveEvent(event);
  if (isVisible()) controls_.SetWindowPosition(x(), y());
}

EqualizerPanel::EqualizerPanel(EqualizerControls& controls, QWidget* parent)
    : QWidget(parent), controls_(controls), curve_(new EqualizerCurve), presets_(new QComboBox) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(curve_, 1);
  auto* row = new QHBoxLayout;
  presets_->setObjectName("105");
  for (const char* name : kEqualizerPresetNames) presets_->addItem(QString::fromUtf8(name));
  presets_->setCurrentIndex(controls_.preset());
  auto* settings = new QPushButton("Einstellungen");
  settings->setObjectName("106");
  auto* snap = new QPushButton("Einrasten");
  snap->setObjectName("104");
  auto* reset = new QPushButton("Zurücksetzen");
  reset->setObjectName("102");
  row->addWidget(presets_, 1);
  row->addWidget(settings);
  row->addStretch(1);
  row->addWidget(snap);
  row->addWidget(reset);
  layout->addLayout(row);

  connect(curve_, &EqualizerCurve::CurveEdited, this, [this] {
    controls_.SetPoints(curve_->points());
    Refresh();
  });
  connect(reset, &QPushButton::clicked, this, [this] {
    controls_.Reset();
    Refresh();
  });
  connect(snap, &QPushButton::clicked, this, [this] {
    controls_.Snap();
    Refresh();
  });
  connect(settings, &QPushButton::clicked, this, &EqualizerPanel::OpenSettings);
  connect(presets_, &QComboBox::currentIndexChanged, this, &EqualizerPanel::ChoosePreset);
  curve_->SetPoints(controls_.points());
}

void EqualizerPanel::Refresh() {
  curve_->SetPoints(controls_.points());
  emit CurveChanged();
}

void EqualizerPanel::ChoosePreset(int index) {
  controls_.ChoosePreset(index);
  if (window_ != nullptr) window_->close();
  Refresh();
  if (index > 0) OpenSettings();
}

void EqualizerPanel::OpenSettings() {
  if (const std::optional<Message> refused = controls_.SettingsRefusal()) {
    QMessageBox box(QMessageBox::Critical, Q(refused->caption), Q(refused->text), QMessageBox::Ok, this);
    box.exec();
    return;
  }
  if (window_ != nullptr) window_->close();
  window_ = new EqualizerPresetWindow(controls_, this);
  connect(window_, &EqualizerPresetWindow::CurveChanged, this, &EqualizerPanel::Refresh);
  window_->show();
}

}  // namespace sonavel
