#pragma once
// What an update run tells the user and its log. Every problem goes to the view's
// message box (its path as caption) and to the run's report as the outcome it is
// (app/run_problem.h); the count of problems decides whether the run's removals may
// happen and what the run says at its end.

#include <string>
#include <string_view>

#include "app/dialog_view.h"
#include "app/run_problem.h"
#include "app/run_report.h"
#include "pak/archive.h"

class RunNotes final : public WriteProblemReporter {
 public:
  explicit RunNotes(DialogView& view) : view_(view), report_(active_run_report()) {}
  void problem(RunProblem problem, const std::string& path, const std::string& detail = {}) {
    ++problems_;
    const char* shown = text_of(problem).shown;
    view_.message_box(shown != nullptr ? std::string_view(shown) : std::string_view(detail), path);
    if (report_ != nullptr) report_->problem(problem, path, detail);
  }
  void report(const std::string& text, const std::string& path) override {
    problem(RunProblem::not_written, path, text);
  }
  void write_failed(platform::WriteStatus status, const std::string& path) override {
    problem(problem_of(status), path);
  }
  void written(const std::string& path) override {
    if (report_ != nullptr) report_->written(path);
  }
  void merged(const std::string& path) {
    if (report_ != nullptr) report_->merged(path);
  }
  void removed(const std::string& path) {
    if (report_ != nullptr) report_->removed(path);
  }
  void folder(const std::string& path) {
    if (report_ != nullptr) report_->set_folder(path);
  }
  int problems() const { return problems_; }

 private:
  DialogView& view_;
  RunReport* report_;
  int problems_ = 0;
};
