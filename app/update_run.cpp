// The update run: writes the payload into install_dir and merges the configured
// packs into the game's packs. Every write lands inside the install folder: the run
// settles that folder first and refuses one it cannot trust, takes its packs from the
// update package only, and checks them all before anything is written.

#include "app/update_run.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/removals.h"
#include "app/resource.h"
#include "app/run_messages.h"
#include "app/run_report.h"
#include "pak/entry_path.h"
#include "pak/pack_walk.h"
#include "platform/codepage.h"
#include "platform/system.h"
#include "platform/write_folder.h"

namespace {

constexpr std::uint32_t SLOT_COUNT = 5;

// What the run tells the user and the log: every problem goes to the view's message
// box (the path as caption) and to the report, as the outcome it is; the count of
// problems decides whether the removals may run and what the run says at its end.
class RunNotes final : public WriteProblemReporter {
 public:
  explicit RunNotes(DialogView& view) : view_(view), report_(active_run_report()) {}
  void problem(RunProblem problem, const std::string& path, const std::string& detail = {}) {
    ++problems_;
    const char* shown = text_of(problem).shown;
    view_.message_box(shown != nullptr ? std::string_view(shown) : std::string_view(detail), path);
    if (report_ != nullptr) report_->problem(problem, path, detail);
  }
  void report(const std::string& text, const std::string& path) override {
    problem(RunProblem::not_written, path, text);
  }
  void write_failed(platform::WriteStatus status, const std::string& path) override {
    problem(problem_of(status), path);
  }
  void written(const std::string& path) override {
    if (report_ != nullptr) report_->written(path);
  }
  void merged(const std::string& path) {
    if (report_ != nullptr) report_->merged(path);
  }
  void removed(const std::string& path) {
    if (report_ != nullptr) report_->removed(path);
  }
  void folder(const std::string& path) {
    if (report_ != nullptr) report_->set_folder(path);
  }
  int problems() const { return problems_; }

