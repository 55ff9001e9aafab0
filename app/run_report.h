#pragma once
// What an update run did, for the log of an unattended install (/LOG=FILE) and its
// exit code: files written, packs merged, files removed, and every problem the run
// showed, sorted into the exit codes below.

#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_view.h"

// Exit codes of the installer. The interactive installer ends with EXIT_DONE whatever
// happened, except for a damaged package; an unattended one reports the worst outcome.
inline constexpr int EXIT_DONE = 0;                // everything written
inline constexpr int EXIT_USAGE = 1;               // command line not understood; nothing done
inline constexpr int EXIT_PACKAGE_DAMAGED = 2;     // the package failed its check; nothing written
inline constexpr int EXIT_FOLDER_NOT_SETTLED = 3;  // no usable install folder; nothing written
inline constexpr int EXIT_FILES_NOT_WRITTEN = 4;   // some files or packs were not written; the rest were
inline constexpr int EXIT_GAME_RUNNING = 5;        // the game did not close in time; nothing written

class RunReport {
 public:
  // Paths are system text (code page 950).
  void written(std::string_view path);
  void merged(std::string_view pack_path);
  void removed(std::string_view path);
  // A message the run showed (text and caption as given to the message box); its
  // text decides the exit code it stands for.
  void problem(std::string_view text, std::string_view caption);
  // The install folder could not be settled before the run: path_text is what the
  // dialog would show, reason says why in English.
  void folder_not_settled(std::string_view path_text, std::string_view reason);
  void package_damaged(std::string_view file, std::string_view reason);
  // The game still ran when an unattended install stopped waiting for it.
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
};

// The report the running update feeds, or null; set while a run is reported.
RunReport* active_run_report();
void set_active_run_report(RunReport* report);

// A view that forwards everything to another and notes every message box in a report.
class ReportingView : public DialogView {
 public:
  ReportingView(DialogView& inner, RunReport& report) : inner_(inner), report_(report) {}
  void center_on_screen() override { inner_.center_on_screen(); }
  void show_control(int id, bool visible) override { inner_.show_control(id, visible); }
  void set_text(int id, std::string_view text) override { inner_.set_text(id, text); }
  void set_progress_range(int count) override { inner_.set_progress_range(count); }
  void set_progress_position(int position) override { inner_.set_progress_position(position); }
  void pause(unsigned milliseconds) override { inner_.pause(milliseconds); }
  bool browse_install_dir(std::string& folder) override { return inner_.browse_install_dir(folder); }
  void message_box(std::string_view text, std::string_view caption) override {
    report_.problem(text, caption);
    inner_.message_box(text, caption);
  }
  void end_dialog(int result) override { inner_.end_dialog(result); }
  void show_run_progress(std::uint64_t done, std::uint64_t total, std::string_view activity) override {
    inner_.show_run_progress(done, total, activity);
  }
  void enable_control(int id, bool enabled) override { inner_.enable_control(id, enabled); }
  bool stop_requested() override { return inner_.stop_requested(); }

 private:
  DialogView& inner_;
  RunReport& report_;
};
