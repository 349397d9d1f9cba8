#include "effects/equalizer_dialog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/settings.h"

namespace sonavel {
namespace {

constexpr int kHighestHz = 20000;
constexpr int kHighestPercent = 200;
constexpr int kHzStep = 50;
constexpr int kPercentStep = 5;
const IntSetting kWindowX{"Settings", "EQWindowX", 100};
const IntSetting kWindowY{"Settings", "EQWindowY", 100};

// The value a window field shows and whether it is a level (percent) or a frequency.
EqualizerWindowValue Field(const char* name, const char* label, int edit_id, int value, bool percent) {
  EqualizerWindowValue field;
  field.name = name;
  field.label = label;
  field.edit_id = edit_id;
  field.slider_id = edit_id + 1;
  field.highest = percent ? kHighestPercent : kHighestHz;
  // A stored level beyond the slider (Notch and Boost/Cut keep 1000 until first set) shows
  // as the slider's top: the curve builder limits it below that anyway.
  field.value = std::clamp(value, 0, field.highest);
  field.step = percent ? kPercentStep : kHzStep;
  return field;
}

}  // namespace

std::string EqualizerPointTip(int x, int y) {
  const int percent = std::clamp(y * 200 / 255, 0, 255);
  // No finite level at 0: shown as minus infinity rather than an undefined rounding.
  const std::string decibels =
      y <= 0 ? std::string("-∞dB")
             : DecibelControlText(static_cast<int>(std::lround(20.0 * std::log10(2.0 * y / 255.0))));
  char text[96];
  std::snprintf(text, sizeof text, "%dHz, %d%% (%s)", EqualizerFrequency(x), percent, decibels.c_str());
  return text;
}

EnvelopePoints SnapEqualizerPoints(EnvelopePoints points) {
  for (std::size_t i = 0; i + 1 < points.size(); ++i)
    points[i].first = static_cast<std::uint8_t>(std::clamp(EqualizerX(EqualizerFrequency(points[i].first)), 0, 255));
  if (!points.empty()) points.back().first = 255;
  return points;
}

EqualizerEditor::EqualizerEditor(Settings& settings, int preset)
    : settings_(settings),
      preset_(static_cast<EqualizerPreset>(std::clamp(preset, 0, kEqualizerPresets - 1))),
      points_(LoadEqualizerPoints()) {}

void EqualizerEditor::Store(const EnvelopePoints& points) {
  SaveEqualizerPoints(points);
  points_ = LoadEqualizerPoints();
}

void EqualizerEditor::SetPoints(Points points) { Store(points); }

// An empty list reloads as the flat default.
void EqualizerEditor::Reset() { Store({}); }

void EqualizerEditor::Snap() { Store(SnapEqualizerPoints(points_)); }

void EqualizerEditor::Rebuild() {
  if (preset_ != EqualizerPreset::kNone) Store(PresetCurve(preset_, settings_));
}

void EqualizerEditor::ChoosePreset(int index) {
  preset_ = static_cast<EqualizerPreset>(std::clamp(index, 0, kEqualizerPresets - 1));
  Rebuild();
}

bool EqualizerEditor::Band() const { return preset_ != EqualizerPreset::kHighPass && preset_ != EqualizerPreset::kLowPass; }

std::optional<Message> EqualizerEditor::SettingsRefusal() const {
  if (preset_ != EqualizerPreset::kNone) return std::nullopt;
  return Message{"Bitte wählen Sie eine Voreinstellung, bevor Sie das Einstellungsfenster öffnen.", "Sonavel",
                 MessageIcon::kError, MessageButtons::kOk};
}

EqualizerWindow EqualizerEditor::Window() const {
  EqualizerWindow window;
  window.title = std::string(kEqualizerPresetNames[static_cast<int>(preset_)]) + " Einstellungen";
  if (Band()) {
    const BandValues v = ReadBandValues(preset_, settings_);
    const bool notch = preset_ == EqualizerPreset::kNotch;
    window.values = {Field("StartFreq", "Startfrequenz (Hz)", 101, v.start, false),
                     Field("EndFreq", "Endfrequenz (Hz)", 103, v.end, false),
                     Field("Slope", "Flanke (Hz)", 105, notch ? 0 : v.slope, false),
                     Field("Amp", "Pegel (%)", 107, v.amp, true)};
    window.values[2].enabled = !notch;
    window.reset_id = 113;
    window.apply_id = 114;
  } else {
    const PassValues v = ReadPassValues(preset_, settings_);
    window.values = {Field("Freq", "Frequenz (Hz)", 101, v.freq, false),
                     Field("Slope", "Flanke (Hz)", 103, v.slope, false),
                     Field("Amp", "Pegel (%)", 107, v.amp, true)};
    window.reset_id = 111;
    window.apply_id = 112;
  }
  return window;
}

std::string EqualizerEditor::ApplyWindowValues(const std::map<std::string, std::string>& values) {
  if (preset_ == EqualizerPreset::kNone) return {};
  EqualizerWindow window = Window();
  // Every value is checked before any is stored.
  for (EqualizerWindowValue& field : window.values) {
    const auto found = values.find(field.name);
    if (found == values.end() || !field.enabled) continue;
    const std::optional<std::int64_t> number = ParseWholeNumber(found->second);
    if (!number || *number < 0 || *number > field.highest)
      return "Bitte geben Sie für \"" + field.label + "\" eine ganze Zahl von 0 bis " + std::to_string(field.highest) +
             " ein.";
    field.value = static_cast<int>(*number);
  }
  auto value = [&window](const char* name) {
    for (const EqualizerWindowValue& field : window.values)
      if (field.name == name) return field.value;
    return 0;
  };
  if (Band()) {
    WriteBandValues(preset_, {value("StartFreq"), value("EndFreq"), value("Slope"), value("Amp")}, settings_);
  } else {
    WritePassValues(preset_, {value("Freq"), value("Slope"), value("Amp")}, settings_);
  }
  Rebuild();
  return {};
}

void EqualizerEditor::ResetWindow() {
  if (preset_ == EqualizerPreset::kNone) return;
  if (!Band())
    WritePassValues(preset_, {4000, 1000, 50}, settings_);
  else if (preset_ == EqualizerPreset::kNotch)
    WriteBandValues(preset_, {9750, 10250, 0, 150}, settings_);
  else
    WriteBandValues(preset_, {8000, 12000, 1000, 50}, settings_);
  Rebuild();
}

std::pair<int, int> EqualizerEditor::WindowPosition() const {
  return {settings_.Read(kWindowX), settings_.Read(kWindowY)};
}

void EqualizerEditor::SetWindowPosition(int x, int y) {
  settings_.Write(kWindowX, x);
  settings_.Write(kWindowY, y);
}

}  // namespace sonavel