 private:
  DialogView& view_;
  RunReport* report_;
  int problems_ = 0;
};

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

// Opens the install folder, or says in the message box why it cannot be written to.
bool open_install_folder(RunNotes& notes, platform::WriteFolder& folder, std::string& folder_path) {
  folder_path = folder_of(install_dir);
  if (folder_path.empty() || is_drive_root(folder_path)) {
    notes.problem(RunProblem::folder_refused, install_dir);
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

// Checks the packs the run takes from the update package before anything is written:
// the payload, when there is one, must be readable, and every configured merge pack
// must be named plainly, be there and be readable.
bool package_is_sound(RunNotes& notes) {
  PakArchive pack;
  if (pack.open_package("dll", SLOT_COUNT) != 1) {
    notes.problem(RunProblem::package_damaged, "DLL.PAK");
    return false;
  }
  for (int n = 0; const char* name = merge_pack_name(n); ++n) {
    if (!is_plain_pack_name(name)) {
      notes.problem(RunProblem::package_damaged, pack_section(n) + " name=" + name);
      return false;
    }
    if (pack.open_package(name, SLOT_COUNT) != 1 || pack.is_open != 1) {
      notes.problem(RunProblem::package_damaged, std::string(name) + ".pak");
      return false;
    }
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
std::uint64_t planned_bytes(platform::WriteFolder& folder, const PakArchive& payload) {
  std::uint64_t total = decoded_bytes(payload);
  for (int n = 0; const char* name = merge_pack_name(n); ++n) {
    PakArchive target, source;
    source.open_package(name, SLOT_COUNT);
    if (target.open_in(folder, name, SLOT_COUNT, 0) == 1 && target.is_open == 1)
      total += target.view_size + source.view_size;
    else
      total += decoded_bytes(source);
  }
  return total;
}

// Turns the pack code's progress into the view's: bytes of the whole run, and the
// file or pack being written.
class RunProgress final : public ProgressListener {
 public:
  RunProgress(DialogView& view, std::uint64_t total) : view_(view), total_(total) {}
  void progress(std::uint64_t, std::uint64_t) override {}
  void item(const std::string& path) override {
    activity_ = prefix_ + path;
    show();
  }
  void wrote(std::uint64_t bytes) override {
    done_ += bytes;
    show();
  }
  // What the items from now on are: files written, or packs merged.
  void set_prefix(const char* prefix) { prefix_ = prefix; }
  // The end of the run: the bar full, and "done" only when nothing failed, else the
  // number of problems.
  void finish(int problems) {
    done_ = total_ = std::max(done_, total_);
    activity_ = problems == 0 ? std::string(RUN_DONE_TEXT) : RUN_INCOMPLETE_TEXT + std::to_string(problems);
    show();
  }

 private:
  void show() { view_.show_run_progress(std::min(done_, total_), total_, activity_); }

  DialogView& view_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::string prefix_;
  std::string activity_;
};

// Waits while the game still runs, saying so. False when the user stopped the run.
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

// Deletes the listed loose files, then the listed folders that are empty by then. A
// file that is not there is no error; one that cannot be deleted is a problem like a
// file that cannot be written, and the run goes on. A folder that still holds
// something stays.
void delete_loose_files(platform::WriteFolder& folder, const std::string& folder_path, const pak::RemovalPlan& plan,
                        RunNotes& notes) {
  auto remove = [&](platform::WriteFolder::RemoveStatus status, const std::string& relative) {
    const std::string path = folder_path + "\\" + relative;
    if (RunProblem problem; problem_of(status, problem))
      notes.problem(problem, path);
    else if (status == platform::WriteFolder::RemoveStatus::removed)
      notes.removed(path);
  };
  for (const std::string& file : plan.files) remove(folder.remove_file(file), file);
  for (const std::string& directory : plan.directories) remove(folder.remove_empty_directory(directory), directory);
}

}  // namespace

std::function<bool()> game_still_running = [] { return platform::game_window_exists(GAME_WINDOW_CLASS); };

int count_merge_packs() {
  int count = 0;
  while (merge_pack_name(count)) ++count;
  return count;
}

void join_path(std::string& buffer, std::string_view name) {
  if (!buffer.empty() && !ends_in_separator(buffer)) buffer += '\\';
  buffer += name;
}

int run_update(DialogView& view) {
  RunNotes notes(view);
  const int count = count_merge_packs();
  // Removal records (an extension of the package): packs rebuilt for removals count as
  // merges for the progress bar. The last merge's pack takes its removals in its own
  // rebuild; every other pack with removals is rebuilt for them after the merges.
  pak::RemovalPlan removals;
  std::string removal_problem;
  const bool removals_sound = pak::read_removals(update_ini, removals, removal_problem);
  const pak::PackRemovalIndex removal_index(removals);
  const std::string last_merge = count > 0 ? folded_name(merge_pack_name(count - 1)) : std::string();
  std::vector<std::string> removal_packs;
  for (const std::string& name : removal_index.names())
    if (count == 0 || folded_name(name) != last_merge) removal_packs.push_back(name);
  view.set_progress_range(count + int(removal_packs.size()));

  platform::WriteFolder folder;
  std::string folder_path;
  if (!open_install_folder(notes, folder, folder_path) || !package_is_sound(notes)) return RUN_DONE;
  if (!removals_sound) {
    notes.problem(RunProblem::package_damaged, removal_problem);
    return RUN_DONE;
  }
  // The game's files are not touched while it runs; once writing starts, the run
  // cannot be stopped.
  if (!wait_for_game(view)) return RUN_STOPPED;
  view.enable_control(IDCANCEL, false);

  PakArchive payload;
  payload.reporter = &notes;
  payload.open_package("dll", SLOT_COUNT);
  RunProgress progress(view, planned_bytes(folder, payload));
  progress.set_prefix(WRITING_TEXT);
  {
    PakArchive installation;
    installation.reporter = &notes;
    installation.progress = &progress;
    if (installation.open_in(folder, "", SLOT_COUNT, 1) == 1)
      installation.import_pack(payload);
    else
      notes.problem(RunProblem::game_pack_unreadable, folder_path + "\\.pak");
    installation.close();
  }

  for (int n = 0; const char* name_value = merge_pack_name(n); ++n) {
    const std::string name = name_value;
    pack_path = folder_path + "\\";
    join_path(pack_path, name);
    PakArchive target;
    target.reporter = &notes;
    target.progress = &progress;
    // A merge into a pack rebuilds it; one without a game pack writes files.
    progress.set_prefix(MERGING_TEXT);
    if (target.open_in(folder, name, SLOT_COUNT, 0) == 1) {
      if (target.is_open != 1) progress.set_prefix(WRITING_TEXT);
      PakArchive source;
      source.reporter = &notes;
      source.open_package(name.c_str(), SLOT_COUNT);
      // Removals ride in the last merge's rebuild when every write before it succeeded:
      // nothing is written after it, and its rebuild replaces the pack in one step.
      std::vector<std::string> removed;
      if (n == count - 1 && notes.problems() == 0) removed = stage_pack_removals(target, removal_index, name);
      const std::string shown_pack = target.base_path + ".pak";
      if (target.import_pack(source) == 1 && !target.rebuilt_path.empty()) {
        notes.merged(target.rebuilt_path);
        for (const std::string& entry : removed)
          if (source.find_record(entry.c_str()) == nullptr) notes.removed(shown_pack + "\\" + entry);
      }
      source.close();
    } else {
      notes.problem(RunProblem::game_pack_unreadable, pack_path + ".pak");
    }
    view.set_progress_position(n + 1);
    view.pause(100);
    target.close();
  }

  // The removals: only when every write before succeeded, so that no file or entry
  // goes whose replacement was not written; otherwise they wait for the next run.
  if (notes.problems() > 0 && !removals.empty()) {
    notes.problem(RunProblem::removals_not_done, folder_path);
  } else {
    int position = count;
    progress.set_prefix(MERGING_TEXT);
    for (const std::string& name : removal_packs) {
      PakArchive target;
      target.reporter = &notes;
      target.progress = &progress;
      if (target.open_in(folder, name, SLOT_COUNT, 0) != 1) {
        notes.problem(RunProblem::game_pack_unreadable, folder_path + "\\" + name + ".pak");
      } else if (const auto removed = stage_pack_removals(target, removal_index, name); !removed.empty()) {
        const std::string shown_pack = target.base_path + ".pak";
        if (target.rebuild((target.base_path + "temp").c_str(), 1) == 1)
          for (const std::string& entry : removed) notes.removed(shown_pack + "\\" + entry);
      }
      view.set_progress_position(++position);
      target.close();
    }
    delete_loose_files(folder, folder_path, removals, notes);
  }

  payload.close();
  progress.finish(notes.problems());
  return RUN_DONE;
}
