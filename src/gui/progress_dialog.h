#pragma once
// The progress window of long operations ("LProgressDialog"): two text lines, a bar and
// Cancel. While it is up the owner window is disabled; the operation pumps the event
// loop between its pieces, so the window repaints and Cancel can be pressed.

#include <QDialog>

#include "platform/ui.h"

class QLabel;
class QProgressBar;

namespace sonavel {

class ProgressDialog final : public QDialog, public Progress {
  Q_OBJECT

 public:
  ProgressDialog(QWidget* owner, const QString& title);
  ~ProgressDialog() override;

  void SetTexts(std::string_view title, std::string_view detail) override;
  void SetFraction(double done) override;
  bool Pump() override;

  bool cancelled() const { return cancelled_; }

 private:
  QWidget* owner_;
  QLabel* line1_;
  QLabel* line2_;
  QProgressBar* bar_;
  bool cancelled_ = false;
  qint64 last_pump_ms_ = 0;
};

}  // namespace sonavel
