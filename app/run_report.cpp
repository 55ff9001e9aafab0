#include "app/run_report.h"

#include <algorithm>

#include "platform/text.h"

namespace {

RunReport* current_report = nullptr;

std::string utf8(std::string_view system_text) { return *platform::cp950_to_utf8(system_text, true); }

// Worse outcomes win: a damaged package over an unsettled folder over files not written.
int worse(int a, int b) {
  auto rank = [](int code) {
    switch (code) {
      case EXIT_PACKAGE_DAMAGED:
        return 3;
      case EXIT_FOLDER_NOT_SETTLED:
      case EXIT_GAME_RUNNING:
        return 2;
      case EXIT_FILES_NOT_WRITTEN:
        return 1;
      default:
        return 0;
    }
  };
  return rank(a) >= rank(b) ? a : b;
}

}  // namespace

RunReport* active_run_report() { return current_report; }
void set_active_run_report(RunReport* report) { current_report = report; }

void RunReport::add(std::string_view word, std::string_view path, std::string_view reason, int code) {
  std::string line = std::string(word) + " " + utf8(path);
  if (!reason.empty()) line += ": " + std::string(reason);
  // A line never breaks, whatever a path holds.
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  lines_.push_back(line);
  if (code != EXIT_DONE) problem_lines_.push_back(line);
  exit_code_ = worse(exit_code_, code);
}

void RunReport::written(std::string_view path) { add("written", path, {}, EXIT_DONE); }
void RunReport::merged(std::string_view pack_path) { add("merged", pack_path, {}, EXIT_DONE); }
void RunReport::removed(std::string_view path) { add("removed", path, {}, EXIT_DONE); }

void RunReport::problem(RunProblem problem, std::string_view path, std::string_view detail) {
  const RunProblemText& text = text_of(problem);
  add(text.word, path, text.reason != nullptr ? std::string(text.reason) : utf8(detail), text.exit_code);
}

void RunReport::folder_not_settled(std::string_view path_text, std::string_view reason) {
  add("refused", path_text, reason, EXIT_FOLDER_NOT_SETTLED);
}

void RunReport::package_damaged(std::string_view file, std::string_view reason) {
  add("refused", file, "the update package is damaged: " + std::string(reason), EXIT_PACKAGE_DAMAGED);
}

void RunReport::game_running(std::string_view reason) { add("refused", folder_, reason, EXIT_GAME_RUNNING); }

std::string RunReport::log_text() const {
  std::string text;
  for (const auto& line : lines_) text += line + "\n";
  text += "result " + std::to_string(exit_code_) + "\n";
  return text;
}
