#pragma once
// The progress of a long operation, as the operation reports it and polls for a cancel.

#include <string>
#include <string_view>

namespace sonavel {

// A long operation's progress: two text lines, a bar, and a way to cancel. The operation
// calls Pump between pieces of work so that the user interface stays alive.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void SetTexts(std::string_view title, std::string_view detail) = 0;
  virtual void SetFraction(double done) = 0;  // 0 … 1
  // True once the user asked to cancel.
  virtual bool Pump() = 0;
};

// Shows nothing and never cancels.
class SilentProgress final : public Progress {
 public:
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override { return false; }
};

// A bar on standard error when it is a terminal ("title  [#####.....]  45%"); nothing
// otherwise. Never cancels: the terminal's interrupt ends the program instead.
class ConsoleProgress final : public Progress {
 public:
  ConsoleProgress();
  ~ConsoleProgress() override;
  void SetTexts(std::string_view title, std::string_view detail) override;
  void SetFraction(double done) override;
  bool Pump() override { return false; }

 private:
  void Draw();
  bool terminal_;
  bool drawn_ = false;
  std::string title_;
  int percent_ = -1;
};

}  // namespace sonavel
