#pragma once
// What an update run did, for the log of an unattended install (/LOG=FILE) and its
// exit code: files written, packs merged, files removed, and every problem the run
// showed, each with the exit code its outcome stands for (app/run_problem.h).

#include <string>
#include <string_view>
#include <vector>

#include "app/run_problem.h"

class RunReport {
 public:
  // Paths are system text (code page 950).
  void written(std::string_view path);
  void merged(std::string_view pack_path);
  void removed(std::string_view path);
  // A problem the run met at path; detail is the pack code's own reason where the
  // problem carries none (system text).
  void problem(RunProblem problem, std::string_view path, std::string_view detail = {});
  // The install folder the run writes into, named by the line of a wait for the game
  // that did not end.
  void set_folder(std::string_view folder) { folder_ = folder; }
  // The install folder could not be settled before the run: path_text is what the
  // dialog would show, reason says why in English.
  void folder_not_settled(std::string_view path_text, std::string_view reason);
  void package_damaged(std::string_view file, std::string_view reason);
  // The game still ran when an unattended install stopped waiting for it; the line
  // names the install folder.
  void game_running(std::string_view reason);

  int exit_code() const { return exit_code_; }
  // One UTF-8 line per event, without line breaks: "written PATH", "merged PATH",
  // "removed PATH", "refused PATH: REASON", "failed PATH: REASON".
  const std::vector<std::string>& lines() const { return lines_; }
  // The "refused" and "failed" lines alone.
  const std::vector<std::string>& problem_lines() const { return problem_lines_; }
  // The log file's text: every line, then "result CODE".
  std::string log_text() const;

 private:
  void add(std::string_view word, std::string_view path, std::string_view reason, int code);

  std::vector<std::string> lines_;
  std::vector<std::string> problem_lines_;
  int exit_code_ = EXIT_DONE;
  std::string folder_;
};

// The report the running update feeds, or null; set while a run is reported.
RunReport* active_run_report();
void set_active_run_report(RunReport* report);
