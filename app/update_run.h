#pragma once
// The update run, started by the dialog's OK: what is opened on which path, in which
// order, and what the user sees of it.

#include <string>
#include <string_view>

#include "app/dialog_view.h"

// Applies the embedded package to install_dir: writes every entry of the payload
// "dll" there, then merges each configured "[pack%d]" pack into the game's pack of
// that name, moving the progress bar after each merge. Returns 0.
int run_update(DialogView& view);

// Number of "[pack%d]" sections, from 0 on, that carry a "name".
int count_merge_packs();

// Appends name to the directory path in buffer, with a "\" between them unless the
// buffer is empty or its last byte is "\" or "/".
void join_path(std::string& buffer, std::string_view name);
