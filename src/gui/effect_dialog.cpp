#include "gui/effect_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "effects/compressor.h"
#include "gui/compressor_curve.h"
#include "gui/envelope_editor.h"
#include "gui/equalizer_panel.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"

namespace sonavel {
namespace {

constexpr const char* kNoPreset = "Voreinstellungen Wählen";
constexpr const char* kPreviewIdle = "Vorschau";
constexpr const char* kPreviewPlaying = "Stop";
// Threshold and limit sliders cover these ranges, widened to hold a stored value beyond them.
constexpr int kLowestThreshold = -60;
constexpr int kLowestLimit = -30;
// The mix dialog's choice when the mix is longer than the selection, by value.
constexpr int kMixInsertSilence = 0;
constexpr int kMixAdjustSelection = 1;
constexpr int kMixFadeOut = 2;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString DecibelText(int decibels) { return QString("%1 dB").arg(decibels); }

QString PanText(int pan) {
  if (pan == 50) return "50 (Mitte)";
  if (pan == 0) return "0 (ganz links)";
  if (pan == 100) return "100 (ganz rechts)";
  return QString("%1 (%2)").arg(pan).arg(pan < 50 ? "links" : "rechts");
}

class EffectParameterDialog;
// The open dialog, told when its preview ends by itself.
EffectParameterDialog* open_dialog = nullptr;

class EffectParameterDialog final : public QDialog {
 public:
  EffectParameterDialog(EffectDialog& dialog, QWidget* parent);
  ~EffectParameterDialog() override;

  void accept() override;
  void done(int result) override;
  void PreviewEnded();

 private:
  int FieldIndex(std::string_view name) const;
  QString ControlName(std::size_t field) const;
  QWidget* BuildEditOrChoice(std::size_t field);
  QSlider* BuildSlider(std::size_t field, int lowest, int highest, QLabel* readout);
  QSlider* BuildSteppedSlider(std::size_t field);
  void AddFieldRows(QGridLayout* grid, int& row, const std::vector<bool>& placed);
  QWidget* BuildEnvelope();
  QWidget* BuildCompressor(std::vector<bool>& placed);
  QWidget* BuildStereoPan(std::vector<bool>& placed);
  QWidget* BuildMix(std::vector<bool>& placed);
  QWidget* BuildEqualizer(std::vector<bool>& placed);
  void UpdateMixFadeTime();
  QString FieldText(std::size_t field) const;
  void SetFieldText(std::size_t field, const QString& text);
  void ApplyPreset(int index);
  void FieldChanged(std::size_t field);
  EffectDialog Current() const;
  void TogglePreview();
  void StartPreview();
  void StopPreview();

