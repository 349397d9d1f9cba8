#include "gui/tag_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QString>
#include <QVBoxLayout>

#include <functional>
#include <vector>

namespace sonavel {

namespace {

// The German label of a tag's field.
QString Label(const std::string& name) {
  if (name == "TITLE") return "Titel:";
  if (name == "ARTIST") return "Interpret:";
  if (name == "ALBUM") return "Album:";
  if (name == "GENRE") return "Genre:";
  if (name == "TRACKNUMBER") return "Titelnummer:";
  if (name == "DATE") return "Jahr:";
  if (name == "COMMENT") return "Kommentar:";
  return QString::fromStdString(name) + ":";
}

}  // namespace

bool RunTagDialog(QWidget* parent, TagDialog& dialog) {
  QDialog window(parent);
  window.setObjectName("LAudioTagDataEditor");
  window.setWindowTitle("ID3 Tags bearbeiten");
  auto* form = new QFormLayout;
  std::vector<std::function<std::string()>> readers;
  for (const auto& [name, text] : dialog.fields) {
    QWidget* field = nullptr;
    if (name == "GENRE") {
      auto* box = new QComboBox(&window);
      for (const std::string& genre : dialog.genres) box->addItem(QString::fromStdString(genre));
      box->setCurrentIndex(std::max(box->findText(QString::fromStdString(text)), 0));
      readers.push_back([box] { return box->currentText().toStdString(); });
      field = box;
    } else {
      auto* edit = new QLineEdit(QString::fromStdString(text), &window);
      edit->setMinimumWidth(280);
      readers.push_back([edit] { return edit->text().toStdString(); });
      field = edit;
    }
    field->setObjectName(QString::fromStdString(name));
    form->addRow(Label(name), field);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
  buttons->setObjectName("buttons");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(buttons);
  if (window.exec() != QDialog::Accepted) return false;
  for (std::size_t i = 0; i < dialog.fields.size(); ++i) dialog.fields[i].second = readers[i]();
  return true;
}

}  // namespace sonavel
