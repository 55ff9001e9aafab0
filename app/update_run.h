#pragma once
// The update run, started by the dialog's OK: what is opened on which path, in which
// order, and what the user sees of it.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_view.h"

// What run_update returns.
constexpr int RUN_DONE = 0;     // the run went to its end (problems, if any, were shown)
constexpr int RUN_STOPPED = 1;  // the user stopped it while it waited for the game

// Applies the embedded package to install_dir in named steps (see update_run.cpp):
// settles the folder, checks the package, waits while the game still runs, writes
// every entry of the payload "dll" there, merges each configured "[pack%d]" pack into
// the game's pack of that name (moving the progress bar after each merge), applies
// the removal records when every write succeeded, and says how it ended. Shows its
// progress by bytes with what it is doing.
int run_update(DialogView& view);

// Whether the game client still runs: a window of its class exists. The platform's
// answer unless a test puts its own.
extern std::function<bool()> game_still_running;

// The "name" of each "[pack%d]" section, from 0 on up to the first without one.
std::vector<std::string> merge_pack_names();

// Appends name to the directory path in buffer, with a "\" between them unless the
// buffer is empty or its last byte is "\" or "/".
void join_path(std::string& buffer, std::string_view name);
