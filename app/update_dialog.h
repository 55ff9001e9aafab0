#pragma once
// The update dialog's logic, apart from any toolkit: what the opening proposes, what
// each command does, and the update run. It works on the program-wide objects of
// app/program.h and talks to the user only through a DialogView.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/dialog_view.h"
#include "platform/resources.h"

// The facts of the system that the opening reads; tests put their own in.
struct DialogHost {
  // The Windows directory, without a trailing separator.
  std::function<std::string()> windows_directory;
  // The bytes of the program's data resource of that name, if any.
  std::function<std::optional<platform::ByteView>(std::string_view)> find_resource;

  // The running system's facts.
  static DialogHost system();
};

// Opening of the dialog: centres it, settles the proposed path and whether OK is
// offered, shows the release notes, sets the path text and makes install_dir the
// path text followed by "\".
//
// The path comes from "[inst_path]" "path" of the game's INI when "[inst]" "win_ini"
// names one: it is read from the pack {windir}\{win_ini}.pak, else from the loose
// file {windir}\{win_ini}\{win_ini}, else from the plain file {windir}\{win_ini}
// where the game keeps it. Without "win_ini" the path is "[inst]" "dir", or
// "can't find".
void open_update_dialog(DialogView& view, const DialogHost& host);

// A command of the dialog; command is the whole wParam, so a notification code other
// than 0 makes it no command. IDOK runs the update and ends the dialog with 0,
// IDCANCEL ends it with -1, IDC_BROWSE lets the user pick install_dir.
void update_dialog_command(DialogView& view, std::uintptr_t command);

// The OK command in its steps, for a front end that runs the update elsewhere: the
// controls of a run (notes hidden, progress and status shown, OK and the folder
// browser disabled), then run_update, then the dialog's end (0, or -1 when the user
// stopped the run before it wrote anything).
void begin_update(DialogView& view);
void finish_update(DialogView& view, int run_result);

// Centred origin of a window of the given size on a screen of the given size.
struct Origin {
  int x;
  int y;
};
Origin centered_origin(int screen_width, int screen_height, int width, int height);
