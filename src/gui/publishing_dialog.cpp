#include "gui/publishing_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>

namespace sonavel {

bool RunPublishingDialog(QWidget* parent, PublishingDialog& dialog) {
  QDialog window(parent);
  window.setObjectName(QString::fromStdString(dialog.name));
  window.setWindowTitle(QString::fromStdString(dialog.title));
  auto* layout = new QVBoxLayout(&window);

  auto* form = new QFormLayout;
  auto* root = new QLineEdit(QString::fromStdString(dialog.root_url), &window);
  root->setObjectName("RootURL");
  root->setPlaceholderText("http://www.example.org/podcast");
  root->setMinimumWidth(320);
  form->addRow("Basis-URL der MP3-Datei:", root);
  layout->addLayout(form);
  auto* note = new QLabel("Leer lassen, um nur den Dateinamen einzutragen.", &window);
  note->setObjectName("note");
  layout->addWidget(note);

  auto* mp3 = new QPushButton("MP3-Einstellungen...", &window);
  mp3->setObjectName("mp3");
  mp3->setEnabled(static_cast<bool>(dialog.mp3_settings));
  QObject::connect(mp3, &QPushButton::clicked, &window, [&dialog] { dialog.mp3_settings(); });
  layout->addWidget(mp3, 0, Qt::AlignLeft);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
  buttons->setObjectName("buttons");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  layout->addWidget(buttons);

  if (window.exec() != QDialog::Accepted) return false;
  dialog.root_url = root->text().trimmed().toStdString();
  return true;
}

}  // namespace sonavel
