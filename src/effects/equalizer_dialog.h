#pragma once
// The equaliser dialog's logic below the widgets: the point tooltip, the reset and snap
// buttons, the preset drop-down and the presets' settings windows, all on the stored curve
// ("equalizer.dat") and the stored preset values.

#include <memory>
#include <string>

#include "effects/equalizer.h"
#include "platform/dialog_model.h"

namespace sonavel {

class Settings;

// A point's tooltip: "%dHz, %d%% (%s)" with f(x), y × 200 / 255 and the decibel text of
// 20 × log10(2y / 255) rounded half away from zero ("+6dB", "0dB", "-12dB"; "-∞dB" at 0).
std::string EqualizerPointTip(int x, int y);

// The snap button's curve: every point but the last on x = X(f(x)), the last at 255.
EnvelopePoints SnapEqualizerPoints(EnvelopePoints points);

class EqualizerEditor final : public EqualizerControls {
 public:
  // Loads the stored curve; `preset` is the drop-down's stored index.
  EqualizerEditor(Settings& settings, int preset);

  const Points& points() const override { return points_; }
  void SetPoints(Points points) override;
  void Reset() override;
  void Snap() override;
  int preset() const override { return static_cast<int>(preset_); }
  void ChoosePreset(int index) override;
  std::optional<Message> SettingsRefusal() const override;
  EqualizerWindow Window() const override;
  std::string ApplyWindowValues(const std::map<std::string, std::string>& values) override;
  void ResetWindow() override;
  std::pair<int, int> WindowPosition() const override;
  void SetWindowPosition(int x, int y) override;

 private:
  bool Band() const;
  // Stores `points` and takes them back as the file reader gives them.
  void Store(const EnvelopePoints& points);
  void Rebuild();

  Settings& settings_;
  EqualizerPreset preset_;
  EnvelopePoints points_;
};

}  // namespace sonavel
