#include "gui/wav_format_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>

namespace sonavel {

namespace {

// A line split at its first ", ": the format's name and its attributes.
struct Parts {
  QString tag;
  QString attributes;
};

Parts Split(const std::string& line) {
  const QString text = QString::fromStdString(line);
  const qsizetype comma = text.indexOf(", ");
  if (comma < 0) return {text, QString()};
  return {text.left(comma), text.mid(comma + 2)};
}

}  // namespace

bool RunWavFormatDialog(QWidget* parent, WavFormatDialog& dialog) {
  QDialog window(parent);
  window.setObjectName("WavFormatDlg");
  window.setWindowTitle(QString::fromStdString(dialog.title));

  std::vector<Parts> lines;
  for (const std::string& line : dialog.choices) lines.push_back(Split(line));

  auto* tags = new QComboBox(&window);
  tags->setObjectName("formatTags");
  for (const Parts& parts : lines)
    if (tags->findText(parts.tag) < 0) tags->addItem(parts.tag);
  auto* attributes = new QComboBox(&window);
  attributes->setObjectName("attributes");
  attributes->setMinimumContentsLength(28);
  attributes->setMaxVisibleItems(16);

  // The attributes of the chosen format, each with the index of its line.
  auto fill_attributes = [&lines, tags, attributes](int chosen_line) {
    attributes->clear();
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].tag == tags->currentText()) attributes->addItem(lines[i].attributes, static_cast<int>(i));
    const int at = attributes->findData(chosen_line);
    attributes->setCurrentIndex(at >= 0 ? at : 0);
  };
  if (dialog.selected >= 0 && static_cast<std::size_t>(dialog.selected) < lines.size())
    tags->setCurrentText(lines[static_cast<std::size_t>(dialog.selected)].tag);
  fill_attributes(dialog.selected);
  QObject::connect(tags, &QComboBox::currentIndexChanged, &window, [&fill_attributes] { fill_attributes(-1); });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
  buttons->setObjectName("buttons");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);

  auto* form = new QFormLayout;
  form->addRow("&Format:", tags);
  form->addRow("&Attribute:", attributes);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(buttons);

  if (window.exec() != QDialog::Accepted || attributes->currentIndex() < 0) return false;
  dialog.selected = attributes->currentData().toInt();
  return true;
}

}  // namespace sonavel
