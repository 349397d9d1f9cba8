#include "gui/wav_format_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>

namespace sonavel {

bool RunWavFormatDialog(QWidget* parent, WavFormatDialog& dialog) {
  QDialog window(parent);
  window.setObjectName("WavFormatDlg");
  window.setWindowTitle(QString::fromStdString(dialog.title));

  auto* label = new QLabel("Format:", &window);
  auto* formats = new QListWidget(&window);
  formats->setObjectName("formats");
  for (const std::string& line : dialog.choices) formats->addItem(QString::fromStdString(line));
  formats->setCurrentRow(dialog.selected);
  formats->setMinimumWidth(320);
  label->setBuddy(formats);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
  buttons->setObjectName("buttons");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  QObject::connect(formats, &QListWidget::itemDoubleClicked, &window, &QDialog::accept);
  // Without a line chosen there is nothing to confirm.
  QObject::connect(formats, &QListWidget::currentRowChanged, &window,
                   [ok = buttons->button(QDialogButtonBox::Ok)](int row) { ok->setEnabled(row >= 0); });

  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(label);
  layout->addWidget(formats);
  layout->addWidget(buttons);
  formats->scrollToItem(formats->currentItem(), QAbstractItemView::PositionAtCenter);

  if (window.exec() != QDialog::Accepted || formats->currentRow() < 0) return false;
  dialog.selected = formats->currentRow();
  return true;
}

}  // namespace sonavel
