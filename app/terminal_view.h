#pragma once
// The update dialog as a terminal conversation, for people and for scripts. It
// prints the title, the path text, the release notes and the buttons that are
// shown, then reads one command a line: "ok" (or an empty line) while OK is shown,
// "cancel", or "browse" followed by a line holding the folder (an empty line
// cancels the browser). End of input cancels. Texts are converted between the
// system's code page 950 and the terminal's UTF-8.

#include <chrono>
#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "app/dialog_view.h"
#include "app/update_dialog.h"

class TerminalView : public DialogView {
 public:
  // input_is_terminal: a message box then waits for Enter. output_is_terminal: the
  // progress bar redraws one line instead of printing a line per step.
  TerminalView(std::istream& in, std::ostream& out, bool input_is_terminal, bool output_is_terminal);

  // How the view waits for input while the run waits for the game: true when a line
  // (or the end of input) can be read without blocking, within at most the time
  // given. Without one, input counts as always there, as a stream in memory is.
  void set_input_wait(std::function<bool(unsigned)> wait) { input_wait_ = std::move(wait); }

  // After the opening, makes folder the install folder as a pick of the browser does.
  void propose_folder_on_open(std::string folder) { proposed_folder_ = std::move(folder); }

  // Opens the dialog and handles commands until it ends; returns its result.
  int run(const DialogHost& host);

  void center_on_screen() override {}
  void show_control(int id, bool visible) override;
  void set_text(int id, std::string_view text) override;
  void set_progress_range(int count) override;
  void set_progress_position(int position) override;
  // While the run waits for the game, pauses by waiting for input: "cancel" or the
  // end of input stops the run (stop_requested), as Cancel does in the dialog.
  void pause(unsigned milliseconds) override;
  bool stop_requested() override { return stop_requested_; }
  bool browse_install_dir(std::string& folder) override;
  void message_box(std::string_view text, std::string_view caption) override;
  void end_dialog(int result) override;
  // On a terminal one line redrawn in place, at most every 100 ms; otherwise a plain
  // line at each tenth of the run and for each new state (waiting, done).
  void show_run_progress(std::uint64_t done, std::uint64_t total, std::string_view activity) override;

 private:
  bool visible(int id) const;
  void print_state();
  void print_notes();
  void draw_progress();
  void end_progress_line();
  // Reads one line of input; false at the end of input.
  bool read_line(std::string& line);

  std::istream& in_;
  std::ostream& out_;
  bool input_is_terminal_;
  bool output_is_terminal_;
  std::map<int, bool> visible_;
  std::map<int, std::string> texts_;
  int progress_range_ = 0;
  int progress_position_ = 0;
  bool progress_line_open_ = false;
  bool ended_ = false;
  int result_ = 0;
  std::optional<std::string> proposed_folder_;
  int messages_shown_ = 0;  // message boxes of the run: a run that showed any did not simply finish
  std::chrono::steady_clock::time_point last_drawn_{};
  int last_tenth_ = -1;
  std::string last_state_;
  std::function<bool(unsigned)> input_wait_;
  bool waiting_for_game_ = false;  // the run said it waits for the game to close
  bool stop_requested_ = false;
};
