// The update run, in its steps (run_update lists them in order):
//   plan            what the configuration asks for: merge packs, removal records
//   settle folder   the install folder, refused unless it can be trusted
//   check package   every pack the run takes from the update package, opened once
//   wait for game   nothing is written while the game runs
//   write payload   the payload's entries as files in the install folder
//   merge packs     each configured pack into the game's pack of its name
//   remove          the removal records, only when every write before succeeded
//   report          "done", or the number of problems
// Every write lands inside the install folder: its packs come from the update package
// only, and are all checked before anything is written.

#include "app/update_run.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/removals.h"
#include "app/resource.h"
#include "app/run_messages.h"
#include "app/run_notes.h"
#include "app/run_progress.h"
#include "app/run_report.h"
#include "pak/entry_path.h"
#include "pak/pack_walk.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/write_folder.h"

namespace {

constexpr std::uint32_t SLOT_COUNT = 5;

std::string pack_section(int n) { return "[pack" + std::to_string(n) + "]"; }

// The "name" of section "[pack{n}]", or null.
const char* merge_pack_name(int n) { return update_ini.get(pack_section(n).c_str(), "name", nullptr); }

// True when the last byte of path is a separator, not the trail byte of a double-byte
// character.
bool ends_in_separator(std::string_view path) {
  return !path.empty() && platform::find_last_separator(path, true) == path.size() - 1;
}

// install_dir without its trailing separators: the folder the run writes into.
std::string folder_of(std::string path) {
  while (ends_in_separator(path)) path.pop_back();
  return path;
}

// A drive letter alone ("C:") names a drive's root once the separator is gone.
bool is_drive_root(std::string_view folder) {
  return folder.size() == 2 && folder[1] == ':' &&
         ((folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z'));
}

// Step: settles the install folder and opens it for writing, or says why it cannot
// be written to.
bool settle_folder(RunNotes& notes, platform::WriteFolder& folder, std::string& folder_path) {
  folder_path = folder_of(install_dir);
  if (folder_path.empty() || is_drive_root(folder_path)) {
    notes.problem(RunProblem::folder_refused, install_dir);
    return false;
  }
  // A folder that depends on the current folder is no install folder: shown as one
  // that is not there.
  if (!platform::is_absolute_path(folder_path)) {
    notes.problem(RunProblem::folder_missing, install_dir);
    return false;
  }
  // The base of every archive of the run is the folder and one separator.
  if (folder_path.size() + 1 > PAK_MAX_BASE_PATH_LENGTH) {
    notes.problem(RunProblem::folder_too_long, install_dir);
    return false;
  }
  if (folder.open(folder_path) != platform::WriteFolder::Status::ok) {
    notes.problem(RunProblem::folder_missing, install_dir);
    return false;
  }
  if (platform::is_file_system_root(folder_path)) {
    notes.problem(RunProblem::folder_refused, install_dir);
    return false;
  }
  notes.folder(folder_path);
  return true;
}

// A merge pack's name is one plain file name: the rules of entry names, no separator.
bool is_plain_pack_name(std::string_view name) {
  return pak::unsafe_path_reason(name) == nullptr && platform::find_separator(name, 0, true) == name.size() &&
         name.size() + 4 <= PAK_MAX_PATH_LENGTH;
}

// What the configuration asks the run to do, read before anything else.
struct RunPlan {
  std::vector<std::string> merges;  // names of "[pack0]", "[pack1]", ... in order
  pak::RemovalPlan removals;
  bool removals_sound = true;
  std::string removal_problem;  // why the removal records were refused
  // Packs rebuilt for their removals after the merges: every pack with removals but
  // the last merge's, which takes its removals in its own rebuild.
  std::vector<std::string> removal_packs;
};

// Step: reads the merge packs and removal records of update_ini.
void read_plan(RunPlan& plan) {
  plan.merges = merge_pack_names();
  plan.removals_sound = pak::read_removals(update_ini, plan.removals, plan.removal_problem);
}

// The packs with removals but the last merge's: they are rebuilt for their removals
// after the merges.
std::vector<std::string> packs_rebuilt_for_removals(const RunPlan& plan, const pak::PackRemovalIndex& index) {
  std::vector<std::string> packs;
  const std::string last_merge = plan.merges.empty() ? std::string() : folded_name(plan.merges.back());
  for (const std::string& name : index.names())
    if (plan.merges.empty() || folded_name(name) != last_merge) packs.push_back(name);
  return packs;
}

// The packs of the update package, opened once by the check and used by the steps
// after it.
struct Package {
  PakArchive payload;
  std::vector<std::unique_ptr<PakArchive>> merges;  // one for each name of RunPlan::merges
};

// Step: opens the packs the run takes from the update package before anything is
// written: the payload, when there is one, must be readable, and every configured
// merge pack must be named plainly, be there and be readable. The removal records
// must be sound too.
bool check_package(RunNotes& notes, const RunPlan& plan, Package& package) {
  package.payload.reporter = &notes;
  if (package.payload.open_package("dll", SLOT_COUNT) != 1) {
    notes.problem(RunProblem::package_damaged, "DLL.PAK");
    return false;
  }
  for (std::size_t n = 0; n < plan.merges.size(); ++n) {
    const std::string& name = plan.merges[n];
    if (!is_plain_pack_name(name)) {
      notes.problem(RunProblem::package_damaged, pack_section(int(n)) + " name=" + name);
      return false;
    }
    auto pack = std::make_unique<PakArchive>();
    pack->reporter = &notes;
    if (pack->open_package(name.c_str(), SLOT_COUNT) != 1 || pack->is_open != 1) {
      notes.problem(RunProblem::package_damaged, name + ".pak");
      return false;
    }
    package.merges.push_back(std::move(pack));
  }
  if (!plan.removals_sound) {
    notes.problem(RunProblem::package_damaged, plan.removal_problem);
    return false;
  }
  return true;
}

// How often the run looks again whether the game has closed.
constexpr unsigned GAME_POLL_MILLISECONDS = 250;

// Bytes that writing every entry of the pack as a file produces: decoded sizes of
// EnCode entries, stored sizes of raw ones.
std::uint64_t decoded_bytes(const PakArchive& pack) {
  if (pack.is_open != 1) return 0;
  std::uint64_t total = 0;
  pak::WalkCallbacks callbacks;
  callbacks.on_entry = [&](const pak::WalkEntry& entry) {
    total += pak::looks_encoded(entry.bytes) && entry.bytes.size() >= 10 ? pak::encoded_size(entry.bytes)
                                                                         : entry.bytes.size();
  };
  pak::walk_pack(pack.view, pack.view_size, callbacks);
  return total;
}

// The bytes the whole run will write: the payload's files, and for each merge the
// rebuilt pack (about the old pack and the merged entries) or the loose files.
std::uint64_t planned_bytes(platform::WriteFolder& folder, const RunPlan& plan, const Package& package) {
  std::uint64_t total = decoded_bytes(package.payload);
  for (std::size_t n = 0; n < plan.merges.size(); ++n) {
    const PakArchive& source = *package.merges[n];
    PakArchive target;
    if (target.open_in(folder, plan.merges[n], SLOT_COUNT, 0) == 1 && target.is_open == 1)
      total += target.view_size + source.view_size;
    else
      total += decoded_bytes(source);
  }
  return total;
}

// Step: waits while the game still runs, saying so. False when the user stopped the run.
bool wait_for_game(DialogView& view) {
  bool told = false;
  while (game_still_running()) {
    if (!told) view.show_run_progress(0, 0, GAME_RUNNING_TEXT);
    told = true;
    if (view.stop_requested()) return false;
    view.pause(GAME_POLL_MILLISECONDS);
  }
  return !view.stop_requested();
}

// What the writing steps share: where they write, and whom they tell.
struct RunTarget {
  DialogView& view;
  RunNotes& notes;
  RunProgress& progress;
  platform::WriteFolder& folder;
  const std::string& folder_path;
};

// Step: writes every entry of the payload as a file below the install folder.
void write_payload(RunTarget& run, PakArchive& payload) {
  run.progress.set_prefix(WRITING_TEXT);
  PakArchive installation;
  installation.reporter = &run.notes;
  installation.progress = &run.progress;
  if (installation.open_in(run.folder, "", SLOT_COUNT, 1) == 1)
    installation.import_pack(payload);
  else
    run.notes.problem(RunProblem::game_pack_unreadable, run.folder_path + "\\.pak");
}

// Step: merges the package's pack source into the game's pack name: a rebuild of the
// pack, or loose files below name when the game has no such pack. With removals, the
// entries listed for the pack leave in the same rebuild.
void merge_pack(RunTarget& run, const std::string& name, PakArchive& source, const pak::PackRemovalIndex* removals) {
  pack_path = run.folder_path + "\\";
  join_path(pack_path, name);
  PakArchive target;
  target.reporter = &run.notes;
  target.progress = &run.progress;
  run.progress.set_prefix(MERGING_TEXT);
  if (target.open_in(run.folder, name, SLOT_COUNT, 0) != 1) {
    run.notes.problem(RunProblem::game_pack_unreadable, pack_path + ".pak");
    return;
  }
  if (target.is_open != 1) run.progress.set_prefix(WRITING_TEXT);
  std::vector<std::string> removed;
  if (removals != nullptr) removed = stage_pack_removals(target, *removals, name);
  const std::string shown_pack = target.base_path + ".pak";
  if (target.import_pack(source) == 1 && !target.rebuilt_path.empty()) {
    run.notes.merged(target.rebuilt_path);
    // An entry the merge brings again is replaced, not removed.
    for (const std::string& entry : removed)
      if (source.find_record(entry.c_str()) == nullptr) run.notes.removed(shown_pack + "\\" + entry);
  }
}

// Rebuilds the game's pack name without the entries listed for it.
void remove_pack_entries(RunTarget& run, const std::string& name, const pak::PackRemovalIndex& removals) {
  PakArchive target;
  target.reporter = &run.notes;
  target.progress = &run.progress;
  if (target.open_in(run.folder, name, SLOT_COUNT, 0) != 1) {
    run.notes.problem(RunProblem::game_pack_unreadable, run.folder_path + "\\" + name + ".pak");
    return;
  }
  const auto removed = stage_pack_removals(target, removals, name);
  if (removed.empty()) return;
  const std::string shown_pack = target.base_path + ".pak";
  if (target.rebuild((target.base_path + "temp").c_str(), 1) == 1)
    for (const std::string& entry : removed) run.notes.removed(shown_pack + "\\" + entry);
}

// Deletes the listed loose files, then the listed folders that are empty by then. A
// file that is not there is no error; one that cannot be deleted is a problem like a
// file that cannot be written, and the run goes on. A folder that still holds
// something stays.
void delete_loose_files(RunTarget& run, const pak::RemovalPlan& plan) {
  auto remove = [&](platform::WriteFolder::RemoveStatus status, const std::string& relative) {
    const std::string path = run.folder_path + "\\" + relative;
    if (RunProblem problem; problem_of(status, problem))
      run.notes.problem(problem, path);
    else if (status == platform::WriteFolder::RemoveStatus::removed)
      run.notes.removed(path);
  };
  run.folder.keep_listings_for_removals(true);
  for (const std::string& file : plan.files) remove(run.folder.remove_file(file), file);
  for (const std::string& directory : plan.directories) remove(run.folder.remove_empty_directory(directory), directory);
  run.folder.keep_listings_for_removals(false);
}

// Step: the removals, only when every write before them succeeded, so that no file
// or entry goes whose replacement was not written; otherwise they wait for the next
// run. position is the progress bar's position after the merges.
void remove_old(RunTarget& run, const RunPlan& plan, const pak::PackRemovalIndex& index, int position) {
  if (plan.removals.empty()) return;
  if (run.notes.problems() > 0) {
    run.notes.problem(RunProblem::removals_not_done, run.folder_path);
    return;
  }
  run.progress.set_prefix(MERGING_TEXT);
  for (const std::string& name : plan.removal_packs) {
    remove_pack_entries(run, name, index);
    run.view.set_progress_position(++position);
  }
  delete_loose_files(run, plan.removals);
}

}  // namespace

std::function<bool()> game_still_running = [] { return platform::game_window_exists(GAME_WINDOW_CLASS); };

std::vector<std::string> merge_pack_names() {
  std::vector<std::string> names;
  while (const char* name = merge_pack_name(int(names.size()))) names.emplace_back(name);
  return names;
}

void join_path(std::string& buffer, std::string_view name) {
  if (!buffer.empty() && !ends_in_separator(buffer)) buffer += '\\';
  buffer += name;
}

int run_update(DialogView& view) {
  RunNotes notes(view);
  RunPlan plan;
  read_plan(plan);
  const pak::PackRemovalIndex removal_index(plan.removals);
  plan.removal_packs = packs_rebuilt_for_removals(plan, removal_index);
  const int merge_count = int(plan.merges.size());
  // Packs rebuilt for removals count as merges on the progress bar.
  view.set_progress_range(merge_count + int(plan.removal_packs.size()));

  platform::WriteFolder folder;
  std::string folder_path;
  if (!settle_folder(notes, folder, folder_path)) return RUN_DONE;
  Package package;
  if (!check_package(notes, plan, package)) return RUN_DONE;
  // The game's files are not touched while it runs; once writing starts, the run
  // cannot be stopped.
  if (!wait_for_game(view)) return RUN_STOPPED;
  view.enable_control(IDCANCEL, false);

  RunProgress progress(view, planned_bytes(folder, plan, package));
  RunTarget run{view, notes, progress, folder, folder_path};
  write_payload(run, package.payload);
  for (int n = 0; n < merge_count; ++n) {
    // The last merge takes its pack's removals when every write before it succeeded:
    // nothing is written after it, and its rebuild replaces the pack in one step.
    const bool takes_removals = n == merge_count - 1 && notes.problems() == 0;
    merge_pack(run, plan.merges[n], *package.merges[n], takes_removals ? &removal_index : nullptr);
    view.set_progress_position(n + 1);
    view.pause(100);
  }
  remove_old(run, plan, removal_index, merge_count);
  progress.finish(notes.problems());
  return RUN_DONE;
}
