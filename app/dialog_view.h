#pragma once
// What the update dialog's logic asks of a user interface. The Win32 dialog and the
// terminal front end implement it; tests record the calls. Texts are system bytes
// (code page 950); control ids are those of app/resource.h.

#include <cstdint>
#include <string>
#include <string_view>

class DialogView {
 public:
  virtual ~DialogView() = default;

  // Moves the dialog to the middle of the screen without resizing it.
  virtual void center_on_screen() = 0;
  virtual void show_control(int id, bool visible) = 0;
  // Replaces a control's text with exactly these bytes.
  virtual void set_text(int id, std::string_view text) = 0;
  // The progress bar's range 0 .. count, then its position.
  virtual void set_progress_range(int count) = 0;
  virtual void set_progress_position(int position) = 0;
  // Blocks the run for a while, the current progress shown.
  virtual void pause(unsigned milliseconds) = 0;
  // Lets the user pick a folder. On a pick writes its path into folder and returns
  // true; when the user cancels, leaves folder alone and returns false.
  virtual bool browse_install_dir(std::string& folder) = 0;
  // A modal message with one OK button.
  virtual void message_box(std::string_view text, std::string_view caption) = 0;
  // Ends the modal dialog; the dialog call returns result.
  virtual void end_dialog(int result) = 0;

  // How far the update run has come, by bytes, and what it is doing now (system text
  // for IDC_STATUS). Called often during a run; a view shows what it can afford.
  virtual void show_run_progress(std::uint64_t done, std::uint64_t total, std::string_view activity) {
    (void)done, (void)total, (void)activity;
  }
  // Makes a control take input or not (a disabled control stays visible).
  virtual void enable_control(int id, bool enabled) { (void)id, (void)enabled; }
  // True once the user asked to stop a run that has not written anything yet (Cancel
  // while the run waits for the game to close).
  virtual bool stop_requested() { return false; }
};
