#include "gui/encoder_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QToolTip>
#include <QVBoxLayout>

#include <functional>
#include <optional>
#include <vector>

#include "platform/settings.h"

namespace sonavel {

namespace {

constexpr int kBalloonMilliseconds = 10000;

// One control on the dialog: shows a value and reads it back (nothing when the typed text
// is no number).
struct ShownControl {
  std::function<void(int)> show;
  std::function<std::optional<int>()> read;
  QWidget* widget = nullptr;
  // Calls the function whenever the user changes the control.
  std::function<void(std::function<void()>)> watch;
};

ShownControl MakeList(QDialog& window, const EncoderControl& control) {
  auto* box = new QComboBox(&window);
  for (const EncoderChoice& choice : control.choices) box->addItem(QString::fromStdString(choice.text), choice.value);
  if (control.free_entry) {
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
  }
  const bool free_entry = control.free_entry;
  const int standard = control.standard;
  ShownControl shown;
  shown.widget = box;
  shown.show = [box, free_entry, standard](int value) {
    const int index = box->findData(value);
    if (index >= 0)
      box->setCurrentIndex(index);
    else if (free_entry)
      box->setEditText(QString::number(value));
    else
      box->setCurrentIndex(std::max(0, box->findData(standard)));
  };
  shown.watch = [box](std::function<void()> changed) {
    QObject::connect(box, &QComboBox::currentIndexChanged, box, std::move(changed));
  };
  shown.read = [box, free_entry]() -> std::optional<int> {
    if (!free_entry) return box->currentData().toInt();
    const std::optional<std::int64_t> typed = ParseWholeNumber(box->currentText().toStdString());
    if (!typed || *typed < 0 || *typed > 10000000) return std::nullopt;
    return static_cast<int>(*typed);
  };
  return shown;
}

ShownControl MakeSwitch(QDialog& window, const EncoderControl& control) {
  auto* box = new QCheckBox(QString::fromStdString(control.label), &window);
  return {[box](int value) { box->setChecked(value != 0); }, [box]() -> std::optional<int> { return box->isChecked() ? 1 : 0; },
          box,
          [box](std::function<void()> changed) { QObject::connect(box, &QCheckBox::toggled, box, std::move(changed)); }};
}

ShownControl MakeOptions(QDialog& window, const EncoderControl& control) {
  auto* row = new QWidget(&window);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* group = new QButtonGroup(row);
  for (const EncoderChoice& choice : control.choices) {
    auto* button = new QRadioButton(QString::fromStdString(choice.text), row);
    group->addButton(button, choice.value);
    layout->addWidget(button);
  }
  const int standard = control.standard;
  return {[group, standard](int value) {
            QAbstractButton* button = group->button(value);
            if (button == nullptr) button = group->button(standard);
            if (button != nullptr) button->setChecked(true);
          },
          [group]() -> std::optional<int> { return group->checkedId(); }, row,
          [group](std::function<void()> changed) {
            QObject::connect(group, &QButtonGroup::idToggled, group, std::move(changed));
          }};
}

}  // namespace

bool RunEncoderDialog(QWidget* parent, EncoderDialog& dialog) {
  QDialog window(parent);
  window.setObjectName(QString::fromStdString(dialog.name));
  window.setWindowTitle(QString::fromStdString(dialog.title));

  auto* form = new QFormLayout;
  std::vector<ShownControl> shown;
  for (const EncoderControl& control : dialog.controls) {
    ShownControl made = control.kind == EncoderControlKind::kSwitch    ? MakeSwitch(window, control)
                        : control.kind == EncoderControlKind::kOptions ? MakeOptions(window, control)
                                                                       : MakeList(window, control);
    made.widget->setObjectName(QString::fromStdString(control.name));
    made.show(control.value);
    if (control.kind == EncoderControlKind::kSwitch)
      form->addRow(made.widget);
    else
      form->addRow(QString::fromStdString(control.label + ":"), made.widget);
    shown.push_back(std::move(made));
  }

  // Controls that belong to one mode are greyed out while another mode is chosen.
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const EncoderControl& control = dialog.controls[i];
    if (control.enabled_by.empty()) continue;
    for (std::size_t mode = 0; mode < shown.size(); ++mode) {
      if (dialog.controls[mode].name != control.enabled_by) continue;
      QWidget* widget = shown[i].widget;
      QWidget* label = form->labelForField(widget);
      auto update = [widget, label, read = shown[mode].read, when = control.enabled_when] {
        const bool enabled = read() == when;
        widget->setEnabled(enabled);
        if (label != nullptr) label->setEnabled(enabled);
      };
      update();
      shown[mode].watch(update);
    }
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
  buttons->setObjectName("buttons");
  QPushButton* defaults = buttons->addButton(QString::fromStdString(dialog.defaults_button), QDialogButtonBox::ResetRole);
  defaults->setObjectName("defaults");
  QObject::connect(defaults, &QPushButton::clicked, &window, [&] {
    for (std::size_t i = 0; i < shown.size(); ++i) shown[i].show(dialog.controls[i].standard);
  });
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &window, [&] {
    std::vector<int> values;
    for (const ShownControl& control : shown) {
      const std::optional<int> value = control.read();
      if (!value) {
        control.widget->setFocus();
        QToolTip::showText(control.widget->mapToGlobal(QPoint(control.widget->width() / 8, control.widget->height() - 14)),
                           "Bitte geben Sie eine ganze Zahl ein.", control.widget, QRect(), kBalloonMilliseconds);
        return;
      }
      values.push_back(*value);
    }
    for (std::size_t i = 0; i < values.size(); ++i) dialog.controls[i].value = values[i];
    window.accept();
  });

  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(buttons);
  window.setMinimumWidth(360);
  return window.exec() == QDialog::Accepted;
}

}  // namespace sonavel
