#include "gui/raw_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QString>
#include <QToolTip>
#include <QVBoxLayout>

#include <string>

namespace sonavel {

namespace {

// How long the balloon stays unless the user acts first.
constexpr int kBalloonMilliseconds = 10000;

}  // namespace

bool RunRawDialog(QWidget* parent, RawDialog& dialog) {
  QDialog window(parent);
  window.setObjectName("LRawDlg");
  window.setWindowTitle(QString::fromStdString(dialog.title));

  auto* codec = new QComboBox(&window);
  codec->setObjectName("codec");
  for (const std::string& name : dialog.codec_names) codec->addItem(QString::fromStdString(name));
  codec->setCurrentIndex(dialog.codec);

  // Any number may be typed; the check at OK refuses what is not a rate.
  auto* rate = new QComboBox(&window);
  rate->setObjectName("rate");
  rate->setEditable(true);
  rate->setInsertPolicy(QComboBox::NoInsert);
  for (int choice : dialog.rate_choices) rate->addItem(QString::number(choice));
  rate->setEditText(QString::fromStdString(dialog.rate));

  auto* channels = new QComboBox(&window);
  channels->setObjectName("channels");
  channels->addItems({"1 - Mono", "2 - Stereo"});
  channels->setCurrentIndex(dialog.channels == 2 ? 1 : 0);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
  buttons->setObjectName("buttons");
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &window, [&] {
    RawDialog chosen = dialog;
    chosen.codec = codec->currentIndex();
    chosen.rate = rate->currentText().toStdString();
    chosen.channels = channels->currentIndex() == 1 ? 2 : 1;
    const std::string refused = RawDialogRefusal(chosen);
    if (refused.empty()) {
      dialog = std::move(chosen);
      window.accept();
      return;
    }
    // The focus moves first: a tool tip closes when the focus changes.
    rate->setFocus();
    rate->lineEdit()->selectAll();
    // Qt puts a tip 16 pixels below the point it is given: this one starts just under the field.
    QToolTip::showText(rate->mapToGlobal(QPoint(rate->width() / 8, rate->height() - 14)),
                       QString::fromStdString(refused), rate, QRect(), kBalloonMilliseconds);
  });

  auto* form = new QFormLayout;
  form->addRow("Format:", codec);
  form->addRow("Samplerate (Hz):", rate);
  form->addRow("Kanäle:", channels);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(buttons);
  window.setMinimumWidth(320);
  return window.exec() == QDialog::Accepted;
}

}  // namespace sonavel
