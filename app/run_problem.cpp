#include "app/run_problem.h"

#include "app/run_messages.h"
#include "pak/write_messages.h"

const RunProblemText& text_of(RunProblem problem) {
  static const RunProblemText FOLDER_REFUSED{
      FOLDER_REFUSED_TEXT, "refused", "not an install folder (empty, or the root of a drive)", EXIT_FOLDER_NOT_SETTLED};
  static const RunProblemText FOLDER_MISSING{FOLDER_MISSING_TEXT, "refused", "the install folder does not exist",
                                             EXIT_FOLDER_NOT_SETTLED};
  static const RunProblemText FOLDER_TOO_LONG{FOLDER_TOO_LONG_TEXT, "refused", "the install folder's path is too long",
                                              EXIT_FOLDER_NOT_SETTLED};
  static const RunProblemText PACKAGE_DAMAGED{PACKAGE_DAMAGED_TEXT, "refused", "the update package is damaged",
                                              EXIT_PACKAGE_DAMAGED};
  static const RunProblemText GAME_PACK_UNREADABLE{GAME_PACK_UNREADABLE_TEXT, "failed",
                                                   "the game's pack cannot be opened; its merge was skipped",
                                                   EXIT_FILES_NOT_WRITTEN};
  static const RunProblemText FILE_NOT_WRITTEN{
      pak::FILE_LOCKED_TEXT, "failed", "cannot be written (locked by a running program, no access or disk full)",
      EXIT_FILES_NOT_WRITTEN};
  static const RunProblemText LINK_IN_WAY{pak::LINK_IN_WAY_TEXT, "refused",
                                          "a link stands in the way; nothing is written through a link",
                                          EXIT_FILES_NOT_WRITTEN};
  static const RunProblemText FOLDER_IN_WAY{pak::FOLDER_IN_WAY_TEXT, "refused",
                                            "a folder stands where the file should be", EXIT_FILES_NOT_WRITTEN};
  static const RunProblemText FILE_IN_WAY{pak::FILE_IN_WAY_TEXT, "refused", "a file stands where a folder should be",
                                          EXIT_FILES_NOT_WRITTEN};
  static const RunProblemText NOT_WRITTEN{nullptr, "failed", nullptr, EXIT_FILES_NOT_WRITTEN};
  static const RunProblemText REMOVALS_NOT_DONE{
      REMOVALS_NOT_DONE_TEXT, "failed",
      "removals not done: an earlier write failed, so the old files and entries stay; run the update again",
      EXIT_FILES_NOT_WRITTEN};
  switch (problem) {
    case RunProblem::folder_refused:
      return FOLDER_REFUSED;
    case RunProblem::folder_missing:
      return FOLDER_MISSING;
    case RunProblem::folder_too_long:
      return FOLDER_TOO_LONG;
    case RunProblem::package_damaged:
      return PACKAGE_DAMAGED;
    case RunProblem::game_pack_unreadable:
      return GAME_PACK_UNREADABLE;
    case RunProblem::file_not_written:
      return FILE_NOT_WRITTEN;
    case RunProblem::link_in_way:
      return LINK_IN_WAY;
    case RunProblem::folder_in_way:
      return FOLDER_IN_WAY;
    case RunProblem::file_in_way:
      return FILE_IN_WAY;
    case RunProblem::not_written:
      return NOT_WRITTEN;
    case RunProblem::removals_not_done:
      return REMOVALS_NOT_DONE;
  }
  return NOT_WRITTEN;
}

RunProblem problem_of(platform::WriteStatus status) {
  switch (status) {
    case platform::WriteStatus::link_in_way:
      return RunProblem::link_in_way;
    case platform::WriteStatus::not_a_file:
      return RunProblem::folder_in_way;
    case platform::WriteStatus::not_a_folder:
      return RunProblem::file_in_way;
    case platform::WriteStatus::ok:
    case platform::WriteStatus::cannot_open:
    case platform::WriteStatus::write_failed:
    case platform::WriteStatus::bad_path:
      break;
  }
  return RunProblem::file_not_written;
}

bool problem_of(platform::WriteFolder::RemoveStatus status, RunProblem& problem) {
  using Status = platform::WriteFolder::RemoveStatus;
  switch (status) {
    case Status::removed:
    case Status::missing:
    case Status::not_empty:
      return false;
    case Status::link_in_way:
      problem = RunProblem::link_in_way;
      return true;
    case Status::not_a_file:
      problem = RunProblem::folder_in_way;
      return true;
    case Status::not_a_folder:
      problem = RunProblem::file_in_way;
      return true;
    case Status::failed:
    case Status::bad_path:
      break;
  }
  problem = RunProblem::file_not_written;
  return true;
}