  EffectDialog& dialog_;
  // One control per field: a QLineEdit, a QComboBox or a QSlider.
  std::vector<QWidget*> controls_;
  EnvelopeEditor* envelope_ = nullptr;
  CompressorCurve* curve_ = nullptr;
  EqualizerPanel* equalizer_ = nullptr;
  // The mix dialog's radio buttons (their ids are the values), the group holding them, the
  // fade time edit and whether the selection is empty.
  QButtonGroup* mix_choice_ = nullptr;
  QGroupBox* mix_choice_box_ = nullptr;
  QLineEdit* mix_fade_time_ = nullptr;
  QLabel* mix_fade_caption_ = nullptr;
  bool mix_selection_empty_ = false;
  QPushButton* preview_ = nullptr;
  bool playing_ = false;
  // The fields' texts the playing preview was started with.
  std::vector<QString> played_;
};

EffectParameterDialog::EffectParameterDialog(EffectDialog& dialog, QWidget* parent)
    : QDialog(parent), dialog_(dialog), controls_(dialog.fields.size(), nullptr) {
  setObjectName("EffectDialog");
  setWindowTitle(Q(dialog.title));
  setMinimumWidth(340);
  auto* layout = new QVBoxLayout(this);

  if (!dialog.presets.empty()) {
    auto* presets = new QComboBox;
    presets->setObjectName(QString::number(dialog.presets_id));
    presets->addItem(kNoPreset);
    for (const EffectPreset& preset : dialog.presets) presets->addItem(Q(preset.name));
    connect(presets, &QComboBox::currentIndexChanged, this, &EffectParameterDialog::ApplyPreset);
    layout->addWidget(presets);
  }

  std::vector<bool> placed(dialog.fields.size(), false);
  switch (dialog.kind) {
    case EffectDialogKind::kEnvelope: layout->addWidget(BuildEnvelope(), 1); break;
    case EffectDialogKind::kCompressor: layout->addWidget(BuildCompressor(placed), 1); break;
    case EffectDialogKind::kStereoPan: layout->addWidget(BuildStereoPan(placed)); break;
    case EffectDialogKind::kMix: layout->addWidget(BuildMix(placed)); break;
    case EffectDialogKind::kEqualizer: layout->addWidget(BuildEqualizer(placed), 1); break;
    case EffectDialogKind::kCrossFade:
      layout->addWidget(new QLabel("Die Auswahl wird entfernt, ihre beiden Ränder werden ineinander übergeblendet."));
      break;
    case EffectDialogKind::kFields: break;
  }
  // Every field no special control took: an edit or drop-down beside its label.
  if (std::find(placed.begin(), placed.end(), false) != placed.end()) {
    auto* grid = new QGridLayout;
    int row = 0;
    AddFieldRows(grid, row, placed);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
  }

  auto* bottom = new QHBoxLayout;
  if (dialog.reset_id != 0) {
    auto* reset = new QPushButton("Zurücksetzen");
    reset->setObjectName(QString::number(dialog.reset_id));
    connect(reset, &QPushButton::clicked, this, [this] {
      for (std::size_t i = 0; i < dialog_.fields.size() && i < dialog_.reset_values.size(); ++i)
        SetFieldText(i, Q(dialog_.reset_values[i]));
    });
    bottom->addWidget(reset);
  }
  if (dialog.start_preview) {
    preview_ = new QPushButton(kPreviewIdle);
    preview_->setObjectName("140");
    connect(preview_, &QPushButton::clicked, this, &EffectParameterDialog::TogglePreview);
    if (dialog.preview_empty) {
      // Nothing to play. The focus goes on first so that the keyboard keeps a target.
      if (preview_->hasFocus()) focusNextChild();
      preview_->setEnabled(false);
    }
    bottom->addWidget(preview_);
  }
  bottom->addStretch();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->setObjectName("buttons");
  buttons->button(QDialogButtonBox::Cancel)->setText("Abbrechen");
  connect(buttons, &QDialogButtonBox::accepted, this, &EffectParameterDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &EffectParameterDialog::reject);
  bottom->addWidget(buttons);
  layout->addLayout(bottom);

  open_dialog = this;
}

EffectParameterDialog::~EffectParameterDialog() {
  StopPreview();
  if (open_dialog == this) open_dialog = nullptr;
}

int EffectParameterDialog::FieldIndex(std::string_view name) const {
  for (std::size_t i = 0; i < dialog_.fields.size(); ++i)
    if (dialog_.fields[i].name == name) return static_cast<int>(i);
  return -1;
}

QString EffectParameterDialog::ControlName(std::size_t field) const {
  // The compressor's and the cross fade's ids say nothing; their names do.
  if (dialog_.kind == EffectDialogKind::kCompressor || dialog_.kind == EffectDialogKind::kCrossFade)
    return Q(dialog_.fields[field].name);
  return QString::number(dialog_.fields[field].id);
}

QWidget* EffectParameterDialog::BuildEditOrChoice(std::size_t field) {
  const EffectField& description = dialog_.fields[field];
  QWidget* control = nullptr;
  if (description.choices.empty()) {
    auto* edit = new QLineEdit(Q(description.value));
    connect(edit, &QLineEdit::textChanged, this, [this, field] { FieldChanged(field); });
    control = edit;
  } else if (description.free_entry) {
    // Entries to pick or any text to type; the text is the value.
    auto* choice = new QComboBox;
    choice->setEditable(true);
    choice->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& entry : description.choices) choice->addItem(Q(entry));
    choice->setCurrentText(Q(description.value));
    connect(choice, &QComboBox::currentTextChanged, this, [this, field] { FieldChanged(field); });
    control = choice;
  } else {
    auto* choice = new QComboBox;
    for (const std::string& entry : description.choices) choice->addItem(Q(entry));
    bool number = false;
    const int index = Q(description.value).toInt(&number);
    // A stored index without an entry shows nothing chosen and is kept as it is.
    choice->setCurrentIndex(number && index >= 0 && index < choice->count() ? index : -1);
    connect(choice, &QComboBox::currentIndexChanged, this, [this, field] { FieldChanged(field); });
    control = choice;
  }
  control->setObjectName(ControlName(field));
  controls_[field] = control;
  return control;
}

QSlider* EffectParameterDialog::BuildSlider(std::size_t field, int lowest, int highest, QLabel* readout) {
  auto* slider = new QSlider(Qt::Horizontal);
  slider->setObjectName(ControlName(field));
  readout->setObjectName(ControlName(field) + "Value");
  const int value = TextToInt(dialog_.fields[field].value);
  slider->setRange(std::min(lowest, value), std::max(highest, value));
  slider->setValue(value);
  slider->setTickPosition(QSlider::TicksBelow);
  connect(slider, &QSlider::valueChanged, this, [this, field] { FieldChanged(field); });
  connect(slider, &QSlider::sliderReleased, this, [this, field] { FieldChanged(field); });
  controls_[field] = slider;
  return slider;
}

QSlider* EffectParameterDialog::BuildSteppedSlider(std::size_t field) {
  // The slider beside a field's edit (id + 1): each follows the other; a typed value
  // outside the slider's range leaves the slider where it was.
  auto* edit = qobject_cast<QLineEdit*>(controls_[field]);
  auto* slider = new QSlider(Qt::Horizontal);
  slider->setObjectName(QString::number(dialog_.fields[field].id + 1));
  slider->setRange(dialog_.fields[field].lowest, dialog_.fields[field].highest);
  slider->setMinimumWidth(160);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setTickInterval(std::max(1, (dialog_.fields[field].highest - dialog_.fields[field].lowest) / 10));
  const auto follow_edit = [edit, slider] {
    bool number = false;
    const int value = edit->text().trimmed().toInt(&number);
    if (!number || value < slider->minimum() || value > slider->maximum()) return;
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
  };
  follow_edit();
  connect(edit, &QLineEdit::textChanged, slider, follow_edit);
  connect(slider, &QSlider::valueChanged, edit, [edit](int value) { edit->setText(QString::number(value)); });
  return slider;
}

void EffectParameterDialog::AddFieldRows(QGridLayout* grid, int& row, const std::vector<bool>& placed) {
  static const char* const kCrossFadeLabels[][2] = {{"GapTimeMS", "Lücke (ms):"},
                                                    {"FadeInTimeMS", "Einblenden (ms):"},
                                                    {"FadeOutTimeMS", "Ausblenden (ms):"}};
  for (std::size_t i = 0; i < dialog_.fields.size(); ++i) {
    if (placed[i]) continue;
    QString label = Q(dialog_.fields[i].label);
    if (label.isEmpty() && dialog_.kind == EffectDialogKind::kCrossFade)
      for (const auto& [name, text] : kCrossFadeLabels)
        if (dialog_.fields[i].name == name) label = text;
    auto* caption = new QLabel(label);
    QWidget* control = nullptr;
    const bool decibels = dialog_.fields[i].kind == EffectFieldKind::kDecibels;
    if (decibels || dialog_.fields[i].kind == EffectFieldKind::kSlider) {
      // A slider over whole decibels or numbers with its value beside it.
      auto* readout = new QLabel;
      readout->setMinimumWidth(readout->fontMetrics().horizontalAdvance("+127dB  "));
      readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      QSlider* slider = BuildSlider(i, dialog_.fields[i].lowest, dialog_.fields[i].highest, readout);
      slider->setTickInterval(decibels ? 1 : 10);
      slider->setMinimumWidth(200);
      const auto show = [readout, decibels](int value) {
        readout->setText(decibels ? Q(DecibelControlText(value)) : QString::number(value));
      };
      show(slider->value());
      connect(slider, &QSlider::valueChanged, readout, show);
      grid->addWidget(readout, row, 2);
      control = slider;
    } else if (dialog_.fields[i].kind == EffectFieldKind::kEditAndSlider) {
      control = BuildEditOrChoice(i);
      grid->addWidget(BuildSteppedSlider(i), row, 2);
    } else {
      control = BuildEditOrChoice(i);
    }
    caption->setBuddy(control);
    grid->addWidget(caption, row, 0);
    // Edits reach under a slider's readout.
    const bool slider = dialog_.fields[i].kind != EffectFieldKind::kText;
    grid->addWidget(control, row, 1, 1, slider ? 1 : 2);
    ++row;
  }
}

QWidget* EffectParameterDialog::BuildEnvelope() {
  auto* box = new QWidget;
  envelope_ = new EnvelopeEditor;
  envelope_->SetPoints(dialog_.points);
  auto* readout = new QLabel;
  readout->setObjectName("envelopeReadout");
  auto show = [this, readout](std::optional<std::size_t> index) {
    const EnvelopePoints& points = envelope_->points();
    if (index && *index < points.size()) {
      const auto [x, y] = points[*index];
      readout->setText(QString("Punkt %1: Position %2 %, Verstärkung %3")
                           .arg(*index + 1)
                           .arg(static_cast<int>(x * 100 / 255))
                           .arg(Q(EnvelopeGainText(y))));
    } else {
      readout->setText(QString("%1 von %2 Punkten").arg(points.size()).arg(kMaxEnvelopePoints));
    }
  };
  connect(envelope_, &EnvelopeEditor::PointHovered, readout, show);
  connect(envelope_, &EnvelopeEditor::PointsChanged, readout, [show] { show(std::nullopt); });
  show(std::nullopt);
  auto* reset = new QPushButton("Zurücksetzen");
  reset->setObjectName("resetEnvelope");
  connect(reset, &QPushButton::clicked, envelope_, &EnvelopeEditor::Reset);

  auto* hint = new QLabel("Klicken fügt einen Punkt hinzu, Ziehen verschiebt ihn, Rechtsklick oder Doppelklick "
                          "entfernt ihn.");
  hint->setWordWrap(true);
  auto* row = new QHBoxLayout;
  row->addWidget(readout, 1);
  row->addWidget(reset);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(envelope_, 1);
  layout->addWidget(hint);
  layout->addLayout(row);
  return box;
}

QWidget* EffectParameterDialog::BuildCompressor(std::vector<bool>& placed) {
  auto* box = new QWidget;
  auto* grid = new QGridLayout;
  int row = 0;
  int lowest = 0;
  auto add_slider = [&](const char* name, const char* fallback_label, int range_low) {
    const int field = FieldIndex(name);
    if (field < 0) return;
    const auto index = static_cast<std::size_t>(field);
    auto* readout = new QLabel;
    readout->setMinimumWidth(readout->fontMetrics().horizontalAdvance("-127 dB  "));
    QSlider* slider = BuildSlider(index, range_low, 0, readout);
    slider->setTickInterval(10);
    readout->setText(DecibelText(slider->value()));
    connect(slider, &QSlider::valueChanged, readout, [readout](int value) { readout->setText(DecibelText(value)); });
    const std::string& label = dialog_.fields[index].label;
    grid->addWidget(new QLabel(label.empty() ? fallback_label : Q(label)), row, 0);
    grid->addWidget(slider, row, 1);
    grid->addWidget(readout, row, 2);
    lowest = std::min(lowest, slider->minimum());
    placed[index] = true;
    ++row;
  };
  add_slider("CompressorThreshold", "Schwelle:", kLowestThreshold);
  if (const int field = FieldIndex("CompressorRatio"); field >= 0) {
    const auto index = static_cast<std::size_t>(field);
    // Without entries of its own the drop-down offers the compressor's seven ratios.
    if (dialog_.fields[index].choices.empty())
      for (const CompressorRatio& ratio : kCompressorRatios) dialog_.fields[index].choices.push_back(ratio.name);
    QWidget* choice = BuildEditOrChoice(index);
    const std::string& label = dialog_.fields[index].label;
    grid->addWidget(new QLabel(label.empty() ? "Verhältnis:" : Q(label)), row, 0);
    grid->addWidget(choice, row, 1, 1, 2);
    placed[index] = true;
    ++row;
  }
  add_slider("CompressorLimit", "Begrenzung:", kLowestLimit);
  // What the curve's markers stand for, in their colours.
  auto* legend = new QLabel("<span style=\"color:#d6781e\">&#9476;</span> Schwelle &nbsp; "
                            "<span style=\"color:#be2828\">&#9476;</span> Begrenzung &nbsp; "
                            "<span style=\"color:#a0a09a\">&#8943;</span> unverändert");
  legend->setObjectName("compressorLegend");
  grid->addWidget(legend, row++, 0, 1, 3);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(row, 1);

  curve_ = new CompressorCurve;
  curve_->SetLowestLevel(std::min(lowest, kLowestThreshold));
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(grid, 1);
  layout->addWidget(curve_);
  FieldChanged(dialog_.fields.size());  // draws the curve for the starting values
  return box;
}

QWidget* EffectParameterDialog::BuildStereoPan(std::vector<bool>& placed) {
  auto* box = new QWidget;
  int field = -1;
  for (std::size_t i = 0; i < dialog_.fields.size() && field < 0; ++i)
    if (dialog_.fields[i].id == 101) field = static_cast<int>(i);
  if (field < 0 && !dialog_.fields.empty()) field = 0;
  if (field < 0) return box;
  const auto index = static_cast<std::size_t>(field);
  auto* readout = new QLabel;
  readout->setAlignment(Qt::AlignCenter);
  dialog_.fields[index].value = std::to_string(std::clamp(TextToInt(dialog_.fields[index].value), 0, 100));
  QSlider* slider = BuildSlider(index, 0, 100, readout);
  slider->setTickInterval(10);
  slider->setMinimumWidth(280);
  readout->setText(PanText(slider->value()));
  connect(slider, &QSlider::valueChanged, readout, [readout](int value) { readout->setText(PanText(value)); });
  placed[index] = true;

  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Links"));
  row->addWidget(slider, 1);
  row->addWidget(new QLabel("Rechts"));
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  const std::string& label = dialog_.fields[index].label;
  if (!label.empty()) layout->addWidget(new QLabel(Q(label)));
  layout->addLayout(row);
  layout->addWidget(readout);
  return box;
}

QWidget* EffectParameterDialog::BuildMix(std::vector<bool>& placed) {
  auto* box = new QWidget;
  auto field_of = [this](std::string_view name) -> std::optional<std::size_t> {
    const int index = FieldIndex(name);
    if (index < 0) return std::nullopt;
    return static_cast<std::size_t>(index);
  };
  auto label_of = [this](std::size_t field, const char* fallback) {
    const std::string& label = dialog_.fields[field].label;
    return label.empty() ? QString(fallback) : Q(label);
  };
  // Information for the dialog only, never shown and given back unchanged.
  bool stereo = false;
  if (const auto field = field_of("Stereo")) {
    stereo = dialog_.fields[*field].value == "1";
    placed[*field] = true;
  }
  if (const auto field = field_of("SelectionEmpty")) {
    mix_selection_empty_ = dialog_.fields[*field].value == "1";
    placed[*field] = true;
  }

  // The numbers are short: their edits need not span the dialog.
  const int short_edit = fontMetrics().horizontalAdvance("0000000000000");
  auto* grid = new QGridLayout;
  int row = 0;
  if (const auto field = field_of(setting::kPasteMixVolume.name)) {
    QWidget* edit = BuildEditOrChoice(*field);
    edit->setMaximumWidth(short_edit);
    auto* caption = new QLabel(label_of(*field, "Lautstärke (%)"));
    caption->setBuddy(edit);
    grid->addWidget(caption, row, 0);
    grid->addWidget(edit, row, 1, 1, 3, Qt::AlignLeft);
    placed[*field] = true;
    ++row;
  }
  if (const auto field = field_of("Balance")) {
    // Starts in the middle when nothing is stored.
    std::string& value = dialog_.fields[*field].value;
    value = std::to_string(value.empty() ? 50 : std::clamp(TextToInt(value), 0, 100));
    auto* readout = new QLabel;
    readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    readout->setMinimumWidth(readout->fontMetrics().horizontalAdvance("100  "));
    QSlider* slider = BuildSlider(*field, 0, 100, readout);
    slider->setTickInterval(10);
    slider->setMinimumWidth(200);
    readout->setText(QString::number(slider->value()));
    connect(slider, &QSlider::valueChanged, readout, [readout](int value) { readout->setText(QString::number(value)); });
    auto* caption = new QLabel(label_of(*field, "Stereo Regler (L - R)"));
    caption->setBuddy(slider);
    auto* left = new QLabel("L");
    auto* right = new QLabel("R");
    auto* row_layout = new QHBoxLayout;
    row_layout->addWidget(left);
    row_layout->addWidget(slider, 1);
    row_layout->addWidget(right);
    grid->addWidget(caption, row, 0);
    grid->addLayout(row_layout, row, 1, 1, 2);
    grid->addWidget(readout, row, 3);
    // A mono document has no balance.
    for (QWidget* widget : std::initializer_list<QWidget*>{caption, left, slider, right, readout})
      widget->setEnabled(stereo);
    placed[*field] = true;
    ++row;
  }
  grid->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(grid);

  const auto choice_field = field_of(setting::kLongerSelection.name);
  const auto fade_field = field_of(setting::kFadeOutTime.name);
  if (choice_field || fade_field) {
    mix_choice_box_ = new QGroupBox(choice_field ? label_of(*choice_field, "Wenn Mix länger als Markierung ist:")
                                                 : QString("Wenn Mix länger als Markierung ist:"));
    auto* inner = new QGridLayout(mix_choice_box_);
    int inner_row = 0;
    if (choice_field) {
      const EffectField& description = dialog_.fields[*choice_field];
      static const char* const kChoiceTexts[] = {"Stille einfügen", "Markierung anpassen", "Mix ausblenden"};
      mix_choice_ = new QButtonGroup(this);
      // Shown in this order: adjust the selection, insert silence, fade the mix out.
      for (const int value : {kMixAdjustSelection, kMixInsertSilence, kMixFadeOut}) {
        const auto index = static_cast<std::size_t>(value);
        auto* radio = new QRadioButton(index < description.choices.size() ? Q(description.choices[index])
                                                                          : QString(kChoiceTexts[index]));
        radio->setObjectName(ControlName(*choice_field) + "_" + QString::number(value));
        mix_choice_->addButton(radio, value);
        inner->addWidget(radio, inner_row++, 0, 1, 3);
      }
      mix_choice_box_->setObjectName(ControlName(*choice_field));
      // An empty selection leaves nothing to adjust: the mix is as long as it is.
      const int chosen = mix_selection_empty_ ? kMixAdjustSelection : TextToInt(description.value);
      if (QAbstractButton* button = mix_choice_->button(chosen);
          button != nullptr && (mix_selection_empty_ || !description.value.empty()))
        button->setChecked(true);
      connect(mix_choice_, &QButtonGroup::idToggled, this, [this] { UpdateMixFadeTime(); });
      controls_[*choice_field] = mix_choice_box_;
      placed[*choice_field] = true;
    }
    if (fade_field) {
      QWidget* edit = BuildEditOrChoice(*fade_field);
      edit->setMaximumWidth(short_edit);
      mix_fade_time_ = qobject_cast<QLineEdit*>(edit);
      auto* caption = new QLabel(label_of(*fade_field, "Ausblendzeit:"));
      caption->setBuddy(edit);
      mix_fade_caption_ = caption;
      // Indented under "Mix ausblenden", which it belongs to.
      inner->addItem(new QSpacerItem(caption->fontMetrics().horizontalAdvance("MM"), 0), inner_row, 0);
      inner->addWidget(caption, inner_row, 1);
      inner->addWidget(edit, inner_row, 2, Qt::AlignLeft);
      placed[*fade_field] = true;
    }
    inner->setColumnStretch(2, 1);
    mix_choice_box_->setEnabled(!mix_selection_empty_);
    layout->addWidget(mix_choice_box_);
  }
  UpdateMixFadeTime();
  return box;
}

void EffectParameterDialog::UpdateMixFadeTime() {
  if (mix_fade_time_ == nullptr) return;
  // The fade time counts only when the mix is faded out.
  const bool fading = mix_choice_ != nullptr && mix_choice_->checkedId() == kMixFadeOut;
  mix_fade_time_->setEnabled(fading && !mix_selection_empty_);
  if (mix_fade_caption_ != nullptr) mix_fade_caption_->setEnabled(mix_fade_time_->isEnabled());
}

QString EffectParameterDialog::FieldText(std::size_t field) const {
  QWidget* control = controls_[field];
  if (control != nullptr && control == mix_choice_box_ && mix_choice_ != nullptr) {
    if (mix_choice_->checkedId() >= 0) return QString::number(mix_choice_->checkedId());
    return Q(dialog_.fields[field].value);
  }
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
  if (auto* slider = qobject_cast<QSlider*>(control)) return QString::number(slider->value());
  if (auto* choice = qobject_cast<QComboBox*>(control)) {
    if (choice->isEditable()) return choice->currentText().trimmed();
    if (choice->currentIndex() >= 0) return QString::number(choice->currentIndex());
  }
  return Q(dialog_.fields[field].value);
}

void EffectParameterDialog::SetFieldText(std::size_t field, const QString& text) {
  QWidget* control = controls_[field];
  if (control != nullptr && control == mix_choice_box_ && mix_choice_ != nullptr) {
    if (QAbstractButton* button = mix_choice_->button(TextToInt(text.toStdString()))) button->setChecked(true);
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    edit->setText(text);
  } else if (auto* slider = qobject_cast<QSlider*>(control)) {
    const int value = TextToInt(text.toStdString());
    slider->setRange(std::min(slider->minimum(), value), std::max(slider->maximum(), value));
    slider->setValue(value);
  } else if (auto* choice = qobject_cast<QComboBox*>(control); choice != nullptr && choice->isEditable()) {
    choice->setCurrentText(text);
  } else if (auto* choice = qobject_cast<QComboBox*>(control)) {
    bool number = false;
    const int index = text.toInt(&number);
    if (number && index >= 0 && index < choice->count()) choice->setCurrentIndex(index);
  }
}

void EffectParameterDialog::ApplyPreset(int index) {
  if (index < 1 || index > static_cast<int>(dialog_.presets.size())) return;  // entry 0 does nothing
  const EffectPreset& preset = dialog_.presets[static_cast<std::size_t>(index - 1)];
  for (std::size_t i = 0; i < preset.values.size() && i < controls_.size(); ++i)
    SetFieldText(i, Q(preset.values[i]));
}

void EffectParameterDialog::FieldChanged(std::size_t field) {
  if (curve_ != nullptr) {
    auto value = [this](const char* name) {
      const int index = FieldIndex(name);
      return index < 0 ? 0 : TextToInt(FieldText(static_cast<std::size_t>(index)).toStdString());
    };
    curve_->SetParameters(value("CompressorThreshold"), value("CompressorLimit"), value("CompressorRatio"));
  }
  if (field >= dialog_.fields.size() || !playing_) return;
  // The parameters the preview plays with: a change starts it again from the beginning.
  // While a slider's knob is held only its release counts.
  const int id = dialog_.fields[field].id;
  if (id != 101 && id != 102) return;
  if (auto* slider = qobject_cast<QSlider*>(controls_[field]); slider != nullptr && slider->isSliderDown()) return;
  if (FieldText(field) != played_[field]) {
    StopPreview();
    StartPreview();
  }
}

QWidget* EffectParameterDialog::BuildEqualizer(std::vector<bool>& placed) {
  if (!dialog_.equalizer) return new QWidget;
  equalizer_ = new EqualizerPanel(*dialog_.equalizer);
  // The drop-down is the preset field's control.
  for (std::size_t field = 0; field < dialog_.fields.size(); ++field) {
    if (dialog_.fields[field].id != dialog_.presets_id) continue;
    controls_[field] = equalizer_->presets();
    placed[field] = true;
  }
  // A changed curve plays from the start when the preview is on.
  connect(equalizer_, &EqualizerPanel::CurveChanged, this, [this] {
    if (!playing_) return;
    StopPreview();
    StartPreview();
  });
  return equalizer_;
}

EffectDialog EffectParameterDialog::Current() const {
  EffectDialog current = dialog_;
  for (std::size_t i = 0; i < current.fields.size(); ++i)
    if (controls_[i] != nullptr) current.fields[i].value = FieldText(i).toStdString();
  if (envelope_ != nullptr) current.points = envelope_->points();
  if (equalizer_ != nullptr) current.points = dialog_.equalizer->points();
  return current;
}

void EffectParameterDialog::TogglePreview() {
  if (playing_)
    StopPreview();
  else
    StartPreview();
}

void EffectParameterDialog::StartPreview() {
  if (preview_ == nullptr || !preview_->isEnabled() || !dialog_.start_preview) return;
  const EffectDialog current = Current();
  played_.clear();
  for (const EffectField& field : current.fields) played_.push_back(Q(field.value));
  playing_ = dialog_.start_preview(current);
  preview_->setText(playing_ ? kPreviewPlaying : kPreviewIdle);
}

void EffectParameterDialog::StopPreview() {
  if (!playing_) return;
  playing_ = false;
  if (dialog_.stop_preview) dialog_.stop_preview();
  if (preview_ != nullptr) preview_->setText(kPreviewIdle);
}

void EffectParameterDialog::PreviewEnded() {
  playing_ = false;
  if (preview_ != nullptr) preview_->setText(kPreviewIdle);
}

void EffectParameterDialog::accept() {
  const EffectDialog current = Current();
  const std::string refused = dialog_.validate ? dialog_.validate(current.fields) : std::string();
  if (!refused.empty()) {
    QString text = Q(refused);
    text.replace("\r\n", "\n").replace('\r', '\n');
    QMessageBox box(QMessageBox::Information, Q(dialog_.refusal_caption), text, QMessageBox::Ok, this);
    box.exec();
    // Back to the first field, ready to be typed over.
    for (QWidget* control : controls_) {
      if (control == nullptr) continue;
      control->setFocus();
      if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
      break;
    }
    return;
  }
  dialog_.fields = current.fields;
  if (envelope_ != nullptr || equalizer_ != nullptr) dialog_.points = current.points;
  QDialog::accept();
}

void EffectParameterDialog::done(int result) {
  StopPreview();
  QDialog::done(result);
}

}  // namespace

bool RunEffectDialog(QWidget* parent, EffectDialog& dialog) {
  // The description is changed only on OK: the compressor may add its ratio entries.
  EffectDialog working = dialog;
  EffectParameterDialog window(working, parent);
  if (window.exec() != QDialog::Accepted) return false;
  for (std::size_t i = 0; i < dialog.fields.size(); ++i) dialog.fields[i].value = working.fields[i].value;
  dialog.points = working.points;
  return true;
}

void NotifyEffectPreviewStopped() {
  if (open_dialog != nullptr) open_dialog->PreviewEnded();
}

}  // namespace sonavel
