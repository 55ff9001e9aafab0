#pragma once
// What can go wrong in an update run, one value per outcome. Each carries the text the
// user is shown, the log's word and English reason, and the installer's exit code: the
// code follows from what happened, never from the text of a message.

#include "platform/files.h"
#include "platform/write_folder.h"

// Exit codes of the installer. The interactive installer ends with EXIT_DONE whatever
// happened, except for a damaged package; an unattended one reports the worst outcome.
inline constexpr int EXIT_DONE = 0;                // everything written
inline constexpr int EXIT_USAGE = 1;               // command line not understood; nothing done
inline constexpr int EXIT_PACKAGE_DAMAGED = 2;     // the package failed its check; nothing written
inline constexpr int EXIT_FOLDER_NOT_SETTLED = 3;  // no usable install folder; nothing written
inline constexpr int EXIT_FILES_NOT_WRITTEN = 4;   // some files or packs were not written; the rest were
inline constexpr int EXIT_GAME_RUNNING = 5;        // the game did not close in time; nothing written

enum class RunProblem {
  folder_refused,        // the install folder is empty or the root of a drive or file system
  folder_missing,        // the install folder does not exist or is no folder
  folder_too_long,       // the install folder's path leaves no room for the files below it
  package_damaged,       // a pack or record of the update package is unusable
  game_pack_unreadable,  // a game pack exists but cannot be opened; its merge is skipped
  file_not_written,      // locked, no access, disk full
  link_in_way,           // a link stands where a level or the file should be
  folder_in_way,         // a folder stands where the file should be
  file_in_way,           // a file stands where a folder should be
  not_written,           // the pack code's own reason (given as detail) kept a file or pack unwritten
  removals_not_done,     // an earlier write failed, so nothing was removed
};

struct RunProblemText {
  const char* shown;   // code page 950 text of the message box; null: the detail is shown
  const char* word;    // the log line's first word: "refused" or "failed"
  const char* reason;  // the log's English; null: the detail (system text)
  int exit_code;
};

const RunProblemText& text_of(RunProblem problem);

// The problem a write status stands for (status is not ok).
RunProblem problem_of(platform::WriteStatus status);
// The problem a removal status stands for, or nothing for a removal that is done or
// needs none (removed, missing, not_empty).
bool problem_of(platform::WriteFolder::RemoveStatus status, RunProblem& problem);
