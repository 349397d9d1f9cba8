#include "gui/progress_dialog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace sonavel {

namespace {
QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }
}  // namespace

ProgressDialog::ProgressDialog(QWidget* owner, const QString& title)
    : QDialog(owner), owner_(owner), line1_(new QLabel(this)), line2_(new QLabel(this)), bar_(new QProgressBar(this)) {
  setObjectName("LProgressDialog");
  setWindowTitle(title);
  setModal(false);
  line1_->setObjectName("100");
  line2_->setObjectName("101");
  bar_->setObjectName("102");
  bar_->setRange(0, 100);
  bar_->setValue(0);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::rejected, this, [this] { cancelled_ = true; });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(line1_);
  layout->addWidget(line2_);
  layout->addWidget(bar_);
  layout->addWidget(buttons);
  setMinimumWidth(380);
  if (owner_ != nullptr) owner_->setEnabled(false);
  setEnabled(true);
  show();
  QCoreApplication::processEvents();
}

ProgressDialog::~ProgressDialog() {
  if (owner_ != nullptr) {
    owner_->setEnabled(true);
    owner_->activateWindow();
  }
}

void ProgressDialog::SetTexts(std::string_view title, std::string_view detail) {
  line1_->setText(Text(title));
  line2_->setText(Text(detail));
}

void ProgressDialog::SetFraction(double done) {
  bar_->setValue(static_cast<int>(std::clamp(done, 0.0, 1.0) * 100.0));
}

bool ProgressDialog::Pump() {
  // A few times a second is enough to repaint and notice Cancel.
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (now - last_pump_ms_ >= 30) {
    last_pump_ms_ = now;
    QCoreApplication::processEvents();
  }
  return cancelled_;
}

}  // namespace sonavel
